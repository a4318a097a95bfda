// zn::Image and zn::Result: the reasons loads, saves and reductions give; rows and reductions
// against the writer's indexed files and the black-and-white threshold; images and results that
// move, assign and release without a leak or a double free.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "tests/support/heap_checks.h"
#include "zn/image.h"
#include "zn/runtime.h"
#include "zn/string.h"

namespace {

// Each test runs inside the runtime, in a folder of its own, and gives back every block.
class FaceImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runtime_.emplace();
    // The blocks the library makes on first use and keeps: a pool chunk, the decode state.
    (void)zn::Image::create(1, 1);
    (void)zn::ImageDecodeWidth();
  }
  static void TearDownTestSuite() { runtime_.reset(); }
  void SetUp() override { ASSERT_NE(mkdtemp(folder_.data()), nullptr); }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Path(const char* name) const { return folder_ + "/" + name; }

  static inline std::optional<zn::Runtime> runtime_;
  std::string folder_ = testing::TempDir() + "face_image_XXXXXX";
  zn::test::LiveBlockGuard blocks_;
};

TEST_F(FaceImage, FailuresCarryTheirReason) {
  std::ofstream(Path("words.bmp")) << "no picture here";
  auto picture = zn::Image::create(5, 3);
  ASSERT_TRUE(picture && picture->save(Path("picture.bmp")));
  const int64_t budget = zn::ImagePixelBudgetSet(14);  // one pixel short
  const zn::Error over_budget = zn::Image::load(Path("picture.bmp")).error();
  zn::ImagePixelBudgetSet(budget);
  using R = zn::Reason;
  const struct {
    const char* what;
    zn::Error got, expected;
  } cases[] = {
      {"missing", zn::Image::load(Path("missing.bmp")).error(), {R::MissingFile, ENOENT}},
      {"not a picture", zn::Image::load(Path("words.bmp")).error(), {R::NotAPicture, 0}},
      {"over budget", over_budget, {R::OverBudget, 0}},
      {"side 0", zn::Image::create(0, 5).error(), {R::TooLarge, 0}},
      {"save no image", zn::Image().save(Path("none.bmp")).error(), {R::NoSuchImage, 0}},
      {"save in no folder", picture->save(Path("no/x.bmp")).error(), {R::MissingFile, ENOENT}},
      {"reduce to 3", picture->reduce(3).error(), {R::BadArgument, 0}},
      {"reduce no image", zn::Image().reduce(2).error(), {R::NoSuchImage, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.reason, c.expected.reason) << c.what << ": " << c.got.text();
    EXPECT_EQ(c.got.system_error, c.expected.system_error) << c.what;
  }
  auto missing = zn::Image::load(Path("missing.bmp"));
  EXPECT_THROW((void)missing.value(), zn::BadResult);
  EXPECT_EQ(std::move(missing).value_or(zn::Image()).id(), 0);
  EXPECT_THROW(zn::Image().save(Path("none.bmp")).value(), zn::BadResult);
  // A Result made from "no failure" still fails.
  EXPECT_EQ(zn::Result<int>(zn::Error{}).error().reason, R::BadArgument);
  EXPECT_FALSE(zn::Result<void>(zn::Error{}));
}

TEST_F(FaceImage, RowsAndReductionsMatchTheWritersFiles) {
  constexpr int32_t kWidth = 37, kHeight = 5;  // rows that end inside a byte at 1 and 4 bits
  auto picture = zn::Image::create(kWidth, kHeight);
  ASSERT_TRUE(picture);
  int y = 0;
  for (std::span<zn::Pixel> row : picture->rows()) {
    for (std::size_t x = 0; x < row.size(); ++x) {
      row[x] = zn::Pixel{uint8_t(x * 7), uint8_t(y * 60), uint8_t(255 - x * 5), 255};
    }
    ++y;
  }
  for (const int32_t depth : {1, 4, 8}) {
    const auto indexed = picture->reduce(1 << depth);
    ASSERT_TRUE(indexed && picture->save(Path("indexed.bmp"), zn::BmpFormatTag, depth));
    std::ifstream in(Path("indexed.bmp"), std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    const std::size_t palette = 14 + file[14], pixels = file[10] | file[11] << 8;
    const std::size_t stride = (kWidth * depth + 31) / 32 * 4;
    ASSERT_EQ(indexed->palette.size(), std::size_t{1} << depth);
    ASSERT_GE(file.size(), pixels + stride * kHeight);
    for (std::size_t i = 0; i < indexed->palette.size(); ++i) {
      const zn::Pixel p = indexed->palette[i];
      const uint8_t* bgr = &file[palette + 4 * i];  // black and white are opaque colours too
      EXPECT_TRUE(p.red == bgr[2] && p.green == bgr[1] && p.blue == bgr[0] &&
                  (depth > 1 || p.alpha == 255))
          << depth << " bits, colour " << i;
    }
    for (y = 0; y < kHeight; ++y) {
      const uint8_t* row = &file[pixels + stride * (kHeight - 1 - y)];
      for (int32_t x = 0; x < kWidth; ++x) {
        const int bit = x * depth,
                  index = row[bit / 8] >> (8 - depth - bit % 8) & ((1 << depth) - 1);
        ASSERT_EQ(indexed->row(y)[x], index) << depth << " bits, pixel " << x << "," << y;
        // The rows were written where they belong: black and white follows the brightness.
        const double luma = 0.2126 * (x * 7) + 0.7152 * (y * 60) + 0.0722 * (255 - x * 5);
        EXPECT_TRUE(depth > 1 || index == (luma > 160.0)) << x << "," << y;
      }
    }
    EXPECT_TRUE(indexed->row(kHeight).empty() && indexed->row(-1).empty());
  }
}

// Moves that throw once `refuse` is set.
struct Refusing {
  static inline bool refuse = false;
  explicit Refusing(std::string t) : text(std::move(t)) {}
  Refusing(Refusing&& other) : text(other.text) {
    if (refuse) {
      throw 0;
    }
  }
  Refusing& operator=(Refusing&&) = default;
  std::string text;
};

TEST_F(FaceImage, ImagesAndResultsMoveAssignAndRelease) {
  zn::Image a = zn::Image::create(2, 2).value();
  zn::Image b = zn::Image::create(3, 3).value();
  const int64_t first = a.id(), second = b.id();
  a = std::move(b);
  EXPECT_EQ(zn::ImageWidth(first), 0) << "the image a held is freed at once, not handed to b";
  EXPECT_EQ(a.id(), second);
  EXPECT_TRUE(b.id() == 0 && b.width() == 0 && b.rows().begin() == b.rows().end());  // NOLINT
  zn::Image& same = a;
  a = std::move(same);
  const int64_t released = a.release();
  EXPECT_EQ(a.id(), 0);
  EXPECT_EQ(zn::ImageWidth(released), 3);
  zn::ImageFree(released);
  zn::Result<zn::Image> image = zn::Image::create(4, 4);
  const zn::Result<zn::Image> moved = std::move(image);  // the moved-from one holds no image
  EXPECT_TRUE(moved->width() == 4 && image->id() == 0);  // NOLINT(bugprone-use-after-move)
  // Every pair of states, copied and moved; the fixture counts the blocks, ASan the frees.
  using Text = zn::Result<zn::String>;
  const Text value(zn::String(u"value")), failed(zn::Error{zn::Reason::ReadError, 5});
  Text text = value;
  text = Text(zn::String(u"other"));
  text = failed;
  EXPECT_EQ(text.error().system_error, 5);
  text = value;
  Text& self = text;
  text = self;
  text = std::move(self);
  EXPECT_EQ(text.value(), u"value");
  EXPECT_EQ(Text(failed).value_or(u"fallback"), u"fallback");
  // A value whose move throws onto a reason: the reason stays.
  zn::Result<Refusing> refusing(zn::Error{zn::Reason::ReadError, 0});
  zn::Result<Refusing> full(Refusing("a text long enough for a heap block of its own"));
  Refusing::refuse = true;
  EXPECT_THROW(refusing = std::move(full), int);
  Refusing::refuse = false;
  EXPECT_EQ(refusing.error().reason, zn::Reason::ReadError);
}

}  // namespace
