// The C++ face against the C-level calls it is made of (it should cost nothing over them), and
// zn::Map against std::unordered_map at a million keys.
//
// Pairs: zn::Map<int64_t> find (hits in random order) and insert (a new key: find, then add)
// against MapFind and MapFind + MapAdd on a growing map made the same way; String::from_utf8
// and to_utf8 against StringFromUtf8Flags and StringToUtf8Flags (both replacing) at 30 units and
// 1 MiB; zn::format against snprintf.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "zn/format.h"
#include "zn/map.h"
#include "zn/string.h"

namespace {

std::vector<std::u16string> Keys(int64_t n) {
  std::vector<std::u16string> keys;
  keys.reserve(static_cast<std::size_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    const std::string narrow = "item" + std::to_string(i);
    keys.emplace_back(narrow.begin(), narrow.end());
  }
  return keys;
}

std::vector<std::u16string> Shuffled(int64_t n) {
  std::vector<std::u16string> keys = Keys(n);
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  return keys;
}

zn::HashMap* CMap() {
  return zn::MapCreate(sizeof(int64_t), 0, nullptr, nullptr, 8, zn::MapGrowing);
}

void BM_FaceMapFind(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  const std::vector<std::u16string> order = Shuffled(state.range(0));
  zn::Map<int64_t> map;
  for (const auto& key : keys) {
    map[key.c_str()] = 1;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(order[i].c_str()));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
}

void BM_CMapFind(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  const std::vector<std::u16string> order = Shuffled(state.range(0));
  zn::HashMap* map = CMap();
  for (const auto& key : keys) {
    *static_cast<int64_t*>(zn::MapAdd(map, key.c_str(), 0)) = 1;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zn::MapFind(map, order[i].c_str()));
    i = i + 1 == order.size() ? 0 : i + 1;
  }
  zn::MapFree(map);
}

// Builds a map of n new keys per iteration: find (a miss), then add.
void BM_FaceMapInsert(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  for (auto _ : state) {
    zn::Map<int64_t> map;
    for (const auto& key : keys) {
      benchmark::DoNotOptimize(map.try_emplace(key.c_str(), 1));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_CMapInsert(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  for (auto _ : state) {
    zn::HashMap* map = CMap();
    for (const auto& key : keys) {
      void* value = zn::MapFind(map, key.c_str());
      if (value == nullptr) {
        value = zn::MapAdd(map, key.c_str(), 0);
        *static_cast<int64_t*>(value) = 1;
      }
      benchmark::DoNotOptimize(value);
    }
    zn::MapFree(map);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A million keys added, then each found once: zn::Map against std::unordered_map.
void BM_FaceMapMillion(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  for (auto _ : state) {
    zn::Map<int64_t> map;
    for (const auto& key : keys) {
      map[key.c_str()] = 1;
    }
    for (const auto& key : keys) {
      benchmark::DoNotOptimize(map.find(key.c_str()));
    }
  }
}

void BM_UnorderedMapMillion(benchmark::State& state) {
  const std::vector<std::u16string> keys = Keys(state.range(0));
  for (auto _ : state) {
    std::unordered_map<std::u16string, int64_t> map;
    for (const auto& key : keys) {
      map[key] = 1;
    }
    for (const auto& key : keys) {
      benchmark::DoNotOptimize(map.find(key));
    }
  }
}

// Mixed text: ASCII with Latin, Greek, CJK and a character outside the BMP; 30 units or 1 MiB.
std::string Utf8Text(int64_t which) {
  const std::string piece = "Grüße, καλημέρα, 你好 \xF0\x90\x90\x80 plain ascii words. ";
  std::string text;
  const std::size_t size = which == 0 ? 30 : std::size_t{1} << 20;
  while (text.size() < size) {
    text += piece;
  }
  // Cut at a character boundary.
  std::size_t cut = size;
  while ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  text.resize(cut);
  return text;
}

void BM_FaceFromUtf8(benchmark::State& state) {
  const std::string text = Utf8Text(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(zn::String::from_utf8(text).get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_CFromUtf8(benchmark::State& state) {
  const std::string text = Utf8Text(state.range(0));
  for (auto _ : state) {
    zn::StringValue value = zn::StringFromUtf8Flags(text.c_str(), zn::ConvertReplaceInvalid);
    benchmark::DoNotOptimize(value);
    zn::StringRelease(value);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_FaceToUtf8(benchmark::State& state) {
  const zn::String text = zn::String::from_utf8(Utf8Text(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.to_utf8().data());
  }
}

void BM_CToUtf8(benchmark::State& state) {
  const zn::String text = zn::String::from_utf8(Utf8Text(state.range(0)));
  for (auto _ : state) {
    char* bytes = zn::StringToUtf8Flags(text.get(), zn::ConvertReplaceInvalid);
    benchmark::DoNotOptimize(bytes);
    zn::NarrowTextFree(bytes);
  }
}

void BM_FaceFormat(benchmark::State& state) {
  int64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zn::format(u"{:>6}\t{:.2f} {}", ++n, 3.14159, u"words").get());
  }
}

void BM_Snprintf(benchmark::State& state) {
  int64_t n = 0;
  char line[64];
  for (auto _ : state) {
    std::snprintf(line, sizeof line, "%6lld\t%.2f %s", static_cast<long long>(++n), 3.14159,
                  "words");
    benchmark::DoNotOptimize(line);
  }
}

BENCHMARK(BM_FaceMapFind)->Arg(100000);
BENCHMARK(BM_CMapFind)->Arg(100000);
BENCHMARK(BM_FaceMapInsert)->Arg(10000);
BENCHMARK(BM_CMapInsert)->Arg(10000);
BENCHMARK(BM_FaceMapMillion)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapMillion)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FaceFromUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_CFromUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_FaceToUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_CToUtf8)->Arg(0)->Arg(1);
BENCHMARK(BM_FaceFormat);
BENCHMARK(BM_Snprintf);

}  // namespace

BENCHMARK_MAIN();
