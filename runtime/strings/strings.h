// The string library: UTF-16 string values, the shared temporary buffer in which string
// expressions are built, conversion to and from byte text, numbers as text, string functions.
//
// A `StringValue` is a heap block of UTF-16 code units ending in a 0 unit, owned by the variable,
// field or array element that holds it; null is the empty string, and every operation that reads
// a string accepts null. Lengths count code units (a surrogate pair counts two).
//
// String expressions are built in the `TempStringBuffer`, one growable process-wide buffer. Its
// position is a byte offset from its base; everything below the position is text being built or
// still in use. The block moves whenever room is reserved, so callers keep byte offsets into it,
// never addresses, across anything that may reserve.
//
// The result-offset convention: an operation that produces a string takes, as its last argument,
// the byte offset at which to write it. It writes the units from there, writes a 0 unit behind
// them and leaves the position on that terminator. The caller obtains the offset by pushing the
// position and popping it again, and brackets every expression with balanced pushes and pops:
//
//   TempTextPush(); TempTextPush();                       // the whole expression
//   TempTextAppend(u"Current score: Player ");
//   TempTextPush(); TempTextPush();
//   TempTextAppendInteger(player, TempTextPop());         // a producer at the popped offset
//   TempTextPop();
//   ConsoleWrite(TempTextPopPiece());                     // the whole text, terminated
//   TempTextPopRewind();                                  // gives the room back
//
// C++ callers can let a `TempTextScope` do the outermost push and rewind.
//
// Not thread-safe: the buffer, its position stack and the string values are used from one thread.
//
// Late-bound seam it calls: the fatal-exit clean-up (memory.h's `FatalExit`), on exhausted memory
// and on a broken position stack; the console fills it, so the terminal comes back first.
#pragma once

#include <cstdint>

