// Exhausted memory in the string library. StringFormat reports it (0, the destination untouched);
// every other allocating operation ends the process by design: one line on standard error and a
// non-zero status, checked in a child for each request refused in turn.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

TEST(StringFormatOutOfMemory, GivesZeroAndWritesNothing) {
  TempTextReset();
  for (const int run : {0, 1, 2, 3}) {
    const bool counting = run % 2 == 0;
    const bool wide = run >= 2;  // "%ls" is filled directive by directive, in a block of its own
    test::HeapFailEachMode([&](const test::FailurePoint& at) {
      const test::LiveBlockGuard live;
      char16_t out[32];
      for (char16_t& unit : out)
        unit = u'#';
      char16_t* into = counting ? nullptr : out;
      at.Arm();
      const int32_t units = wide ? StringFormat(into, u"%ls=%d", u"key", 42)
                                 : StringFormat(into, u"%s=%d", "key", 42);
      const bool refused = test::HeapRefusals() > 0;
      test::HeapFailNever();
      if (refused) {
        EXPECT_EQ(units, 0);
        EXPECT_EQ(out[0], u'#') << "a failed format wrote at its destination";
      } else {
        EXPECT_EQ(units, 6);
      }
    });
  }
}

// The operations that end the process when memory runs out, each run against the first refused
// request (later points refuse the same kinds of requests in a longer run).
TEST(StringsOutOfMemoryDeathTest, EndsTheProcessWithOneLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    const char* name;
    std::function<void()> run;
  } cases[] = {
      {"StringAssign",
       [] {
         StringValue s = nullptr;
         StringAssign(&s, u"text");
       }},
      {"StringDuplicate",
       [] {
         StringValue s = nullptr;
         StringDuplicate(&s, u"text");
       }},
      {"TempTextTakeInto",
       [] {
         StringValue s = nullptr;
         TempTextTakeInto(&s, static_cast<int32_t>(TempTextPosition()));
       }},
      {"TempTextReserve", [] { TempTextReserve(100000, 0); }},
      {"TempTextInit", [] { TempTextInit(); }},
      {"StringToUtf8", [] { StringToUtf8(u"text"); }},
      {"StringToUtf8Flags", [] { StringToUtf8Flags(u"text", ConvertReplaceInvalid); }},
      {"StringFromUtf8Flags", [] { StringFromUtf8Flags("text", ConvertReplaceInvalid); }},
      {"StringToSingleByte", [] { StringToSingleByte(u"text"); }},
      {"StringFromUtf8", [] { StringFromUtf8("text"); }},
      {"StringFromSingleByte", [] { StringFromSingleByte("text"); }},
      {"StringUpper", [] { StringUpper(u"text"); }},
      {"StringReplace", [] { StringReplace(u"text", u"x", u"y"); }},
      {"StringTrim", [] { StringTrim(u"text"); }},
      {"StringFromUtf8Bytes", [] { StringFromUtf8Bytes("text", 4, 0, nullptr); }},
  };
  for (const auto& c : cases) {
    for (const test::HeapFailure mode :
         {test::HeapFailure::kOnce, test::HeapFailure::kFromThenOn}) {
      EXPECT_EXIT(
          {
            TempTextReset();
            test::HeapFailAfter(0, mode);
            c.run();
            test::HeapFailNever();
            std::exit(0);
          },
          testing::ExitedWithCode(EXIT_FAILURE),
          testing::MatchesRegex("[^\n]*out of memory[^\n]*\n"))
          << c.name << (mode == test::HeapFailure::kOnce ? " (once)" : " (from then on)");
    }
  }
}

}  // namespace
}  // namespace zn
