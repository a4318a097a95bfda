// Reading LayoutDescriptors: the word layout of every entry kind lives here alone, and
// LayoutNeedsInit, which decides whether fresh elements need a StructureInit walk at all.
#include <bit>
#include <cstdint>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_internal.h"

namespace zn {
namespace internal {
namespace {

LayoutDescriptor LayoutAt(int64_t word) {
  // The word holds the address of a descriptor laid down with the program's data.
  return std::bit_cast<LayoutDescriptor>(static_cast<intptr_t>(word));
}

int32_t Narrow(int64_t word) {
  return static_cast<int32_t>(word);
}

// The bytes a fixed array of structures covers; a count or size of 0 or less covers nothing, and
// a product too large for a structure saturates rather than wrapping.
int64_t SpanOf(int64_t count, int64_t size) {
  if (count <= 0 || size <= 0) {
    return 0;
  }
  int64_t span = 0;
  if (__builtin_mul_overflow(count, size, &span)) {
    return INT64_MAX;
  }
  return span;
}

// Words in an entry of each kind, the -7 entry's dimension counts not included.
int64_t EntryWords(int64_t kind) {
  switch (kind) {
    case kLayoutStructArray:
      return 5;
    case kLayoutStruct:
      return 4;
    case kLayoutArray:
    case kLayoutMap:
    case kLayoutArrayDims:
      return 6;
    case kLayoutList:
      return 5;
    default:
      return 1;
  }
}

}  // namespace

const int64_t* LayoutEntryRead(const int64_t* word, LayoutEntry* entry) {
  *entry = LayoutEntry{};
  const int64_t kind = word[0];
  switch (kind) {
    case kLayoutEnd:
      entry->kind = kLayoutEnd;
      return word;
    case kLayoutStructArray:
      entry->kind = kind;
      entry->count = word[1];
      entry->offset = word[2];
      entry->size = word[3];
      entry->layout = LayoutAt(word[4]);
      entry->span = SpanOf(entry->count, entry->size);
      break;
    case kLayoutStruct:
      entry->kind = kind;
      entry->offset = word[1];
      entry->size = word[2];
      entry->layout = LayoutAt(word[3]);
      entry->span = entry->size > 0 ? entry->size : 0;
      break;
    case kLayoutArray:
      entry->kind = kind;
      entry->offset = word[1];
      entry->size = word[2];
      entry->count = word[3];
      entry->type = Narrow(word[4]);
      entry->layout = LayoutAt(word[5]);
      entry->span = 8;
      break;
    case kLayoutList:
      entry->kind = kind;
      entry->offset = word[1];
      entry->size = word[2];
      entry->layout = LayoutAt(word[3]);
      entry->type = Narrow(word[4]);
      entry->span = 16;
      break;
    case kLayoutMap:
      entry->kind = kind;
      entry->offset = word[1];
      entry->size = word[2];
      entry->type = Narrow(word[3]);
      entry->layout = LayoutAt(word[4]);
      entry->buckets = Narrow(word[5]);
      entry->span = 8;
      break;
    case kLayoutArrayDims: {
      entry->kind = kind;
      entry->offset = word[1];
      entry->count = word[2] > 0 ? word[2] : 0;
      entry->size = word[3];
      entry->type = Narrow(word[4]);
      entry->layout = LayoutAt(word[5]);
      entry->counts = word + 6;
      entry->span = 8 + SpanOf(entry->count, 8);
      return word + 6 + entry->count;
    }
    default:
      // A word below the known kinds would be a negative string offset, a field in front of the
      // structure: such a word names no field and the walks step over it.
      if (kind < 0) {
        entry->kind = kLayoutSkip;
        return word + 1;
      }
      // Any other first word is a string field's offset.
      entry->kind = kLayoutString;
      entry->offset = kind;
      entry->span = 8;
      break;
  }
  return word + EntryWords(entry->kind);
}

bool LayoutSame(LayoutDescriptor a, LayoutDescriptor b) {
  if (a == b) {
    return true;
  }
  if (a == nullptr || b == nullptr) {
    return false;
  }
  for (;;) {
    LayoutEntry ea;
    LayoutEntry eb;
    const int64_t* next_a = LayoutEntryRead(a, &ea);
    const int64_t* next_b = LayoutEntryRead(b, &eb);
    const int64_t words = next_a - a;
    if (ea.kind != eb.kind || words != next_b - b) {
      return false;
    }
    for (int64_t k = 0; k < words; ++k) {
      if (a[k] != b[k]) {
        return false;
      }
    }
    if (ea.kind == kLayoutEnd) {
      return true;
    }
    a = next_a;
    b = next_b;
  }
}

}  // namespace internal

int32_t LayoutNeedsInit(LayoutDescriptor layout) {
  if (layout == nullptr) {
    return 0;
  }
  internal::LayoutEntry entry;
  const int64_t* word = layout;
  for (;;) {
    const int64_t* next = internal::LayoutEntryRead(word, &entry);
    switch (entry.kind) {
      case kLayoutEnd:
        return 0;
      case kLayoutArray:
      case kLayoutList:
      case kLayoutMap:
      case kLayoutArrayDims:
        return 1;
      case kLayoutStructArray:
        // Elements that are never there need nothing, whatever their layout says.
        if (entry.count > 0 && LayoutNeedsInit(entry.layout) != 0) {
          return 1;
        }
        break;
      case kLayoutStruct:
        if (LayoutNeedsInit(entry.layout) != 0) {
          return 1;
        }
        break;
      default:
        break;
    }
    word = next;
  }
}

}  // namespace zn
