// Key input: one UTF-8 character read from standard input without waiting, handed to the caller
// as a piece of exactly one UTF-16 code unit in the TempStringBuffer. A character is never read
// past a byte that cannot belong to it, so no key is lost to a broken one.
//
// In the console mode a read returns at once, so an end of file means "no key waiting" and is
// cleared after every key, letting the next call read again. When standard input is a file or a
// pipe instead, an end of file is final; ConsoleInputEnded tells a program so, since the keys it
// reads stay empty from then on. So is a read that fails for any reason but "nothing yet".
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "runtime/console/console.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

int32_t input_ended = 0;
// Whether standard input is a terminal, asked once per start (-1: not asked yet). The game reads
// with nothing waiting ten times a second; asking each time would cost a system call a turn.
int32_t input_is_terminal = -1;

bool InputIsTerminal() {
  if (input_is_terminal < 0) {
    input_is_terminal = isatty(STDIN_FILENO) != 0 ? 1 : 0;
  }
  return input_is_terminal == 1;
}

// The follow-up bytes a lead byte announces, or -1 when it cannot start a character
// (a continuation byte 10xxxxxx, or 11111xxx).
int FollowUpBytes(int lead) {
  if (lead < 0x80) {
    return 0;
  }
  if ((lead & 0xE0) == 0xC0) {
    return 1;
  }
  if ((lead & 0xF0) == 0xE0) {
    return 2;
  }
  if ((lead & 0xF8) == 0xF0) {
    return 3;
  }
  return -1;
}

// A failed read that says "nothing yet" rather than "never": the next turn reads again.
bool ReadMayRetry(int error) {
  return error == EAGAIN || error == EINTR;  // EWOULDBLOCK is EAGAIN here
}

// getchar, noting an input that can give no more keys: the end of a file or pipe, or a read that
// failed for good (a closed descriptor, a folder, a terminal that went away).
int ReadByte() {
  errno = 0;
  const int byte = std::getchar();
  if (byte == EOF && input_ended == 0) {
    if (std::ferror(stdin) != 0) {
      if (!ReadMayRetry(errno)) {
        input_ended = 1;
      }
    } else if (std::feof(stdin) != 0 && !InputIsTerminal()) {
      input_ended = 1;
    }
  }
  return byte;
}

}  // namespace

namespace internal {

void ConsoleInputForget() {
  input_is_terminal = -1;
  input_ended = 0;
}

}  // namespace internal

void ConsoleReadKey(int32_t offset) {
  char bytes[5] = {};
  const int lead = ReadByte();
  if (lead != EOF) {
    const int follow_ups = FollowUpBytes(lead);
    if (follow_ups >= 0) {
      bytes[0] = static_cast<char>(lead);
      // A missing byte stands as 0xFF, which no UTF-8 sequence contains, and the converter takes
      // what decodes before it. A byte that cannot continue the character cuts it short the same
      // way and is left for the next call: a digit or ESC typed after a broken character is still
      // a key of its own. After a cut nothing more is read, as after an end of input.
      bool cut = false;
      for (int i = 1; i <= follow_ups; ++i) {
        int byte = cut ? EOF : ReadByte();
        if (byte != EOF && (byte & 0xC0) != 0x80) {
          std::ungetc(byte, stdin);
          byte = EOF;
        }
        cut = byte == EOF;
        bytes[i] = static_cast<char>(cut ? 0xFF : byte);
      }
    }
  }
  TempTextAppendUtf8(bytes, offset);
  // The piece is exactly one unit: the first one decoded (a surrogate pair is cut to its high
  // surrogate), or the terminator when nothing decoded.
  TempTextReserve(1, offset);
  std::clearerr(stdin);
}

int32_t ConsoleInputEnded() {
  return input_ended;
}

}  // namespace zn
