// Speed of the string library's converters, number text, the score-line expression, field cuts
// and the field cursor, with ICU's converters, memcpy and a hand-written loop as anchors in the
// same run.
//
// Every converter benchmark counts throughput in UTF-8 bytes, so ratios between ours and ICU's
// read straight off the bytes-per-second column. ICU is measured as the library works: a counting
// call, one allocation, then the conversion. Allocations of the runtime (malloc and realloc
// called from its static libraries) are counted through the linker's --wrap, and reported per
// iteration where the promise is that none happen.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_testing.h"

extern "C" {
void* __real_malloc(size_t size);
void* __real_realloc(void* block, size_t size);

uint64_t zn_bench_allocations = 0;

void* __wrap_malloc(size_t size) {
  ++zn_bench_allocations;
  return __real_malloc(size);
}

void* __wrap_realloc(void* block, size_t size) {
  ++zn_bench_allocations;
  return __real_realloc(block, size);
}
}

namespace {

constexpr size_t kLargeBytes = 1 << 20;

// Text of about `bytes` UTF-8 bytes. Mixed text has about 30 % non-ASCII characters: Latin-1
// letters, box drawing and CJK, and some four-byte characters.
std::u16string MakeText(size_t bytes, bool mixed, uint32_t seed) {
  std::mt19937 random(seed);
  std::u16string s;
  size_t used = 0;
  while (used < bytes) {
    const uint32_t pick = random() % 100;
    if (!mixed || pick < 70) {
      s += static_cast<char16_t>(0x20 + random() % 95);
      used += 1;
    } else if (pick < 85) {
      s += static_cast<char16_t>(0xC0 + random() % 0x40);
      used += 2;
    } else if (pick < 97) {
      s += static_cast<char16_t>(random() % 2 == 0 ? 0x2500 + random() % 0x80
                                                   : 0x4E00 + random() % 0x5000);
      used += 3;
    } else {
      const uint32_t v = 0x1F600 + random() % 0x50;
      s += static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
      s += static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
      used += 4;
    }
  }
  return s;
}

struct Sample {
  std::u16string units;
  std::string utf8;
};

std::string EncodeWithIcu(const std::u16string& s) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, reinterpret_cast<const UChar*>(s.c_str()), -1, &status);
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length + 1, &length, reinterpret_cast<const UChar*>(s.c_str()), -1,
              &status);
  return out;
}

const Sample& SampleOf(int kind) {
  static const Sample samples[3] = {
      {MakeText(kLargeBytes, false, 1), {}},
      {MakeText(kLargeBytes, true, 2), {}},
      {MakeText(30, true, 3), {}},
  };
  static bool encoded = false;
  if (!encoded) {
    for (const Sample& sample : samples) {
      const_cast<Sample&>(sample).utf8 = EncodeWithIcu(sample.units);
    }
    encoded = true;
  }
  return samples[kind];
}

void Label(benchmark::State& state, int kind) {
  static const char* const kNames[] = {"ascii 1MB", "mixed 1MB", "short"};
  state.SetLabel(kNames[kind]);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(SampleOf(kind).utf8.size()));
}

// ---------------------------------------------------------------------------------------------

void BM_StringToUtf8(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const char16_t* s = SampleOf(kind).units.c_str();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    char* text = zn::StringToUtf8(s);
    benchmark::DoNotOptimize(text);
    zn::NarrowTextFree(text);
  }
  Label(state, kind);
}

void BM_IcuToUtf8(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const auto* s = reinterpret_cast<const UChar*>(SampleOf(kind).units.c_str());
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, s, -1, &status);
    auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    status = U_ZERO_ERROR;
    u_strToUTF8(text, length + 1, &length, s, -1, &status);
    benchmark::DoNotOptimize(text);
    std::free(text);
  }
  Label(state, kind);
}

void BM_StringFromUtf8(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const char* text = SampleOf(kind).utf8.c_str();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    zn::StringValue s = zn::StringFromUtf8(text);
    benchmark::DoNotOptimize(s);
    zn::StringRelease(s);
  }
  Label(state, kind);
}

void BM_IcuFromUtf8(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const char* text = SampleOf(kind).utf8.c_str();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text, -1, &status);
    auto* s = static_cast<UChar*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(UChar)));
    status = U_ZERO_ERROR;
    u_strFromUTF8(s, length + 1, &length, text, -1, &status);
    benchmark::DoNotOptimize(s);
    std::free(s);
  }
  Label(state, kind);
}

void BM_TempTextAppendUtf8(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const char* text = SampleOf(kind).utf8.c_str();
  zn::TempTextReset();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    zn::TempTextPush();
    zn::TempTextPush();
    zn::TempTextAppendUtf8(text, zn::TempTextPop());
    benchmark::DoNotOptimize(zn::TempTextPopRewindAddress());
  }
  Label(state, kind);
}

void BM_StringToSingleByte(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const char16_t* s = SampleOf(kind).units.c_str();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    char* text = zn::StringToSingleByte(s);
    benchmark::DoNotOptimize(text);
    zn::NarrowTextFree(text);
  }
  Label(state, kind);
}

