// Benchmarks of the containers library with their anchors in the same binary:
//   - PoolTake + PoolGive of 64-byte blocks against glibc malloc/free, in LIFO order and in random
//     order with 1,000 and 100,000 live blocks, and the ping-pong of one block on an empty pool;
//     LIFO bursts also against a bare free list, the floor of the pool's kind of allocator;
//   - MapFind and MapAdd with 1,024 buckets at 100, 1,000 and 10,000 string keys against
//     std::unordered_map<std::u16string, int64_t> and absl::flat_hash_map<std::u16string, int64_t>
//     (a Swiss table, among the fastest known), and finds in random order of keys like "key12345"
//     at 1,000 to 100,000 keys;
//   - a growing map (MapGrowing) adding then finding 10^6 and 10^7 keys "itemN" against the same
//     two anchors, with the heap bytes each holds per element;
//   - ListSelect stepping by ascending index.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#if ZN_BENCH_ABSL
#include <absl/container/flat_hash_map.h>
#endif

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "tests/support/checking_heap.h"

namespace {

using namespace zn;

constexpr uint64_t kPayload = 56;  // 64-byte blocks with the header word

// ---------------------------------------------------------------------------------------------
// Pools against malloc/free.

// The two sides are measured alike: the same loops call Take and Give through these wrappers,
// each one call into the allocator per block (PoolTake and PoolGive out of line, as malloc and
// free are); both hand out 56-byte payloads in 64-byte blocks (the pool's header word, malloc's
// size field); the same blocks are held and given back before timing, in the same order; and
// DoNotOptimize touches each block on both sides alike.
struct PoolAllocator {
  BlockPool* pool = PoolCreate(kPayload, 16, 65536, PoolNoLock);
  ~PoolAllocator() { PoolDestroy(pool); }
  void* Take() { return PoolTake(pool); }
  void Give(void* block) { PoolGive(pool, block); }
};

struct MallocAllocator {
  void* Take() { return std::malloc(kPayload); }
  static void Give(void* block) { std::free(block); }
};

// The floor of any allocator built on a free list: a bare list of given-back blocks (new ones from
// malloc), taken and given out of line like the pool, with no count, no chunks and no checks. A
// LIFO burst is a chain of loads and stores through the list's head; what the pool costs above
// this row is its own work.
struct BareList {
  void* head = nullptr;
};

[[gnu::noinline]] void* BareTake(BareList* list) {
  void* block = list->head;
  if (block == nullptr) {
    return std::malloc(kPayload);
  }
  std::memcpy(&list->head, block, sizeof list->head);
  return block;
}

[[gnu::noinline]] void BareGive(BareList* list, void* block) {
  std::memcpy(block, &list->head, sizeof list->head);
  list->head = block;
}

struct BareListAllocator {
  BareList list;
  BareListAllocator() = default;
  BareListAllocator(const BareListAllocator&) = delete;
  BareListAllocator& operator=(const BareListAllocator&) = delete;
  ~BareListAllocator() {
    while (void* block = list.head) {
      std::memcpy(&list.head, block, sizeof list.head);
      std::free(block);
    }
  }
  void* Take() { return BareTake(&list); }
  void Give(void* block) { BareGive(&list, block); }
};

// LIFO in steady state: `live` blocks are taken and every fourth is given back, so every chunk
// keeps blocks out and has free ones; then a burst of 64 blocks is taken and given back newest
// first, again and again, with no chunk made or freed.
template <typename Allocator>
void BM_Lifo(benchmark::State& state) {
  Allocator allocator;
  const auto live = static_cast<size_t>(state.range(0));
  std::vector<void*> held(live);
  for (auto& block : held) {
    block = allocator.Take();
  }
  for (size_t i = 0; i < live; i += 4) {
    allocator.Give(held[i]);
    held[i] = nullptr;
  }
  void* burst[64];
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (auto& block : burst) {
      block = allocator.Take();
      benchmark::DoNotOptimize(block);
    }
    for (int i = 63; i >= 0; --i) {
      allocator.Give(burst[i]);
    }
  }
  for (void* block : held) {
    if (block != nullptr) {
      allocator.Give(block);
    }
  }
  state.SetItemsProcessed(state.iterations() * 64);
}

// The same burst on a pool whose chunks are all full: each burst makes chunks and returns them
// to the heap when its blocks come back (chunks are returned at once).
template <typename Allocator>
void BM_LifoFresh(benchmark::State& state) {
  Allocator allocator;
  std::vector<void*> held(static_cast<size_t>(state.range(0)));
  for (auto& block : held) {
    block = allocator.Take();
  }
  void* burst[64];
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (auto& block : burst) {
      block = allocator.Take();
      benchmark::DoNotOptimize(block);
    }
    for (int i = 63; i >= 0; --i) {
      allocator.Give(burst[i]);
    }
  }
  for (void* block : held) {
    allocator.Give(block);
  }
  state.SetItemsProcessed(state.iterations() * 64);
}

