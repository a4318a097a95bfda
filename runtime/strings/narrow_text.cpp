// Byte texts for output and strings from byte texts: the heap operations on top of the converters.
//
// Each measures first and allocates once. Exhausted memory ends the process, like every other
// string allocation: an empty text handed back instead would print nothing and look like success.
// StringFormat alone reports it (through NarrowTextMake), as its contract says.
//
// A decoded string always ends in a 0 unit, even when the UTF-8 is malformed: the decoder may stop
// before the terminating 0 byte, or a sequence may swallow it ("C3" alone), so the block has one
// unit more than the count and the terminator is written behind what was decoded.
#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"
#include "runtime/strings/utf8_blocks.h"

namespace zn {
namespace {

constexpr size_t kLongTextBytes = 256;

}  // namespace

namespace internal {

int32_t NarrowTextLength(const char* text) {
  const size_t bytes = std::strlen(text);
  if (bytes >= INT32_MAX) {
    FatalExit("text too long");
  }
  return static_cast<int32_t>(bytes);
}

Utf8TextSize Utf8TextMeasure(const char* text) {
  // A long text's ASCII front is measured in one pass with its units (one per byte); the rest is
  // measured, then counted from the first other byte on, where a character starts. A short text
  // is over before that pass would pay.
  const size_t head = strnlen(text, kLongTextBytes);
  if (head < kLongTextBytes) {
    return {static_cast<int32_t>(head) + 1, 0};
  }
  const int64_t ascii = Utf8BlocksAsciiRun(text);
  const size_t length = static_cast<size_t>(ascii) + std::strlen(text + ascii);
  if (length >= INT32_MAX) {
    FatalExit("text too long");
  }
  return {static_cast<int32_t>(length) + 1, static_cast<int32_t>(ascii)};
}

int32_t Utf8TextUnits(const char* text, Utf8TextSize size) {
  const auto* in = reinterpret_cast<const unsigned char*>(text) + size.ascii;
  return size.ascii + Utf8ToUtf16(in, size.bytes - size.ascii, nullptr, 0).count;
}

}  // namespace internal

namespace {

constexpr int32_t kShortTextBytes = 256;
constexpr int32_t kShortTextUnits = 128;

// The string's units with its terminator, as a converter's source length.
int32_t UnitsWithTerminator(const char16_t* s) {
  const int64_t units = StringCountUnits(s);
  if (units >= INT32_MAX) {
    FatalExit("string too long");
  }
  return static_cast<int32_t>(units + 1);
}

char* EmptyNarrowText() {
  char* text = static_cast<char*>(MemoryAlloc(1));
  if (text != nullptr) {
    text[0] = 0;
  }
  return text;
}

char* Narrow(int32_t code_page, const char16_t* s) {
  char* text = internal::NarrowTextMake(code_page, s);
  if (text == nullptr) {
    FatalExit("out of memory (strings)");
  }
  return text;
}

// A text measured first, then converted into a block of its size. The UTF-8 size and the length
// come from one pass where the wide steps run; a size past a signed 32-bit count is limited as
// the count limits it.
__attribute__((noinline)) char* NarrowTextMakeLong(int32_t code_page, const char16_t* s) {
  int32_t units = 0;
  int32_t bytes = 0;
  internal::Utf16Measure measure{};
  if (code_page == CodePageUtf8 && internal::Utf8BlocksMeasure(s, &measure)) {
    if (measure.units > INT32_MAX) {
      FatalExit("string too long");
    }
    units = static_cast<int32_t>(measure.units);
    bytes = measure.bytes <= INT32_MAX ? static_cast<int32_t>(measure.bytes)
                                       : Utf16ToMultiByte(code_page, 0, s, units, nullptr, 0);
  } else {
    units = UnitsWithTerminator(s);
    bytes = Utf16ToMultiByte(code_page, 0, s, units, nullptr, 0);
  }
  if (bytes == 0) {
    return EmptyNarrowText();
  }
  auto* text = static_cast<char*>(MemoryAlloc(static_cast<uint64_t>(bytes) + 1));
  if (text == nullptr) {
    return nullptr;
  }
  const int32_t written = Utf16ToMultiByte(code_page, 0, s, units, text, bytes);
  text[written] = 0;
  return text;
}

}  // namespace

namespace internal {

char* NarrowTextMake(int32_t code_page, const char16_t* s) {
  if (s == nullptr) {
    return EmptyNarrowText();
  }
  // Short texts (most of what a program prints) are converted once, into a buffer on the stack,
  // then copied into a block of the exact size: one pass instead of three (units, bytes, bytes
  // again). Longer ones are measured, then converted, many units a step.
  if (code_page == CodePageUtf8) {
    char buffer[kShortTextBytes];
    const int32_t bytes = Utf16ToUtf8Terminated(s, buffer, kShortTextBytes);
    if (bytes >= 0) {
      auto* text = static_cast<char*>(MemoryAlloc(static_cast<uint64_t>(bytes) + 1));
      if (text == nullptr) {
        return nullptr;
      }
      std::memcpy(text, buffer, static_cast<size_t>(bytes));
      text[bytes] = 0;
      return text;
    }
  }
  return NarrowTextMakeLong(code_page, s);
}

}  // namespace internal

char* StringToSingleByte(const char16_t* s) {
  return Narrow(CodePageSingleByte, s);
}

char* StringToUtf8(const char16_t* s) {
  return Narrow(CodePageUtf8, s);
}

void NarrowTextFree(char* text) {
  MemoryRelease(text);
}

StringValue StringFromSingleByte(const char* text) {
  const int32_t length = text == nullptr ? 0 : internal::NarrowTextLength(text);
  auto* s =
      static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(length, 1)));
  internal::SingleByteWiden(reinterpret_cast<const unsigned char*>(text), length, s);
  s[length] = 0;
  return s;
}

StringValue StringFromUtf8(const char* text) {
  if (text == nullptr) {
    text = "";
  }
  const internal::Utf8TextSize size = internal::Utf8TextMeasure(text);
  const int32_t bytes = size.bytes;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  // A short text is decoded once, into a buffer on the stack, then copied. Decoding stops at the
  // same places whatever room it has, except when the room runs out, which a buffer two units
  // larger than the bytes (each unit takes at least one byte) never does: so the units are those
  // a count and a conversion would give.
  if (bytes + 2 <= kShortTextUnits) {
    char16_t buffer[kShortTextUnits];
    const int32_t units = internal::Utf8ToUtf16(in, bytes, buffer, kShortTextUnits).count;
    auto* s =
        static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(units, 1)));
    std::memcpy(s, buffer, static_cast<size_t>(units) * sizeof(char16_t));
    if (units == 0 || s[units - 1] != 0) {
      s[units] = 0;
    }
    return s;
  }
  const int32_t units = internal::Utf8TextUnits(text, size);
  auto* s = static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(units, 1)));
  const int32_t written = internal::Utf8ToUtf16(in, bytes, s, units).count;
  if (written == 0 || s[written - 1] != 0) {
    s[written] = 0;
  }
  return s;
}

}  // namespace zn
