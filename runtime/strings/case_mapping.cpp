// Upper case, lower case and case folding, code point by code point, from the generated tables.
//
// The process locale plays no part: the mappings are those of the Unicode Character Database
// whatever the locale, so a program gives the same text on every machine. Each code point maps on
// its own (no final-sigma rule, no language's tailoring), which is what the full mappings give for
// a code point standing alone. A mapping may be longer than its source (ß to SS, three units at
// most for one), so the result is measured first and then written into a block of that size.
#include <cstdint>

#include "runtime/strings/case_tables.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {

namespace {

using CaseField = int32_t internal::CaseRecord::*;

int32_t FieldOf(uint32_t code_point, CaseField field) {
  using namespace internal;
  if (code_point >= kCaseBlockCount << kCaseBlockShift) {
    return 0;
  }
  const uint32_t block = kCaseBlocks[code_point >> kCaseBlockShift];
  const uint32_t within = code_point & ((1u << kCaseBlockShift) - 1);
  return kCaseRecords[kCaseRecordIndex[block << kCaseBlockShift | within]].*field;
}

// Writes the mapping of one code point at `out` (nothing when null) and returns its units.
int32_t MapCodePoint(uint32_t code_point, CaseField field, char16_t* out) {
  const int32_t difference = FieldOf(code_point, field);
  if (difference >= internal::kCaseExpansion) {
    const char16_t* expansion = internal::kCaseExpansions + (difference - internal::kCaseExpansion);
    const int32_t units = expansion[0];
    for (int32_t k = 0; out != nullptr && k < units; ++k) {
      out[k] = expansion[1 + k];
    }
    return units;
  }
  const uint32_t mapped = code_point + static_cast<uint32_t>(difference);
  if (mapped < 0x10000) {
    if (out != nullptr) {
      out[0] = static_cast<char16_t>(mapped);
    }
    return 1;
  }
  if (out != nullptr) {
    out[0] = static_cast<char16_t>(0xD800 | (mapped - 0x10000) >> 10);
    out[1] = static_cast<char16_t>(0xDC00 | (mapped & 0x3FF));
  }
  return 2;
}

// Maps every code point of `source` (lone surrogates as themselves) into `out`, or only counts
// when `out` is null; returns the units of the result.
int64_t MapText(const char16_t* source, CaseField field, char16_t* out) {
  int64_t units = 0;
  for (const char16_t* at = source; *at != 0;) {
    uint32_t code_point = *at++;
    if (internal::UnitIsHighHalf(code_point) && internal::UnitIsLowHalf(*at)) {
      code_point = 0x10000 + ((code_point & 0x3FF) << 10 | (*at++ & 0x3FFu));
    }
    units += MapCodePoint(code_point, field, out == nullptr ? nullptr : out + units);
  }
  return units;
}

StringValue MapString(const char16_t* source, CaseField field) {
  if (source == nullptr) {
    source = EmptyString;
  }
  const int32_t units = internal::StringLengthChecked(MapText(source, field, nullptr));
  char16_t* result = internal::StringBlockFor(units);
  MapText(source, field, result);
  result[units] = 0;
  return result;
}

}  // namespace

const char* StringCaseMappingVersion() {
  return internal::kCaseTablesVersion;
}

StringValue StringUpper(const char16_t* source) {
  return MapString(source, &internal::CaseRecord::upper);
}

StringValue StringLower(const char16_t* source) {
  return MapString(source, &internal::CaseRecord::lower);
}

StringValue StringFold(const char16_t* source) {
  return MapString(source, &internal::CaseRecord::fold);
}

}  // namespace zn
