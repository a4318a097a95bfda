// zn::String: what the face adds to the StringValue: ownership, conversion by length, order,
// hashing and the lazy split.
#include <gtest/gtest.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "tests/support/heap_checks.h"
#include "zn/string.h"

namespace {

TEST(String, OwnershipAcrossCopiesMovesReleaseAndAdopt) {
  zn::test::LiveBlockGuard blocks;
  zn::String a(u"first");
  zn::String b = a;  // a copy of its own
  EXPECT_NE(a.get(), b.get());
  const char16_t* block = a.get();
  zn::String c = std::move(a);  // the block moves, nothing is allocated
  EXPECT_EQ(c.get(), block);
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(a.c_str()[0], 0);
  a = c;  // assignment into a moved-from string
  zn::String& same = c;
  c = same;  // self-assignment keeps the text
  b = std::move(c);
  EXPECT_EQ(b, u"first");
  EXPECT_TRUE(c.empty());  // NOLINT(bugprone-use-after-move): the old text was freed, not swapped
  zn::StringValue raw = b.release();
  EXPECT_TRUE(b.empty());
  zn::String d = zn::String::adopt(raw);
  zn::StringAssign(d.inout(), u"replaced through the C-level");
  EXPECT_EQ(d, u"replaced through the C-level");
  std::vector<zn::String> many(100, d);  // copies, then moves as the vector grows
  many.resize(1000);
  EXPECT_EQ(many[99], d);
  EXPECT_TRUE(many[999].empty());
  EXPECT_EQ(zn::String(std::u16string_view(u"cut\0hidden", 10)), u"cut");
  EXPECT_EQ(zn::String(static_cast<const char16_t*>(nullptr)).get(), nullptr);
}

TEST(String, Utf8ByLengthWithBothPolicies) {
  zn::test::LiveBlockGuard blocks;
  // The view is taken by its length: bytes behind it are not read, and none needs a terminator.
  const std::string bytes =
      "Grüße \xF0\x90\x90\x80 A\xE2\x82"
      "CD tail";
  const std::string_view head(bytes.data(), bytes.size() - 5);
  const zn::String replaced = zn::String::from_utf8(head);
  EXPECT_EQ(replaced, u"Grüße \U00010400 A\uFFFDCD");
  EXPECT_EQ(replaced.to_utf8(),
            "Grüße \xF0\x90\x90\x80 A\xEF\xBF\xBD"
            "CD");
  // The lenient rule as the C-level has it: the unit after a cut sequence survives.
  EXPECT_EQ(zn::String::from_utf8("A\xE2\x82"
                                  "CD",
                                  zn::Invalid::Lenient),
            u"A\u0082D");
  EXPECT_TRUE(zn::String::from_utf8("").empty());
  // A lone surrogate: replaced, or where the lenient converter stops.
  const zn::String lone(
      u"a\xD800"
      u"b");
  EXPECT_EQ(lone.to_utf8(),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(lone.to_utf8(zn::Invalid::Lenient), "a");
  EXPECT_EQ(zn::String().to_utf8(), "");
  // Long texts are encoded a piece at a time: pairs and lone halves at every piece boundary give
  // the bytes of the C-level's one-shot conversion.
  for (std::u16string units : {u"", u"x", u"xy", u"xyz"}) {
    while (units.size() < 3500) {
      units += u"a\U00010400\xD800";
    }
    const zn::String text(units);
    char* reference = zn::StringToUtf8Flags(text.get(), zn::ConvertReplaceInvalid);
    EXPECT_EQ(text.to_utf8(), reference) << units.size();
    zn::NarrowTextFree(reference);
  }
}

TEST(String, OrderHashAndSearchFollowTheView) {
  // Unsigned unit order, as the view has it (the C-level StringCompare is signed).
  EXPECT_LT(zn::String(u"\u00E9"), zn::String(u"\uFF01"));
  EXPECT_GT(zn::String(u"b"), u"abc");
  EXPECT_EQ(u"same", zn::String(u"same"));
  EXPECT_EQ(std::hash<zn::String>{}(zn::String(u"key")), std::hash<std::u16string_view>{}(u"key"));
  const std::unordered_set<zn::String> set = {u"x", u"y", u"x"};
  EXPECT_EQ(set.size(), 2u);
  const zn::String text(u"abcabc");
  EXPECT_EQ(text.find(u"c"), 2);
  EXPECT_EQ(text.find(u"c", 3), 5);
  EXPECT_EQ(text.find(u"d"), -1);
  EXPECT_EQ(text.find(u"", 6), 6);
  EXPECT_EQ(text.find(u"", 7), -1);
  EXPECT_TRUE(text.starts_with(u"abc") && text.ends_with(u"bc") && text.contains(u"ca"));
  // The case, trim and replace operations hand over a new string and leave the source alone.
  const zn::String mixed(u" Straße İ ");
  EXPECT_EQ(mixed.upper().trim(), u"STRASSE İ");
  EXPECT_EQ(mixed.fold().trim().replace(u"ss", u"s"), u"strase i̇");
  EXPECT_EQ(mixed, u" Straße İ ");
}

TEST(String, SplitIsLazyAndKeepsATemporary) {
  zn::test::LiveBlockGuard blocks;
  const struct {
    const char16_t* text;
    const char16_t* separator;
    std::vector<std::u16string> fields;
  } cases[] = {
      {u"a,,b", u",", {u"a", u"", u"b"}}, {u"", u",", {u""}},
      {u",", u",", {u"", u""}},           {u"a--b--", u"--", {u"a", u"b", u""}},
      {u"whole", u"", {u"whole"}},        {u"x\U00010400y", u"\U00010400", {u"x", u"y"}},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> fields;
    const zn::String text(c.text);
    for (std::u16string_view field : text.split(c.separator)) {
      fields.emplace_back(field);
    }
    EXPECT_EQ(fields, c.fields) << zn::String(c.text).to_utf8();
  }
  // A temporary moves into the range, so its fields stay valid for the loop.
  std::vector<std::u16string> fields;
  for (std::u16string_view field : zn::String(u"1 2 3").split(u" ")) {
    fields.emplace_back(field);
  }
  EXPECT_EQ(fields, (std::vector<std::u16string>{u"1", u"2", u"3"}));
}

}  // namespace
