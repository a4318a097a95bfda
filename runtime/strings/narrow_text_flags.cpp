// StringToUtf8 and StringFromUtf8 with a flags argument, for callers that ask for the converters'
// replacing mode. Without flags they are the plain operations, so the default paths stay one.
// StringFromUtf8Bytes decodes a counted text in one call: a 0 byte inside the count is a character
// like any other, and the count of units decoded goes back to the caller.
#include <cstdint>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {

char* StringToUtf8Flags(const char16_t* s, uint32_t flags) {
  if ((flags & ConvertReplaceInvalid) == 0 || s == nullptr) {
    return StringToUtf8(s);
  }
  const int64_t length = StringCountUnits(s);
  if (length >= INT32_MAX) {
    FatalExit("string too long");
  }
  const auto units = static_cast<int32_t>(length + 1);
  const int32_t bytes = Utf16ToMultiByte(CodePageUtf8, flags, s, units, nullptr, 0);
  // Through the memory layer, as every string block, so that NarrowTextFree gives it back there;
  // exhausted memory ends the process, as StringToUtf8's does.
  auto* text = static_cast<char*>(MemoryAlloc(static_cast<uint64_t>(bytes) + 1));
  if (text == nullptr) {
    FatalExit("out of memory (strings)");
  }
  const int32_t written = Utf16ToMultiByte(CodePageUtf8, flags, s, units, text, bytes);
  text[written] = 0;
  return text;
}

StringValue StringFromUtf8Flags(const char* text, uint32_t flags) {
  if ((flags & ConvertReplaceInvalid) == 0) {
    return StringFromUtf8(text);
  }
  if (text == nullptr) {
    text = "";
  }
  const int32_t bytes = internal::NarrowTextLength(text) + 1;
  const int32_t units = MultiByteToUtf16(CodePageUtf8, flags, text, bytes, nullptr, 0);
  auto* s = static_cast<char16_t*>(internal::StringHeapAlloc(internal::StringBlockBytes(units, 1)));
  // The terminating 0 byte is always decoded (as itself) in this mode: nothing stops early.
  const int32_t written = MultiByteToUtf16(CodePageUtf8, flags, text, bytes, s, units);
  s[written] = 0;
  return s;
}

StringValue StringFromUtf8Bytes(const char* source, int32_t length, uint32_t flags,
                                int32_t* units) {
  if (units != nullptr) {
    *units = 0;
  }
  if (length < -1) {
    return nullptr;
  }
  if (source == nullptr) {
    length = 0;
  } else if (length == -1) {
    length = internal::NarrowTextLength(source);
  }
  const auto* in = reinterpret_cast<const unsigned char*>(source);
  const bool replacing = (flags & ConvertReplaceInvalid) != 0;
  // Each byte gives one unit at most, so the count always fits; the conversion is told exactly
  // the room it counted, since its block steps may write anywhere inside the room they are given.
  const int32_t counted = length == 0 ? 0
                          : replacing ? internal::Utf8ToUtf16Replacing(in, length, nullptr, 0)
                                      : internal::Utf8ToUtf16(in, length, nullptr, 0).count;
  char16_t* s = internal::StringBlockFor(counted);
  const int32_t written = counted == 0 ? 0
                          : replacing  ? internal::Utf8ToUtf16Replacing(in, length, s, counted)
                                       : internal::Utf8ToUtf16(in, length, s, counted).count;
  s[written] = 0;
  if (units != nullptr) {
    *units = written;
  }
  return s;
}

}  // namespace zn