// Random: with `live` blocks out, give back a random one and take a new one in its place.
template <typename Allocator>
void BM_Random(benchmark::State& state) {
  Allocator allocator;
  const auto live = static_cast<size_t>(state.range(0));
  std::vector<void*> held(live);
  for (auto& block : held) {
    block = allocator.Take();
  }
  std::mt19937_64 random(1);
  std::vector<uint32_t> order(1 << 16);
  for (auto& at : order) {
    at = static_cast<uint32_t>(random() % live);
  }
  size_t k = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const uint32_t at = order[k++ & (order.size() - 1)];
    allocator.Give(held[at]);
    held[at] = allocator.Take();
    benchmark::DoNotOptimize(held[at]);
  }
  for (void* block : held) {
    allocator.Give(block);
  }
  state.SetItemsProcessed(state.iterations());
}

// One block taken and given back on an otherwise empty pool: every give frees the chunk. Both
// sides run on the C library's heap. The chunks are counted afterwards, in an untimed pass with
// the checking heap under the runtime: its atomic counters cost three locked instructions a
// pair, which the timed loop would otherwise charge to the pool alone.
template <typename Allocator>
void BM_PingPong(benchmark::State& state) {
  Allocator allocator;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    void* block = allocator.Take();
    benchmark::DoNotOptimize(block);
    allocator.Give(block);
  }
  constexpr int kCounted = 1000;
  test::CheckingHeapInstall();
  const int64_t before = test::HeapRequests();
  for (int i = 0; i < kCounted; ++i) {
    void* block = allocator.Take();
    benchmark::DoNotOptimize(block);
    allocator.Give(block);
  }
  const int64_t chunk_allocations = test::HeapRequests() - before;
  MemoryHeapSet(nullptr);
  state.counters["chunk_allocs_per_op"] = static_cast<double>(chunk_allocations) / kCounted;
}

BENCHMARK_TEMPLATE(BM_Lifo, PoolAllocator)->Arg(1000)->Arg(100000);
BENCHMARK_TEMPLATE(BM_Lifo, MallocAllocator)->Arg(1000)->Arg(100000);
BENCHMARK_TEMPLATE(BM_Lifo, BareListAllocator)->Arg(100000);
BENCHMARK_TEMPLATE(BM_LifoFresh, PoolAllocator)->Arg(1000);
BENCHMARK_TEMPLATE(BM_LifoFresh, MallocAllocator)->Arg(1000);
BENCHMARK_TEMPLATE(BM_Random, PoolAllocator)->Arg(1000)->Arg(100000);
BENCHMARK_TEMPLATE(BM_Random, MallocAllocator)->Arg(1000)->Arg(100000);
BENCHMARK_TEMPLATE(BM_PingPong, PoolAllocator);
BENCHMARK_TEMPLATE(BM_PingPong, MallocAllocator);

// ---------------------------------------------------------------------------------------------
// Maps against std::unordered_map and absl::flat_hash_map. Each anchor's rows run one template
// body, so that the two anchors are measured alike.

using UnorderedStringMap = std::unordered_map<std::u16string, int64_t>;
#if ZN_BENCH_ABSL
using AbslStringMap = absl::flat_hash_map<std::u16string, int64_t>;
#endif

std::vector<std::u16string> Keys(int64_t count) {
  std::vector<std::u16string> keys;
  keys.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    std::u16string key = u"binding_";
    for (int64_t n = i * 2654435761u % 1000003; n > 0; n /= 26) {
      key.push_back(static_cast<char16_t>(u'a' + n % 26));
    }
    key.push_back(u'_');
    key.push_back(static_cast<char16_t>(u'A' + i % 26));
    keys.push_back(key);
  }
  return keys;
}

void BM_MapFind(benchmark::State& state) {
  const auto keys = Keys(state.range(0));
  HashMap* map = nullptr;
  MapCreate(sizeof(int64_t), 0, nullptr, &map, 1024);
  for (size_t i = 0; i < keys.size(); ++i) {
    *static_cast<int64_t*>(MapAdd(map, keys[i].c_str(), 1)) = static_cast<int64_t>(i);
  }
  size_t k = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(MapFind(map, keys[k].c_str()));
    if (++k == keys.size()) {
      k = 0;
    }
  }
  MapFree(map);
  state.SetItemsProcessed(state.iterations());
}

