// Internal to the string library: heap calls that end the process when memory is exhausted, the
// converters' cores (shared by the public converters and the operations built on them) and a few
// helpers on the temporary buffer. Not installed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace zn::internal {

// Plain heap blocks for string values and byte texts; never null (FatalExit instead).
void* StringHeapAlloc(size_t bytes);
void* StringHeapResize(void* block, size_t bytes);

// The byte text of `s` in `code_page` (null: the empty text) as a new heap block, or null when
// the heap refuses; for the callers that report exhausted memory instead of ending the process.
char* NarrowTextMake(int32_t code_page, const char16_t* s);

// (units + margin_units) * 2 bytes, or FatalExit when that cannot be a heap request.
size_t StringBlockBytes(int64_t units, int64_t margin_units);

// ---------------------------------------------------------------------------------------------
// Converter cores. Lengths are already resolved (never -1) and positive; a null destination
// means counting. They never read or write outside the given lengths.

// What a conversion produced: units or bytes written (or counted), and whether it stopped on a
// fault that the public converters report as 0 (a malformed lead byte, a broken surrogate pair).
struct Converted {
  int32_t count;
  bool faulted;
};

// UTF-8 bytes to UTF-16 units by the decoding rules of the library.
Converted Utf8ToUtf16(const unsigned char* source, int32_t source_length, char16_t* destination,
                      int32_t destination_length);

// UTF-16 units to UTF-8 bytes. Only whole characters are written; counting stops where the count
// would no longer fit a signed 32-bit value.
Converted Utf16ToUtf8(const char16_t* source, int32_t source_length, char* destination,
                      int32_t destination_length);

// A terminated string's UTF-8 in one pass, as counting and then converting it with its
// terminator would give (the terminator's 0 byte included, or up to a high surrogate that no low
// one follows), into `buffer`; the bytes written, or -1 when `capacity` bytes might not hold it.
int32_t Utf16ToUtf8Terminated(const char16_t* s, char* buffer, int32_t capacity);

// The replacing mode of the UTF-8 converters (ConvertReplaceInvalid): each maximal ill-formed
// subpart of UTF-8 becomes one U+FFFD, each lone surrogate EF BF BD. They stop only at a full
// destination, before the first character that does not fit whole; the result is the count.
int32_t Utf8ToUtf16Replacing(const unsigned char* source, int32_t source_length,
                             char16_t* destination, int32_t destination_length);
int32_t Utf16ToUtf8Replacing(const char16_t* source, int32_t source_length, char* destination,
                             int32_t destination_length);

// UTF-16 units to single bytes: units below 256 are kept, the others dropped.
int32_t Utf16ToSingleByte(const char16_t* source, int32_t source_length, char* destination,
                          int32_t destination_length);

// Widens `count` bytes to units.
void SingleByteWiden(const unsigned char* source, int32_t count, char16_t* destination);

// The bytes before the 0 byte of a byte text, or FatalExit when the text is too long for the
// library's signed 32-bit lengths with its terminator counted.
int32_t NarrowTextLength(const char* text);

// A terminated UTF-8 text's bytes with the terminator, and how many bytes at its front are ASCII;
// FatalExit when the text is too long for the library's signed 32-bit lengths.
struct Utf8TextSize {
  int32_t bytes;
  int32_t ascii;
};
Utf8TextSize Utf8TextMeasure(const char* text);

// The units a count of the whole measured text gives (the terminator included).
int32_t Utf8TextUnits(const char* text, Utf8TextSize size);

// ---------------------------------------------------------------------------------------------
// The temporary buffer seen from the operations that may read from it while they reserve in it.

// (address - base) + 1 when the address lies anywhere in the buffer's block (not only below the
// position), else 0. Such a source moves when a reservation resizes the block.
int64_t TempTextBlockOffsetOf(const void* address);

}  // namespace zn::internal

namespace zn::internal {

// The halves of a UTF-16 surrogate pair.
inline bool UnitIsHighHalf(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool UnitIsLowHalf(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The length of a string made by this library's operations as a signed 32-bit count, or
// FatalExit when it cannot be one ("string too long").
int32_t StringLengthChecked(int64_t units);

// A new string block for `units` units, a terminator and one spare unit; never null.
char16_t* StringBlockFor(int64_t units);

// ---------------------------------------------------------------------------------------------
// Formats that StringFormat takes directive by directive (format_directives.cpp).

// What the directives of a UTF-8 format ask for: a UTF-16 string ("%ls", which vsnprintf cannot
// take), or something refused ("%n" anywhere; in a format with "%ls", a numbered argument or a
// conversion that is cut off or unknown).
struct FormatScan {
  bool wide;
  bool refused;
};
FormatScan FormatScanDirectives(const char* format);

// The format filled with the values as a new block of the memory layer, its `*length` bytes and a
// 0 byte; null when memory is exhausted, the text would pass a signed 32-bit length or the C
// library refuses a value.
char* FormatPieces(const char* format, va_list* values, int32_t* length);

}  // namespace zn::internal
