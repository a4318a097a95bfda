// The two public converters: code page dispatch, the meaning of their lengths, and the choice
// between the default rules and the replacing mode that ConvertReplaceInvalid asks for.
//
// A source length of -1 stands for "up to and including the terminator"; any other negative
// length, a null source, or a non-positive destination length when converting gives 0 and
// writes nothing, since no count of units can be negative. A measured text too long for a
// signed 32-bit length with its terminator is refused the same way.
#include <cstdint>
#include <cstring>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

// The source length to work with, or 0 when there is nothing to convert.
int32_t ResolveUnits(const char16_t* source, int32_t source_length) {
  if (source == nullptr) {
    return 0;
  }
  if (source_length != -1) {
    return source_length > 0 ? source_length : 0;
  }
  const int64_t units = StringCountUnits(source);
  return units < INT32_MAX ? static_cast<int32_t>(units + 1) : 0;
}

int32_t ResolveBytes(const char* source, int32_t source_length) {
  if (source == nullptr) {
    return 0;
  }
  if (source_length != -1) {
    return source_length > 0 ? source_length : 0;
  }
  const size_t bytes = std::strlen(source);
  return bytes < INT32_MAX ? static_cast<int32_t>(bytes + 1) : 0;
}

}  // namespace

int32_t Utf16ToMultiByte(int32_t code_page, uint32_t flags, const char16_t* source,
                         int32_t source_length, char* destination, int32_t destination_length) {
  if (code_page != CodePageSingleByte && code_page != CodePageUtf8) {
    return 0;
  }
  const int32_t units = ResolveUnits(source, source_length);
  if (units == 0 || (destination != nullptr && destination_length <= 0)) {
    return 0;
  }
  if (code_page == CodePageSingleByte) {
    return internal::Utf16ToSingleByte(source, units, destination, destination_length);
  }
  if ((flags & ConvertReplaceInvalid) != 0) {
    return internal::Utf16ToUtf8Replacing(source, units, destination, destination_length);
  }
  const internal::Converted converted =
      internal::Utf16ToUtf8(source, units, destination, destination_length);
  return converted.faulted ? 0 : converted.count;
}

int32_t MultiByteToUtf16(int32_t code_page, uint32_t flags, const char* source,
                         int32_t source_length, char16_t* destination, int32_t destination_length) {
  if (code_page != CodePageSingleByte && code_page != CodePageUtf8) {
    return 0;
  }
  const int32_t bytes = ResolveBytes(source, source_length);
  if (bytes == 0 || (destination != nullptr && destination_length <= 0)) {
    return 0;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  if (code_page == CodePageSingleByte) {
    if (destination == nullptr) {
      return bytes;
    }
    const int32_t count = bytes < destination_length ? bytes : destination_length;
    internal::SingleByteWiden(in, count, destination);
    return count;
  }
  if ((flags & ConvertReplaceInvalid) != 0) {
    return internal::Utf8ToUtf16Replacing(in, bytes, destination, destination_length);
  }
  const internal::Converted converted =
      internal::Utf8ToUtf16(in, bytes, destination, destination_length);
  return converted.faulted ? 0 : converted.count;
}

}  // namespace zn