template <typename AnchorMap>
void AnchorFind(benchmark::State& state) {
  const auto keys = Keys(state.range(0));
  AnchorMap map;
  for (size_t i = 0; i < keys.size(); ++i) {
    map[keys[i]] = static_cast<int64_t>(i);
  }
  size_t k = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(map.find(keys[k]));
    if (++k == keys.size()) {
      k = 0;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Adding every key to an empty map, the map freed between rounds (outside the timing).
void MapAddRounds(benchmark::State& state, const std::vector<std::u16string>& keys) {
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    HashMap* map = nullptr;
    MapCreate(sizeof(int64_t), 0, nullptr, &map, 1024);
    for (const auto& key : keys) {
      benchmark::DoNotOptimize(MapAdd(map, key.c_str(), 1));
    }
    state.PauseTiming();
    MapFree(map);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <typename AnchorMap>
void AnchorAddRounds(benchmark::State& state, const std::vector<std::u16string>& keys) {
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    auto* map = new AnchorMap();
    for (const auto& key : keys) {
      benchmark::DoNotOptimize((*map)[key] = 0);
    }
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapAdd(benchmark::State& state) {
  MapAddRounds(state, Keys(state.range(0)));
}

template <typename AnchorMap>
void AnchorAdd(benchmark::State& state) {
  AnchorAddRounds<AnchorMap>(state, Keys(state.range(0)));
}

// Keys like "key12345" (the same length and first unit, so only the hash tells them apart), found
// in a random order, so that each find's chain and key are wherever the heap put them.
std::vector<std::u16string> NumberedKeys(int64_t count) {
  std::vector<std::u16string> keys;
  keys.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const std::string text = "key" + std::to_string(i);
    keys.emplace_back(text.begin(), text.end());
  }
  return keys;
}

std::vector<size_t> RandomOrder(size_t count) {
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) {
    order[i] = i;
  }
  std::shuffle(order.begin(), order.end(), std::mt19937_64(42));
  return order;
}

void BM_MapFindRandom(benchmark::State& state) {
  const auto keys = NumberedKeys(state.range(0));
  const auto order = RandomOrder(keys.size());
  HashMap* map = nullptr;
  const size_t heap_before = mallinfo2().uordblks;
  MapCreate(sizeof(int64_t), 0, nullptr, &map, 1024);
  for (size_t i = 0; i < keys.size(); ++i) {
    *static_cast<int64_t*>(MapAdd(map, keys[i].c_str(), 1)) = static_cast<int64_t>(i);
  }
  // Heap bytes per key the map holds: header, buckets, elements, key copies and index.
  state.counters["heap_bytes_per_key"] =
      static_cast<double>(mallinfo2().uordblks - heap_before) / static_cast<double>(keys.size());
  size_t k = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(MapFind(map, keys[order[k]].c_str()));
    if (++k == keys.size()) {
      k = 0;
    }
  }
  MapFree(map);
  state.SetItemsProcessed(state.iterations());
}

template <typename AnchorMap>
void AnchorFindRandom(benchmark::State& state) {
  const auto keys = NumberedKeys(state.range(0));
  const auto order = RandomOrder(keys.size());
  AnchorMap map;
  for (size_t i = 0; i < keys.size(); ++i) {
    map[keys[i]] = static_cast<int64_t>(i);
  }
  size_t k = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(map.find(keys[order[k]]));
    if (++k == keys.size()) {
      k = 0;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_MapAddNumbered(benchmark::State& state) {
  MapAddRounds(state, NumberedKeys(state.range(0)));
}

template <typename AnchorMap>
void AnchorAddNumbered(benchmark::State& state) {
  AnchorAddRounds<AnchorMap>(state, NumberedKeys(state.range(0)));
}

// The anchors' rows keep plain names (BM_Unordered..., BM_Absl...), which the report looks up.
void BM_UnorderedFind(benchmark::State& state) {
  AnchorFind<UnorderedStringMap>(state);
}
void BM_UnorderedAdd(benchmark::State& state) {
  AnchorAdd<UnorderedStringMap>(state);
}
void BM_UnorderedFindRandom(benchmark::State& state) {
  AnchorFindRandom<UnorderedStringMap>(state);
}
void BM_UnorderedAddNumbered(benchmark::State& state) {
  AnchorAddNumbered<UnorderedStringMap>(state);
}

BENCHMARK(BM_MapFind)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_UnorderedFind)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_MapAdd)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_UnorderedAdd)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_MapFindRandom)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_UnorderedFindRandom)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_MapAddNumbered)->Arg(10000);
BENCHMARK(BM_UnorderedAddNumbered)->Arg(10000);

