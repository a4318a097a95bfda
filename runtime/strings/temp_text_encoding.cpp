// Byte text decoded into the temporary buffer, by the result-offset convention.
//
// TempTextAppendUtf8 reserves what the count found less the converted terminator, so that for
// well-formed text the decoded terminator lands on the position. When the decoder stops before the
// terminating 0 byte (a malformed lead byte, a cut-off sequence, a value above U+10FFFF) or a
// sequence swallows it, the decoded units fill the room including the place of the terminator:
// one more unit is then reserved for it. When nothing decodes at all, the result is the empty text
// at the offset. The position never ends before the offset and nothing is written outside the room
// reserved.
#include <cstdint>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {

char16_t* TempTextAppendSingleByte(const char* text, int32_t offset) {
  const int32_t length = text == nullptr ? 0 : internal::NarrowTextLength(text);
  char16_t* address = TempTextReserve(length, offset);
  internal::SingleByteWiden(reinterpret_cast<const unsigned char*>(text), length, address);
  address[length] = 0;
  return address + length;
}

void TempTextAppendUtf8(const char* text, int32_t offset) {
  if (text == nullptr) {
    text = "";
  }
  const internal::Utf8TextSize size = internal::Utf8TextMeasure(text);
  const int32_t bytes = size.bytes;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  const int32_t units = internal::Utf8TextUnits(text, size);
  if (units == 0) {
    TempTextReserve(0, offset)[0] = 0;
    return;
  }
  char16_t* address = TempTextReserve(units - 1, offset);
  const int32_t written = internal::Utf8ToUtf16(in, bytes, address, units).count;
  if (written > 0 && address[written - 1] == 0) {
    TempTextUnreserve(units - written);
    return;
  }
  if (written < units) {
    TempTextUnreserve(units - 1 - written);
    address[written] = 0;
    return;
  }
  // Every reserved unit holds text: one more unit, reserved by the rule, takes the terminator.
  char16_t* end = TempTextReserve(1, static_cast<int32_t>(TempTextPosition()));
  end[1] = 0;
}

}  // namespace zn
