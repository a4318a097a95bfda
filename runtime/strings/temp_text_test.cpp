// Tests of string values and the TempStringBuffer: exact allocation sizes, the reservation rule,
// the position stack and the string-building convention.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

namespace zn {
namespace {

class TempText : public ::testing::Test {
 protected:
  void SetUp() override { TempTextReset(); }
};

std::u16string Text(const char16_t* s) {
  return s == nullptr ? u"" : std::u16string(s);
}

TEST(StringAssign, NullFreesAndReturnsTwo) {
  StringValue v = nullptr;
  EXPECT_EQ(StringAssign(&v, nullptr), 2);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(StringAssign(&v, u"abc"), 8);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(StringAssign(&v, nullptr), 2);
  EXPECT_EQ(v, nullptr);
}

TEST(StringAssign, EmptyLiteralLeavesFiveUnitBlock) {
  StringValue v = nullptr;
  EXPECT_EQ(StringAssign(&v, u""), 2);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v[0], 0);
  EXPECT_GE(malloc_usable_size(v), 10u);
  StringRelease(v);
}

TEST(StringAssign, OddLengthCopiedExactly) {
  StringValue v = nullptr;
  StringAssign(&v, u"xyzzy-long-text");
  EXPECT_EQ(StringAssign(&v, u"abc"), 8);
  EXPECT_EQ(v[3], 0);
  EXPECT_EQ(Text(v), u"abc");
  StringRelease(v);
}

TEST(StringAssign, OwnValueAndOwnSuffixAreSafe) {
  StringValue v = nullptr;
  StringAssign(&v, u"hello world");
  EXPECT_EQ(StringAssign(&v, v), 24);
  EXPECT_EQ(Text(v), u"hello world");
  EXPECT_EQ(StringAssign(&v, v + 6), 12);
  EXPECT_EQ(Text(v), u"world");
  StringRelease(v);
}

TEST(StringDuplicate, CopiesWithoutFreeingAndNullLeavesVariable) {
  StringValue original = nullptr;
  StringAssign(&original, u"param");
  StringValue parameter = original;
  StringDuplicate(&parameter, parameter);
  EXPECT_NE(parameter, original);
  EXPECT_EQ(Text(parameter), u"param");
  EXPECT_EQ(Text(original), u"param");
  StringValue untouched = original;
  StringDuplicate(&untouched, nullptr);
  EXPECT_EQ(untouched, original);
  StringRelease(parameter);
  StringRelease(original);
  StringRelease(nullptr);
}

TEST_F(TempText, FreshBufferReservationNumbers) {
  EXPECT_EQ(TempTextCapacity(), 16);
  EXPECT_EQ(TempTextBlockBytes(), 16);
  TempTextReserve(5, 0);
  EXPECT_EQ(TempTextCapacity(), 16) << "need 10 stays below 16 - 4";
  EXPECT_EQ(TempTextPosition(), 10);
  TempTextCut(0);
  TempTextReserve(6, 0);
  EXPECT_EQ(TempTextCapacity(), 16396);
  EXPECT_EQ(TempTextBlockBytes(), 16406);
  EXPECT_EQ(TempTextPosition(), 12);
}

TEST_F(TempText, ShrinksBackAboveOneMebibyteOnly) {
  TempTextReserve(1'000'000 - 8192, 0);  // need 1,983,616 bytes
  TempTextCut(0);
  EXPECT_EQ(TempTextCapacity(), 2'000'000);
  TempTextReserve(250'000, 0);  // need 500,000
  EXPECT_EQ(TempTextCapacity(), 1'048'576);
  EXPECT_EQ(TempTextBlockBytes(), 1'048'586);
  TempTextCut(0);
  TempTextReserve(250'000, 0);
  EXPECT_EQ(TempTextCapacity(), 1'048'576) << "no shrink at or below 1 MiB";
  TempTextCut(0);
  TempTextReserve(750'000 - 8192, 0);  // grow to 1,500,000 - 16384 + 16384
  TempTextCut(0);
  EXPECT_EQ(TempTextCapacity(), 1'500'000);
  TempTextReserve(600'000, 0);  // need 1,200,000 >= 1 MiB: capacity follows the need
  EXPECT_EQ(TempTextCapacity(), 1'200'000);
}

TEST_F(TempText, AppendNullWritesTerminatorOnly) {
  TempTextAppend(u"ab");
  const int64_t p = TempTextPosition();
  EXPECT_EQ(p, 4);
  TempTextAppend(nullptr);
  EXPECT_EQ(TempTextPosition(), p);
  EXPECT_EQ(TempTextAddress(static_cast<int32_t>(p))[0], 0);
}

TEST_F(TempText, AppendFromInsideTheBufferSurvivesAMove) {
  TempTextAppend(u"abc");
  // The second append reserves past the first block and so moves it.
  TempTextAppend(TempTextAddress(0));
  EXPECT_EQ(Text(TempTextAddress(0)), u"abcabc");
}

TEST_F(TempText, AppendOfReleasedTextAboveThePositionSurvivesAMove) {
  // Text left above the position, ending at the last usable byte; appending it from just below
  // its start needs the whole room and so moves the block.
  TempTextReserve(9000, 0);
  const int64_t capacity = TempTextCapacity();
  constexpr int32_t kStart = 8000;
  const auto units = static_cast<int32_t>((capacity - kStart) / 2);
  char16_t* text = TempTextAddress(kStart);
  for (int32_t i = 0; i < units; ++i)
    text[i] = static_cast<char16_t>(u'a' + i % 26);
  text[units] = 0;
  const std::u16string expected(text);
  TempTextCut(kStart - 2);
  ASSERT_EQ(TempTextOffsetOf(TempTextAddress(kStart)), 0) << "the text lies above the position";
  TempTextAppend(TempTextAddress(kStart));
  EXPECT_GT(TempTextCapacity(), capacity) << "the append must have grown the block";
  EXPECT_EQ(TempTextPosition(), kStart - 2 + 2 * static_cast<int64_t>(units));
  EXPECT_EQ(Text(TempTextAddress(kStart - 2)), expected);
}

TEST_F(TempText, OffsetOfBaseAndPosition) {
  TempTextAppend(u"hello");
  const char16_t* base = TempTextAddress(0);
  EXPECT_EQ(TempTextOffsetOf(base), 1);
  EXPECT_EQ(TempTextOffsetOf(base + 5), 11) << "base + position gives position + 1";
  EXPECT_EQ(TempTextOffsetOf(base + 6), 0);
  EXPECT_EQ(TempTextOffsetOf(base - 1), 0);
  EXPECT_EQ(TempTextOffsetOf(nullptr), 0);
}

TEST_F(TempText, TakeIntoAtThePositionStoresEmptyString) {
  TempTextAppend(u"abc");
  StringValue v = nullptr;
  TempTextTakeInto(&v, 6);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(TempTextPosition(), 6);
  TempTextTakeInto(&v, 2);
  EXPECT_EQ(Text(v), u"bc");
  EXPECT_EQ(TempTextPosition(), 2);
  StringRelease(v);
}

TEST_F(TempText, BalancedExpressionRestoresPositionAndStack) {
  TempTextAppend(u"keep");
  const int64_t position = TempTextPosition();
  const int32_t depth = TempTextStackDepth();
  TempTextPush();
  TempTextPush();
  TempTextAppend(u"Current score: ");
  TempTextPush();
  TempTextPush();
  const int32_t result_offset = TempTextPop();  // a producer writes its result here
  StringCopyUnits(TempTextReserve(2, result_offset), u"10", 2);
  TempTextPop();
  TempTextAppend(u" vs. ");
  EXPECT_EQ(Text(TempTextPopPiece()), u"Current score: 10 vs. ");
  TempTextPopRewind();
  EXPECT_EQ(TempTextPosition(), position);
  EXPECT_EQ(TempTextStackDepth(), depth);
}

TEST_F(TempText, ScopeRewindsOnEveryPath) {
  const int64_t position = TempTextPosition();
  {
    TempTextScope scope;
    TempTextAppend(u"scratch");
    EXPECT_EQ(scope.Start(), position);
    EXPECT_EQ(TempTextStackDepth(), 1);
  }
  EXPECT_EQ(TempTextPosition(), position);
  EXPECT_EQ(TempTextStackDepth(), 0);
}

TEST_F(TempText, PopVariants) {
  TempTextAppend(u"ab");
  TempTextPush();
  TempTextAppend(u"cd");
  EXPECT_EQ(TempTextPeek(), 4);
  EXPECT_EQ(Text(TempTextPopRewindAddress()), u"cd");
  EXPECT_EQ(TempTextPosition(), 4);
  EXPECT_EQ(TempTextStackDepth(), 0);
}

TEST_F(TempText, UnreserveMovesPositionBack) {
  TempTextReserve(10, 0);
  TempTextUnreserve(4);
  EXPECT_EQ(TempTextPosition(), 12);
}

using TempTextDeathTest = TempText;

TEST_F(TempTextDeathTest, StackOverflowAndUnderflowEndTheProcess) {
  EXPECT_EXIT(
      {
        for (int i = 0; i <= kPositionStackEntries; ++i)
          TempTextPush();
      },
      ::testing::ExitedWithCode(EXIT_FAILURE), "temporary text stack overflow");
  EXPECT_EXIT(TempTextPop(), ::testing::ExitedWithCode(EXIT_FAILURE),
              "temporary text stack underflow");
  for (int i = 0; i < kPositionStackEntries; ++i)
    TempTextPush();
  EXPECT_EQ(TempTextStackDepth(), kPositionStackEntries) << "100 entries are allowed";
  for (int i = 0; i < kPositionStackEntries; ++i)
    TempTextPop();
}

}  // namespace
}  // namespace zn