namespace zn {

// StringValue: a string variable's value; null is the empty string.
using StringValue = char16_t*;

// A shared empty string (one 0 unit in static storage) that stands in for null where an address
// is needed. Never written.
extern const char16_t EmptyString[1];

// ---------------------------------------------------------------------------------------------
// String values. Exhausted memory ends the process (FatalExit) after giving the terminal back.

// StringCountUnits: code units before the terminator of a non-null string.
int64_t StringCountUnits(const char16_t* s);

// StringCopyUnits: copies `n` units from `source` to `destination` and writes a 0 unit at
// destination + n; returns the address of that terminator.
char16_t* StringCopyUnits(char16_t* destination, const char16_t* source, int32_t n);

// StringAssign: the variable holds a copy of `source` in a block of (length + 5) units; returns
// the byte size of the stored text with its terminator, (length + 1) * 2. Null frees the
// variable's block, sets it to null and returns 2. Assigning a variable its own value, or a piece
// of it, is safe.
int32_t StringAssign(StringValue* variable, const char16_t* source);

// StringDuplicate: the variable gets a fresh (length + 5)-unit copy of `source`; its old pointer
// is not freed. Null leaves the variable untouched. Used on entry to procedures taking strings.
void StringDuplicate(StringValue* variable, const char16_t* source);

// StringFromUnits: a new string value of `n` units copied from `source` and a terminator (a 0 unit
// among them ends the text early); a null source gives `n` 0 units, room for a caller to write
// into. Null for n <= 0. For callers that hold text by length rather than by terminator.
StringValue StringFromUnits(const char16_t* source, int64_t n);

// StringRelease: frees the block; null does nothing.
void StringRelease(StringValue s);

// ---------------------------------------------------------------------------------------------
// The TempStringBuffer. Offsets are byte offsets; they are always even.

// TempTextInit: position 0, capacity 16, a fresh 16-byte block. Start-up step of the library.
void TempTextInit();

// TempTextFree: frees the block and forgets it with every saved position (the library's end
// step; TempTextInit starts it again).
void TempTextFree();

// TempTextReserve: applies the reservation rule for `n` units counted from the position, then
// sets the position to offset + 2n and returns base + offset (after any move of the block).
// Writes nothing: the caller writes the text and its terminator.
char16_t* TempTextReserve(int32_t n, int32_t offset);

// TempTextAppend: appends a copy of `s`, terminator included, at the position; the position
// moves onto the copied terminator. Null only writes a terminator at the position.
void TempTextAppend(const char16_t* s);

// TempTextAddress: base + offset.
char16_t* TempTextAddress(int32_t offset);

// TempTextOffsetOf: (address - base) + 1 when base <= address <= base + position, else 0.
int32_t TempTextOffsetOf(const void* address);

// TempTextCut: position = offset, and a terminator at base + offset.
void TempTextCut(int32_t offset);

// TempTextUnreserve: position = position - 2n.
void TempTextUnreserve(int32_t n);

// TempTextTakeInto: the variable receives a copy of the text from `offset` up to the position,
// in a block of (bytes + 10); the position goes back to `offset`.
void TempTextTakeInto(StringValue* variable, int32_t offset);

// The current position, capacity (bytes the reservation rule counts as usable) and block size.
int64_t TempTextPosition();
int64_t TempTextCapacity();
int64_t TempTextBlockBytes();

// ---------------------------------------------------------------------------------------------
// The PositionStack: 100 saved positions. Pushing a 101st or popping an empty stack is a
// caller's mistake that would corrupt memory; it ends the process (FatalExit) instead.

// The entries of the PositionStack.
inline constexpr int32_t kPositionStackEntries = 100;

// TempTextPush: saves the position.
void TempTextPush();
// TempTextPop: drops the newest entry and returns it; the position is unchanged.
int32_t TempTextPop();
// TempTextPopRewind: drops the newest entry, sets the position to it and returns it.
int32_t TempTextPopRewind();
// TempTextPopRewindAddress: as TempTextPopRewind, returning base + saved position.
char16_t* TempTextPopRewindAddress();
// TempTextPopPiece: drops the newest entry and returns base + saved position, the piece built
// since the push (terminated at the position); the position is unchanged.
char16_t* TempTextPopPiece();
// TempTextPeek: the newest entry, which stays.
int32_t TempTextPeek();
// TempTextStackDepth: entries in use.
int32_t TempTextStackDepth();

// TempTextScope: pushes on construction and rewinds to that position on destruction, so that a
// C++ caller cannot leave the stack unbalanced on any path.
class TempTextScope {
 public:
  TempTextScope() { TempTextPush(); }
  ~TempTextScope() { TempTextPopRewind(); }
  TempTextScope(const TempTextScope&) = delete;
  TempTextScope& operator=(const TempTextScope&) = delete;
  // The position saved by the push: where the scope's text starts.
  int32_t Start() const { return TempTextPeek(); }
};

// ---------------------------------------------------------------------------------------------
// Text encoding conversion. Code pages: 0 single-byte text (codes 0 to 255), 65001 UTF-8; any
// other makes both converters return 0. A source length of -1 means "up to and including the
// terminator". Neither converter writes a terminator of its own.
//
// The flags argument holds ConvertReplaceInvalid or nothing; other bits are ignored. Without it
// the converters follow the library's lenient rules, which pass overlong forms and stop at
// malformed input. With it, UTF-8 text from outside comes through whole: every maximal ill-formed
// subpart of UTF-8 becomes one U+FFFD (the Unicode Standard's recommended practice, which ICU and
// browsers follow), every surrogate that is not half of a pair is written as EF BF BD, and only a
// full destination ends a conversion, before the first character that does not fit whole. The
// flag changes nothing for the single-byte code page.

// The two code pages.
inline constexpr int32_t CodePageSingleByte = 0;
inline constexpr int32_t CodePageUtf8 = 65001;

// ConvertReplaceInvalid: the converters' flag for replacing ill-formed text with U+FFFD.
inline constexpr uint32_t ConvertReplaceInvalid = 1;

// Utf16ToMultiByte: with a null destination, the bytes needed; otherwise the bytes written, never
// more than `destination_length`, or 0 for a high surrogate followed by a non-low surrogate.
int32_t Utf16ToMultiByte(int32_t code_page, uint32_t flags, const char16_t* source,
                         int32_t source_length, char* destination, int32_t destination_length);

// MultiByteToUtf16: with a null destination, the units needed; otherwise the units written,
// never more than `destination_length`, or 0 on a malformed lead byte.
int32_t MultiByteToUtf16(int32_t code_page, uint32_t flags, const char* source,
                         int32_t source_length, char16_t* destination, int32_t destination_length);

// StringToSingleByte: new heap byte text; units below 256 become bytes, others are dropped.
// Null gives a 1-byte block holding 0. Free with NarrowTextFree.
char* StringToSingleByte(const char16_t* s);

// StringToUtf8: new heap UTF-8 text; null or nothing convertible gives a 1-byte block holding 0.
char* StringToUtf8(const char16_t* s);

// StringToUtf8Flags: as StringToUtf8, converting with `flags` (ConvertReplaceInvalid or 0).
char* StringToUtf8Flags(const char16_t* s, uint32_t flags);

// NarrowTextFree: frees byte text made by this library.
void NarrowTextFree(char* text);

// StringFromSingleByte: new heap string, each byte widened to one unit.
StringValue StringFromSingleByte(const char* text);

// StringFromUtf8: new heap string decoded from UTF-8 (null is empty). Always terminated, also for
// malformed input.
StringValue StringFromUtf8(const char* text);

// StringFromUtf8Flags: as StringFromUtf8, decoding with `flags` (ConvertReplaceInvalid or 0).
// With ConvertReplaceInvalid the whole text is decoded, ill-formed parts as U+FFFD.
StringValue StringFromUtf8Flags(const char* text, uint32_t flags);

// TempTextAppendSingleByte: the text widened at `offset`, terminated, position on the terminator;
// returns the address of the terminator.
char16_t* TempTextAppendSingleByte(const char* text, int32_t offset);

// TempTextAppendUtf8: the decoded text at `offset`, terminated, position on the terminator. On
// malformed input the result holds what decodes before the fault; nothing is written outside the
// room reserved.
void TempTextAppendUtf8(const char* text, int32_t offset);

// ---------------------------------------------------------------------------------------------
// Numbers and text.

// TempTextAppendInteger: decimal text of `value` at `offset`, terminated, position on it.
void TempTextAppendInteger(int64_t value, int32_t offset);

// TempTextAppendSpaces: `count` spaces at `offset` (none for 0 or less), terminated.
void TempTextAppendSpaces(int32_t count, int32_t offset);

// TextToInteger: blanks (space, tab), an optional sign, then decimal digits, "$" and hex digits or
// "%" and binary digits; stops at the first non-digit; wraps on overflow. Anything else gives 0.
int64_t TextToInteger(const char16_t* s);

// IntegerToText: decimal text and terminator at `destination` (room for 21 units); returns it.
char16_t* IntegerToText(char16_t* destination, int64_t value);

// UnsignedToText: decimal digits and terminator (room for 21 units); returns `destination`.
char16_t* UnsignedToText(char16_t* destination, uint64_t value);

// IntegerToAsciiText: decimal text of a 32-bit value as bytes and a 0 byte (room for 12 bytes).
void IntegerToAsciiText(int32_t value, char* destination);

// ---------------------------------------------------------------------------------------------
// String functions.

// StringLength: code units before the terminator; 0 for null.
int32_t StringLength(const char16_t* s);

// StringFieldAt: field `n` (1 = first) of `source` split by `separator`, written at `offset` by
// the result-offset convention. n <= 0, or a field past the last, gives the empty text. The source
// may lie inside the TempStringBuffer. Cost: each call scans the source from its start up to the
// end of field n, so taking every field in turn this way is quadratic in the source's length; to
// walk the fields, use a StringFieldCursor, which takes each field in turn in linear time.
void StringFieldAt(const char16_t* source, int32_t n, const char16_t* separator, int32_t offset);

// StringEqual: 1 when equal (null equals the empty string), else 0.
int32_t StringEqual(const char16_t* a, const char16_t* b);

// StringCompare: 0 when equal, else the difference of the first differing units taken as signed
// 16-bit values. Neither may be null.
int32_t StringCompare(const char16_t* a, const char16_t* b);

// StringCompareUnits: as StringCompare over at most `count` units; a count of 0 gives 0.
int32_t StringCompareUnits(const char16_t* a, const char16_t* b, uint64_t count);

// StringCompareNoCase: as StringCompare after the locale's towlower on every unit.
int32_t StringCompareNoCase(const char16_t* a, const char16_t* b);

// StringCopyTo: copies `source` and its terminator; returns `destination`.
char16_t* StringCopyTo(char16_t* destination, const char16_t* source);

// StringCopyPadded: copies at most `count` units, filling the rest of the count with 0 units when
// the source ends first; no terminator when the source has `count` units or more.
char16_t* StringCopyPadded(char16_t* destination, const char16_t* source, uint64_t count);

// StringFormat: formats the values by a UTF-16 printf-style format. With a null destination,
// returns the length of the formatted text in UTF-8 bytes; otherwise writes the text and a
// terminator (the destination must be large enough) and returns the units written without the
// terminator. It returns 0 and writes nothing when memory is exhausted or the format is refused:
// `%n` (never supported), a numbered argument such as `%1$d` in a format that holds `%ls`, or a
// value the C library cannot format (a %lc the process locale cannot encode).
//
// The conversions and the value each takes (flags, width and precision as printf has them):
//   %d %i            int; with hh, h: int; l: long; ll: long long; j: intmax_t; z: size_t's
//                    signed type; t: ptrdiff_t
//   %u %o %x %X      the unsigned types of the same modifiers
//   %c               int, written as one byte (a UTF-8 byte, so below 0x80 for a character)
//   %lc              wint_t, a character converted by the process locale
//   %s               const char*: UTF-8 bytes, copied as they are and decoded with the result;
//                    not a runtime string (a StringValue passed here prints its first character)
//   %ls              const char16_t*: a UTF-16 string such as a StringValue; null is the empty
//                    string. Width and precision count UTF-16 code units, and the precision never
//                    cuts a surrogate pair in two
//   %f %F %e %E %g %G %a %A   double; with L: long double
//   %p               a pointer
//   %%               a percent sign
int32_t StringFormat(char16_t* destination, const char16_t* format, ...);

// ---------------------------------------------------------------------------------------------
// Everyday string functions. Every operation here that makes a string hands back a new
// StringValue that the caller owns and frees with StringRelease (as StringFromUtf8 does): always
// terminated, with one spare unit behind the terminator, and never null but where a contract says
// that a request is refused. None of them writes into the
// TempStringBuffer, so a source may lie inside it, and stays where it is. Sources and needles may
// be null (the empty string). Indexes and lengths are code units. A result too long for a signed
// 32-bit length, or exhausted memory, ends the process (FatalExit), as everywhere in this library.
//
// Matching (StringFind, StringReplace, StringStartsWith, StringEndsWith) compares code units, and
// never accepts a match that would cut a surrogate pair of the source in two: a lone low surrogate
// is not found in the second half of a pair, nor a lone high one in its first half.
//
// Case mapping is per code point with the full mappings of the Unicode Character Database,
// including those that change the length (ß upper-cases to SS, ŉ to ʼN, İ lower-cases to i and a
// combining dot above), and does not depend on the process locale. It has no context: Σ lower-cases
// to σ wherever it stands (no final-sigma rule), and no language's tailoring (Turkish, Lithuanian)
// applies. Lone surrogates and code points without a mapping are copied unchanged.

// StringCaseMappingVersion: the version of the Unicode Character Database that the case
// mappings follow, such as "14.0.0".
const char* StringCaseMappingVersion();

// StringUpper: the source upper-cased by the full mappings (ß becomes SS).
StringValue StringUpper(const char16_t* source);

// StringLower: the source lower-cased by the full mappings (İ becomes i and U+0307).
StringValue StringLower(const char16_t* source);

// StringFold: the source case-folded (full folding: ß becomes ss), for comparing without regard
// to case: two strings are equal but for case when their foldings are equal.
StringValue StringFold(const char16_t* source);

// StringFind: the index of the first occurrence of `needle` in `source` at or after `start`, or -1
// when there is none. A start below 0 counts as 0; a start past the end gives -1. An empty needle
// is found at the start (one unit further when the start lies inside a surrogate pair).
int32_t StringFind(const char16_t* source, const char16_t* needle, int32_t start);

// StringReplace: a copy of `source` in which every occurrence of `needle`, taken left to right
// without overlap ("aaa" with "aa" holds one), is replaced by `replacement` (null removes it). An
// empty needle replaces nothing: the result is a copy of the source.
StringValue StringReplace(const char16_t* source, const char16_t* needle,
                          const char16_t* replacement);

// StringTrim: a copy of `source` without the Unicode White_Space characters at either end
// (tab, line feed, vertical tab, form feed, carriage return, space, U+0085, U+00A0, U+1680,
// U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
StringValue StringTrim(const char16_t* source);

// StringStartsWith: 1 when `source` begins with `prefix` (always for an empty prefix), else 0.
int32_t StringStartsWith(const char16_t* source, const char16_t* prefix);

// StringEndsWith: 1 when `source` ends with `suffix` (always for an empty suffix), else 0.
int32_t StringEndsWith(const char16_t* source, const char16_t* suffix);

// StringFieldCursor: a walk over the fields of a source split by a separator, each field taken in
// turn in linear time. The caller holds the record and starts it with StringFieldCursorStart; its
// fields are for this library. Fields are those of StringFieldAt: consecutive separators give an
// empty field, a source without a separator is one field, and the empty source is one empty
// field, so a source holds one field more than it holds separators. Source and separator must stay
// as they are during the walk; one inside the TempStringBuffer is followed by its offset, so the
// walk survives reservations that move the buffer as long as the text stays below the position.
struct StringFieldCursor {
  const char16_t* source;     // never null
  const char16_t* separator;  // never null
  int32_t source_offset;      // TempTextOffsetOf(source) at the start: 0 outside the buffer
  int32_t separator_offset;   // the same for the separator
  int32_t separator_length;
  int32_t next;  // where the next field starts, or -1 once the walk has ended
};

// StringFieldCursorStart: sets the cursor before the first field of `source` split by `separator`
// (null: the empty string; an empty separator makes the whole source one field). The cursor keeps
// their addresses, so both must outlive the walk.
void StringFieldCursorStart(StringFieldCursor* cursor, const char16_t* source,
                            const char16_t* separator);

// StringFieldCursorNext: 1 and the next field's `start` index and `length` in units within the
// source, or 0 when there is no field left (and then on every later call). An empty field gives 1
// with a length of 0, so it is told from the end.
int32_t StringFieldCursorNext(StringFieldCursor* cursor, int32_t* start, int32_t* length);

// StringFieldCount: the number of fields of `source` split by `separator`, one more than the
// separators found (so at least 1), as StringFieldCursor walks them.
int32_t StringFieldCount(const char16_t* source, const char16_t* separator);

// StringFromUtf8Bytes: a new string decoded from `length` bytes of UTF-8 (-1: up to the first 0
// byte), in one call; 0 bytes inside the length become U+0000 units. `flags` is 0 for the
// library's lenient rules or ConvertReplaceInvalid (everything decodes, each ill-formed part as
// one U+FFFD). The lenient rules stop at a malformed lead byte, at a sequence cut off by the end
// and at a value above U+10FFFF, keeping what decoded before; a sequence cut short by a byte that
// is not a continuation byte ends there, that byte swallowed (41 E2 82 43 44 gives 0041 0082 0044).
// When `units` is not null it receives the units decoded, which the string's own length does not
// tell when they include U+0000. A null source is the empty text. Any other negative length is
// refused: the result is null and *units 0.
StringValue StringFromUtf8Bytes(const char* source, int32_t length, uint32_t flags, int32_t* units);

}  // namespace zn
