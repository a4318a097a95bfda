// Fuzzes UTF-8 decoding: MultiByteToUtf16 in both modes, StringFromUtf8 and TempTextAppendUtf8.
//
// Properties: counting and converting agree; every destination length is a hard limit and gives a
// prefix of the full result; the heap and buffer results are terminated, equal to each other and to
// the converted text; decoded text without a broken pair survives encoding and decoding again; the
// steps of every width agree.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/strings/fuzz_check.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

using zn::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zn::fuzz::StartInput();
  if (size > 4096) {
    return 0;
  }
  const auto* text = reinterpret_cast<const char*>(data);
  const auto length = static_cast<int32_t>(size);

  const int32_t counted = zn::MultiByteToUtf16(zn::CodePageUtf8, 0, text, length, nullptr, 0);
  Require(counted >= 0 && counted <= length, "a count is at most one unit per byte");
  std::vector<char16_t> full(static_cast<size_t>(counted) + 1, 0xBEEF);
  const int32_t converted =
      zn::MultiByteToUtf16(zn::CodePageUtf8, 0, text, length, full.data(), counted);
  Require(converted == counted || converted == 0, "converting agrees with counting");
  Require(full[static_cast<size_t>(counted)] == 0xBEEF, "the destination length is a hard limit");
  const bool faulted = counted > 0 && converted == 0;

  // The narrower steps (down to the portable ones of a processor without block steps) give the
  // same units.
  for (int level = 0; level + 1 < zn::StringsTestBlockLevels(); ++level) {
    zn::StringsTestUseBlockLevel(level);
    std::vector<char16_t> narrower(full.size(), 0xBEEF);
    Require(zn::MultiByteToUtf16(zn::CodePageUtf8, 0, text, length, nullptr, 0) == counted,
            "narrower steps count alike");
    Require(zn::MultiByteToUtf16(zn::CodePageUtf8, 0, text, length, narrower.data(), counted) ==
                    converted &&
                narrower == full,
            "narrower steps convert alike");
  }
  zn::StringsTestUseBlockLevel(2);

  // Every smaller destination gives a prefix of the full result, never a split pair.
  for (int32_t room = 1; room < counted && room < 64; ++room) {
    std::vector<char16_t> part(static_cast<size_t>(room) + 1, 0xBEEF);
    const int32_t got = zn::MultiByteToUtf16(zn::CodePageUtf8, 0, text, length, part.data(), room);
    Require(part[static_cast<size_t>(room)] == 0xBEEF, "a small destination is a hard limit");
    if (faulted) {
      continue;
    }
    Require(got == room || got == room - 1, "a small destination is filled up to a pair");
    for (int32_t i = 0; i < got; ++i) {
      Require(part[static_cast<size_t>(i)] == full[static_cast<size_t>(i)], "a prefix");
    }
  }

  // The operations take the text up to its first 0 byte.
  const std::string terminated(text, size);
  const char* c_text = terminated.c_str();
  zn::StringValue heap = zn::StringFromUtf8(c_text);
  const std::u16string from_heap = heap;
  zn::StringRelease(heap);

  zn::TempTextPush();
  zn::TempTextAppend(u"<");
  zn::TempTextPush();
  zn::TempTextPush();
  const int32_t offset = zn::TempTextPop();
  zn::TempTextAppendUtf8(c_text, offset);
  const int64_t position = zn::TempTextPosition();
  Require(position >= offset, "the position never ends before the offset");
  Require(*zn::TempTextAddress(static_cast<int32_t>(position)) == 0, "terminated at the position");
  const std::u16string from_buffer = zn::TempTextPopPiece();
  // An overlong form of 0 ("C0 80") decodes to a 0 unit inside the text, so the text read as a
  // C string may end before the position.
  Require(position >= offset + 2 * static_cast<int64_t>(from_buffer.size()),
          "the position is on or behind the first 0 unit");
  Require(from_buffer == from_heap, "buffer and heap results agree");
  Require(*zn::TempTextAddress(static_cast<int32_t>(offset) - 2) == u'<', "text before is kept");
  zn::TempTextPopRewind();

  // Encoding the decoded text and decoding it again gives it back, when it has no broken pair.
  const int32_t units = static_cast<int32_t>(from_heap.size());
  const int32_t bytes =
      zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, from_heap.data(), units, nullptr, 0);
  std::string encoded(static_cast<size_t>(bytes), '\0');
  if (bytes > 0 && zn::Utf16ToMultiByte(zn::CodePageUtf8, 0, from_heap.data(), units,
                                        encoded.data(), bytes) == bytes) {
    zn::StringValue again = zn::StringFromUtf8(encoded.c_str());
    const std::u16string round = again;
    zn::StringRelease(again);
    Require(from_heap.compare(0, round.size(), round) == 0, "round trip keeps the text");
    // Encoding stops before a high surrogate that no low one follows, and nowhere else.
    if (round.size() < from_heap.size()) {
      const char16_t stop = from_heap[round.size()];
      Require(stop >= 0xD800 && stop <= 0xDBFF, "round trip stops only at a high surrogate");
      Require(round.size() + 1 == from_heap.size() || from_heap[round.size() + 1] < 0xDC00 ||
                  from_heap[round.size() + 1] > 0xDFFF,
              "that high surrogate has no low one behind it");
    }
  }
  return 0;
}
