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
// What it shows of the runtime's C++ face: zn::Runtime around main; zn::Image::load and save,
// whose results carry the image library's reason for a refusal (a zn::Error, with the system's
// errno where it gave one).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include <zn/image.h>
#include <zn/runtime.h>

namespace {

// Shows the work done as a bar on standard error, drawn over the one before it (\r, then erasing
// to the end of the line).
void ShowProgress(int percent, const char* stage) {
  const int done = percent * 30 / 100;  // of 30 marks
  std::fprintf(stderr, "\r[%.*s%.*s] %3d%% %s\x1b[K", done, "##############################",
               30 - done, "..............................", percent, stage);
}

int Usage() {
  std::fputs("usage: quantize [-c 256|16|2] [-d] INPUT OUTPUT\n", stderr);
  return 2;
}

// One line on standard error naming the file and why the library refused it; status 1.
int Failed(const char* what, const char* file, const zn::Error& error) {
  std::fprintf(stderr, "quantize: %s %s: %s", what, file, error.text());
  if (error.system_error != 0) {
    std::fprintf(stderr, " (%s)", std::strerror(error.system_error));
  }
  std::fputs("\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t depth = 8;
  zn::Dither dither = zn::Dither::None;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-d") {
      dither = zn::Dither::Diffusion;
    } else if (argument == "-c" && i + 1 < argc) {
      const std::string_view colours = argv[++i];
      depth = colours == "256" ? 8 : colours == "16" ? 4 : colours == "2" ? 1 : 0;
      if (depth == 0) {
        std::fprintf(stderr, "quantize: colours must be 256, 16 or 2, not %s\n", argv[i]);
        return 2;
      }
    } else if (argument.starts_with('-')) {
      return Usage();
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 2) {
    return Usage();
  }

  zn::Runtime runtime;
  const auto image = zn::Image::load(files[0]);
  if (!image) {
    return Failed("cannot read", files[0], image.error());
  }
  // A bar only for a person watching a terminal, and only where the wait is noticeable.
  const bool progress =
      int64_t{image->width()} * image->height() > 1000000 && isatty(STDERR_FILENO) == 1;
  if (progress) {
    ShowProgress(40, "read; reducing the colours");
  }
  const auto saved = image->save(files[1], zn::BmpFormatTag, depth, dither);
  if (progress) {
    if (saved) {
      ShowProgress(100, "written");
    }
    std::fputs("\n", stderr);  // what follows starts a line of its own
  }
  if (!saved) {
    return Failed("cannot write", files[1], saved.error());
  }
  return 0;
}
