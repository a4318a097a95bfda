// quantize: reduces a BMP picture to 256, 16 or 2 colours and saves it as an indexed BMP.
//
//   quantize [-c 256|16|2] [-d] INPUT OUTPUT
//
// -c chooses the number of colours (256 by default): 256 and 16 colours come from a palette
// learned from the picture, 2 is black and white. -d dithers (error diffusion) at 256 and 16
// colours. A picture of more than a million pixels shows a progress bar on standard error when
// standard error is a terminal. Errors are one line on standard error: status 2 for wrong
// arguments, 1 for a file that cannot be read, is not a picture, or cannot be written (an existing
// OUTPUT then keeps its old bytes).
//
// What it shows of the runtime: a RuntimeGuard around main; ImageLoad and ImageSave, which go
// from a file to a numbered image and back through the codec registry; ImageLastFailure, which
// says why one of them refused; the image accessors.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/images/images.h"

namespace {

constexpr int64_t kPicture = 1;  // the number under which the picture is kept
constexpr int64_t kProgressPixels = 1000000;

// A bar of the work done, redrawn in place; shown only to a person watching a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(bool shown) : shown_(shown) {}
  ~ProgressBar() { End(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(int percent, const char* stage) {
    if (!shown_) {
      return;
    }
    constexpr int kWidth = 30;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) {
      bar[i] = i < percent * kWidth / 100 ? '#' : '.';
    }
    bar[kWidth] = 0;
    // \r and erasing to the end of the line redraw the bar where it stands.
    std::fprintf(stderr, "\r[%s] %3d%% %s\x1b[K", bar, percent, stage);
    std::fflush(stderr);
    drawn_ = true;
  }

  // Ends the bar's line, so that what follows on standard error starts a line of its own.
  void End() {
    if (drawn_) {
      std::fputs("\n", stderr);
      drawn_ = false;
    }
  }

 private:
  bool shown_;
  bool drawn_ = false;
};

int Usage() {
  std::fputs("usage: quantize [-c 256|16|2] [-d] INPUT OUTPUT\n", stderr);
  return 2;
}

// One line on standard error naming the file and why the library refused it; status 1.
int Failed(const char* what, const char* file) {
  const zn::ImageFailure failure = zn::ImageLastFailure();
  std::fprintf(stderr, "quantize: %s %s: %s", what, file, zn::ImageFailureText(failure.reason));
  if (failure.system_error != 0) {
    std::fprintf(stderr, " (%s)", std::strerror(failure.system_error));
  }
  std::fputs("\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t depth = 8;
  uint32_t flags = 0;
  const char* files[2] = {nullptr, nullptr};
  int file_count = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-d") == 0) {
      flags |= zn::DitherFlag;
    } else if (std::strcmp(argv[i], "-c") == 0) {
      if (++i == argc) {
        return Usage();
      }
      const char* colours = argv[i];
      depth = std::strcmp(colours, "256") == 0  ? 8
              : std::strcmp(colours, "16") == 0 ? 4
              : std::strcmp(colours, "2") == 0  ? 1
                                                : 0;
      if (depth == 0) {
        std::fprintf(stderr, "quantize: colours must be 256, 16 or 2, not %s\n", colours);
        return 2;
      }
    } else if (argv[i][0] == '-' || file_count == 2) {
      return Usage();
    } else {
      files[file_count++] = argv[i];
    }
  }
  if (file_count != 2) {
    return Usage();
  }
  const char* input = files[0];
  const char* output = files[1];
  // The writer's dithering works on learned palettes; black and white is a threshold.
  if (depth == 1) {
    flags &= ~zn::DitherFlag;
  }

  zn::RuntimeGuard runtime;

  if (zn::ImageLoad(kPicture, input) == nullptr) {
    return Failed("cannot read", input);
  }
  const int64_t pixels = zn::ImageWidth(kPicture) * zn::ImageHeight(kPicture);
  ProgressBar progress(pixels > kProgressPixels && isatty(STDERR_FILENO) == 1);
  progress.Show(40, "read; reducing the colours");
  if (zn::ImageSave(kPicture, output, zn::BmpFormatTag, depth, flags) != 1) {
    progress.End();
    return Failed("cannot write", output);
  }
  progress.Show(100, "written");
  return 0;
}