void BM_Memcpy(benchmark::State& state) {
  const auto kind = static_cast<int>(state.range(0));
  const std::string& source = SampleOf(kind).utf8;
  std::string destination(source.size(), '\0');
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    std::memcpy(destination.data(), source.data(), source.size());
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  Label(state, kind);
}

// ---------------------------------------------------------------------------------------------

void BM_TempTextAppendInteger(benchmark::State& state) {
  zn::TempTextReset();
  int64_t value = -9223372036854775807LL;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    zn::TempTextPush();
    zn::TempTextPush();
    zn::TempTextAppendInteger(value, zn::TempTextPop());
    benchmark::DoNotOptimize(zn::TempTextPopRewindAddress());
    value += 7777777777777LL;
  }
}

// The game's score line, built by the push/pop convention.
const char16_t* BuildScoreLine(int64_t player, int64_t cpu) {
  zn::TempTextPush();
  zn::TempTextPush();
  zn::TempTextAppend(u"Current score: Player ");
  zn::TempTextPush();
  zn::TempTextPush();
  zn::TempTextAppendInteger(player, zn::TempTextPop());
  zn::TempTextPop();
  zn::TempTextAppend(u" vs. CPU ");
  zn::TempTextPush();
  zn::TempTextPush();
  zn::TempTextAppendInteger(cpu, zn::TempTextPop());
  zn::TempTextPop();
  return zn::TempTextPopPiece();
}

void BM_ScoreLine(benchmark::State& state) {
  zn::TempTextReset();
  BuildScoreLine(0, 0);  // grows the buffer once
  zn::TempTextPopRewind();
  const uint64_t before = zn_bench_allocations;
  int64_t score = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(BuildScoreLine(score, score / 2));
    zn::TempTextPopRewind();
    ++score;
  }
  state.counters["allocations"] = static_cast<double>(zn_bench_allocations - before);
}

void BM_StringFieldAt(benchmark::State& state) {
  zn::TempTextReset();
  const char16_t* frame = u"┏|━|┓|┃|┗|┛|╋";
  int32_t n = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    zn::TempTextPush();
    zn::TempTextPush();
    zn::StringFieldAt(frame, n % 7 + 1, u"|", zn::TempTextPop());
    benchmark::DoNotOptimize(zn::TempTextPopRewindAddress());
    ++n;
  }
}

// Numbering the lines of a text of 10 M units (lines of 0 to 120 characters, a third of the lines
// with non-ASCII characters)
// with the field cursor, against the loop a programmer would write by hand. Each line's number,
// start and length go into a sum, which both must agree on.
const std::u16string& LinesText() {
  static const std::u16string text = [] {
    std::mt19937 random(4);
    std::u16string s;
    while (s.size() < 10u << 20) {
      s += MakeText(random() % 121, random() % 3 == 0, static_cast<uint32_t>(random()));
      s += u'\n';
    }
    return s;
  }();
  return text;
}

int64_t NumberLinesByHand(const char16_t* s) {
  int64_t lines = 0;
  int64_t sum = 0;
  int64_t start = 0;
  for (int64_t i = 0;; ++i) {
    const char16_t unit = s[i];
    if (unit == u'\n' || unit == 0) {
      sum += ++lines * (i - start) + start;
      start = i + 1;
      if (unit == 0) {
        return sum;
      }
    }
  }
}

void BM_NumberLinesCursor(benchmark::State& state) {
  const char16_t* s = LinesText().c_str();
  int64_t sum = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    zn::StringFieldCursor cursor;
    zn::StringFieldCursorStart(&cursor, s, u"\n");
    int64_t lines = 0;
    int32_t start = 0;
    int32_t length = 0;
    sum = 0;
    while (zn::StringFieldCursorNext(&cursor, &start, &length) != 0) {
      sum += ++lines * length + start;
    }
    benchmark::DoNotOptimize(sum);
  }
  if (sum != NumberLinesByHand(s)) {
    state.SkipWithError("the cursor's lines differ from the loop's");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(LinesText().size() * 2));
}

void BM_NumberLinesLoop(benchmark::State& state) {
  const char16_t* s = LinesText().c_str();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(NumberLinesByHand(s));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(LinesText().size() * 2));
}

}  // namespace

BENCHMARK(BM_NumberLinesCursor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NumberLinesLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringToUtf8)->DenseRange(0, 2);
BENCHMARK(BM_IcuToUtf8)->DenseRange(0, 2);
BENCHMARK(BM_StringFromUtf8)->DenseRange(0, 2);
BENCHMARK(BM_IcuFromUtf8)->DenseRange(0, 2);
BENCHMARK(BM_TempTextAppendUtf8)->DenseRange(0, 2);
BENCHMARK(BM_StringToSingleByte)->DenseRange(0, 2);
BENCHMARK(BM_Memcpy)->DenseRange(0, 2);
BENCHMARK(BM_TempTextAppendInteger);
BENCHMARK(BM_ScoreLine);
BENCHMARK(BM_StringFieldAt);

BENCHMARK_MAIN();