#if ZN_BENCH_ABSL
void BM_AbslFind(benchmark::State& state) {
  AnchorFind<AbslStringMap>(state);
}
void BM_AbslAdd(benchmark::State& state) {
  AnchorAdd<AbslStringMap>(state);
}
void BM_AbslFindRandom(benchmark::State& state) {
  AnchorFindRandom<AbslStringMap>(state);
}
void BM_AbslAddNumbered(benchmark::State& state) {
  AnchorAddNumbered<AbslStringMap>(state);
}

BENCHMARK(BM_AbslFind)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_AbslAdd)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_AbslFindRandom)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_AbslAddNumbered)->Arg(10000);
#endif

// ---------------------------------------------------------------------------------------------
// A growing map against both anchors: one iteration adds "item0" ... "itemN-1" to an empty
// map, then finds each once in a random order. The heap bytes the map holds per element (its
// header, buckets, elements, key copies; for the anchors their nodes or slots, key strings and
// buckets) are measured after the adds of the first iteration, mmapped blocks included.

std::vector<std::u16string> ItemKeys(int64_t count) {
  std::vector<std::u16string> keys;
  keys.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    const std::string text = "item" + std::to_string(i);
    keys.emplace_back(text.begin(), text.end());
  }
  return keys;
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

template <typename Map>
void AddThenFind(benchmark::State& state) {
  const auto keys = ItemKeys(state.range(0));
  const auto order = RandomOrder(keys.size());
  double bytes = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const size_t before = HeapInUse();
    Map map;
    for (size_t i = 0; i < keys.size(); ++i) {
      map.Add(keys[i], static_cast<int64_t>(i));
    }
    if (bytes == 0) {
      bytes = static_cast<double>(HeapInUse() - before) / static_cast<double>(keys.size());
    }
    for (const size_t at : order) {
      benchmark::DoNotOptimize(map.Find(keys[at]));
    }
    state.PauseTiming();
    map.Free();
    state.ResumeTiming();
  }
  state.counters["bytes_per_element"] = bytes;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

struct GrowingMap {
  HashMap* map = MapCreate(sizeof(int64_t), 0, nullptr, nullptr, 0, MapGrowing);
  void Add(const std::u16string& key, int64_t value) {
    *static_cast<int64_t*>(MapAdd(map, key.c_str(), 1)) = value;
  }
  void* Find(const std::u16string& key) { return MapFind(map, key.c_str()); }
  void Free() { MapFree(map); }
};

struct UnorderedMap {
  std::unordered_map<std::u16string, int64_t>* map =
      new std::unordered_map<std::u16string, int64_t>();
  void Add(const std::u16string& key, int64_t value) { (*map)[key] = value; }
  const void* Find(const std::u16string& key) {
    const auto found = map->find(key);
    return found != map->end() ? &found->second : nullptr;
  }
  void Free() { delete map; }
};

#if ZN_BENCH_ABSL
struct AbslMap {
  AbslStringMap* map = new AbslStringMap();
  void Add(const std::u16string& key, int64_t value) { (*map)[key] = value; }
  const void* Find(const std::u16string& key) {
    const auto found = map->find(key);
    return found != map->end() ? &found->second : nullptr;
  }
  void Free() { delete map; }
};

void BM_AbslAddFind(benchmark::State& state) {
  AddThenFind<AbslMap>(state);
}

BENCHMARK(BM_AbslAddFind)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);
#endif

void BM_GrowingMapAddFind(benchmark::State& state) {
  AddThenFind<GrowingMap>(state);
}

void BM_UnorderedAddFind(benchmark::State& state) {
  AddThenFind<UnorderedMap>(state);
}

BENCHMARK(BM_GrowingMapAddFind)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedAddFind)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// ListSelect by ascending index: one step per call, whatever the list's length.

void BM_ListSelectAscending(benchmark::State& state) {
  ListHolder holder{nullptr, nullptr};
  ListCreate(sizeof(int64_t), &holder, nullptr, 0);
  const int64_t count = state.range(0);
  for (int64_t i = 0; i < count; ++i) {
    *static_cast<int64_t*>(ListAdd(holder.list)) = i;
  }
  int64_t index = 0;
  int64_t steps = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(ListSelect(holder.list, index));
    steps += internal::ListLastSelect().steps;
    if (++index == count) {
      index = 0;
    }
  }
  state.counters["steps_per_call"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kAvgIterations);
  ListFree(holder.list);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ListSelectAscending)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
