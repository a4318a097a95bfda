// Test support shared by the differential tests and the fuzz target: a model of the hash map and
// of the linked list built on the standard containers, and a driver that plays a byte string of
// operations on two real maps and two real lists, checking them against the models after every
// step. Not installed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn::testing_model {

// Reads the operation string; past the end every byte is 0, so any input is a whole program.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The map model: chains as deques (front = head), positions as (bucket, index).

struct ModelEntry {
  std::u16string key;
  int64_t stamp;
  void* value;  // the real value's address, learnt when the element is made
  int64_t age = 0;
};

struct Position {
  int32_t bucket;
  size_t index;
};

inline char16_t FoldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? unit + 32 : unit;
}

// A growing map doubles past two elements a bucket; its bucket is the top bits of the hash times
// the 64-bit golden ratio, and doubling rebuilds the chains oldest element first.
class MapModel {
 public:
  MapModel(uint32_t buckets, bool no_case, bool growing = false)
      : chains_(buckets), no_case_(no_case), growing_(growing) {}

  uint32_t Bucket(const std::u16string& key) const {
    // An independent reference: the recurrence in 64-bit arithmetic, reduced to 32 bits.
    uint64_t hash = 0;
    for (char16_t unit : key) {
      hash = (hash * 65599 + (no_case_ ? FoldAscii(unit) : unit)) & 0xFFFFFFFFu;
    }
    if (growing_) {
      return static_cast<uint32_t>((hash * 0x9E3779B97F4A7C15u) >>
                                   (64 - __builtin_ctzll(chains_.size())));
    }
    return static_cast<uint32_t>(hash % chains_.size());
  }
  bool Same(const std::u16string& a, const std::u16string& b) const {
    if (a.size() != b.size()) {
      return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
      if ((no_case_ ? FoldAscii(a[i]) : a[i]) != (no_case_ ? FoldAscii(b[i]) : b[i])) {
        return false;
      }
    }
    return true;
  }
  ModelEntry& At(Position p) { return chains_[p.bucket][p.index]; }

  // Pushes a new element at the head of its chain and makes it current, as an add does.
  Position Add(const std::u16string& key, int64_t stamp, void* value) {
    const uint32_t b = Bucket(key);
    chains_[b].push_front({key, stamp, value, ++age_});
    current_ = Position{static_cast<int32_t>(b), 0};
    current_bucket_ = static_cast<int32_t>(b);
    previous_.reset();
    if (growing_ && Size() > 2 * chains_.size()) {
      Double();
    }
    return *current_;
  }
  std::optional<Position> Find(const std::u16string& key) {
    const uint32_t b = Bucket(key);
    for (size_t i = 0; i < chains_[b].size(); ++i) {
      if (Same(chains_[b][i].key, key)) {
        current_ = Position{static_cast<int32_t>(b), i};
        current_bucket_ = saved_bucket_ = static_cast<int32_t>(b);
        previous_ = i > 0 ? std::optional<Position>(Position{static_cast<int32_t>(b), i - 1})
                          : std::nullopt;
        return current_;
      }
    }
    return std::nullopt;
  }
  void Reset() {
    current_.reset();
    previous_.reset();
    current_bucket_ = -1;
  }
  std::optional<Position> Next() {
    previous_ = current_;
    saved_bucket_ = current_bucket_;
    if (current_) {
      if (current_->index + 1 < chains_[current_->bucket].size()) {
        ++current_->index;
        return current_;
      }
      return ScanFrom(current_->bucket + 1);
    }
    if (current_bucket_ == -1) {
      return ScanFrom(0);
    }
    return std::nullopt;
  }
  // Deletes the current element; the element visited before it becomes current.
  std::optional<Position> DeleteCurrent() {
    if (!current_) {
      return std::nullopt;
    }
    auto& chain = chains_[current_->bucket];
    chain.erase(chain.begin() + static_cast<std::ptrdiff_t>(current_->index));
    current_ = previous_;
    current_bucket_ = saved_bucket_;
    previous_.reset();
    return current_;
  }
  void Clear() {
    for (auto& chain : chains_) {
      chain.clear();
    }
    Reset();
    saved_bucket_ = -1;
  }
  // Every element in the order a copy adds them: a growing map's oldest first, another's
  // bucket by bucket.
  std::vector<ModelEntry> Ordered() const {
    std::vector<ModelEntry> all;
    for (const auto& chain : chains_) {
      all.insert(all.end(), chain.begin(), chain.end());
    }
    if (growing_) {
      std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.age < b.age; });
    }
    return all;
  }
  size_t Size() const {
    size_t n = 0;
    for (const auto& chain : chains_) {
      n += chain.size();
    }
    return n;
  }
  std::vector<std::deque<ModelEntry>>& chains() { return chains_; }
  const std::optional<Position>& current() const { return current_; }

 private:
  std::optional<Position> ScanFrom(int32_t bucket) {
    for (auto b = static_cast<size_t>(bucket); b < chains_.size(); ++b) {
      if (!chains_[b].empty()) {
        current_ = Position{static_cast<int32_t>(b), 0};
        current_bucket_ = static_cast<int32_t>(b);
        return current_;
      }
    }
    current_.reset();
    current_bucket_ = static_cast<int32_t>(chains_.size());
    return std::nullopt;
  }

  // The chains rebuilt newest element first; the current and previous elements keep theirs.
  void Double() {
    const int64_t current_age = current_ ? At(*current_).age : -1;
    const int64_t previous_age = previous_ ? At(*previous_).age : -1;
    const std::vector<ModelEntry> all = Ordered();
    chains_.assign(chains_.size() * 2, {});
    for (auto entry = all.rbegin(); entry != all.rend(); ++entry) {
      const auto b = static_cast<int32_t>(Bucket(entry->key));
      const Position at{b, chains_[b].size()};
      chains_[b].push_back(*entry);
      if (entry->age == current_age) {
        current_ = at, current_bucket_ = b;
      }
      if (entry->age == previous_age) {
        previous_ = at, saved_bucket_ = b;
      }
    }
  }

  std::vector<std::deque<ModelEntry>> chains_;
  bool no_case_;
  bool growing_;
  int64_t age_ = 0;
  std::optional<Position> current_;
  std::optional<Position> previous_;
  int32_t current_bucket_ = -1;
  int32_t saved_bucket_ = -1;
};

// ---------------------------------------------------------------------------------------------
// The list model: values in order, with the current index.

struct ListModel {
  std::vector<std::pair<int64_t, void*>> items;  // stamp, real value address
  std::optional<size_t> current;
};

// ---------------------------------------------------------------------------------------------
// The driver.

class Driver {
 public:
  explicit Driver(uint8_t flags = 0) : flags_(flags) {
    for (int i = 0; i < 2; ++i) {
      MakeMap(i, 1 + i * 6, false);
      ListCreate(sizeof(int64_t), &lists_[i], nullptr, 0);
    }
  }
  ~Driver() {
    for (int i = 0; i < 2; ++i) {
      MapFree(maps_[i]);
      ListFree(lists_[i].list);
    }
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Plays the whole string; the first mismatch is returned, empty when there was none.
  std::string Run(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    for (int step = 0; !in.done() && failure_.empty(); ++step) {
      const uint8_t op = in.next();
      const int which = (op >> 7) & 1;
      if ((op & 0x40) == 0) {
        MapStep(op & 0x3F, which, in);
      } else {
        ListStep(op & 0x3F, which, in);
      }
      if (failure_.empty()) {
        CheckAll();
      }
      if (!failure_.empty()) {
        failure_ = "step " + std::to_string(step) + ": " + failure_;
      }
    }
    return failure_;
  }

 private:
  static std::u16string KeyFrom(ByteReader& in) {
    const uint8_t b = in.next();
    std::u16string key;
    const char16_t alphabet[] = {u'a', u'b', u'A', u'B'};
    for (int i = 0; i < (b & 3); ++i) {
      key.push_back(alphabet[(b >> (2 + 2 * i)) & 3]);
    }
    return key;
  }
  static int64_t& Stamp(void* value) { return *static_cast<int64_t*>(value); }

  void Fail(const std::string& what) {
    if (failure_.empty()) {
      failure_ = what;
    }
  }

  void MakeMap(int i, uint32_t buckets, bool no_case) {
    MapCreate(sizeof(int64_t), 0, nullptr, &maps_[i], static_cast<int32_t>(buckets),
              (no_case ? MapKeyNoCase : 0) | flags_);
    models_[i] = MapModel(maps_[i] != nullptr ? maps_[i]->bucket_count : 1, no_case,
                          (flags_ & MapGrowing) != 0);
    if (maps_[i] == nullptr) {
      Fail("MapCreate failed");
    }
  }

  void ExpectValue(void* got, std::optional<Position> want, MapModel& model, const char* op) {
    void* expected = want ? model.At(*want).value : nullptr;
    if (got != expected) {
      Fail(std::string(op) + " returned another value than the model");
    }
  }

  void MapStep(int op, int i, ByteReader& in) {
    HashMap* map = maps_[i];
    MapModel& model = models_[i];
    switch (op % 9) {
      case 0:
      case 1: {  // add, mode 1 or 0
        const std::u16string key = KeyFrom(in);
        const int32_t mode = op % 9 == 0 ? 1 : 0;
        void* value = MapAdd(map, key.c_str(), mode);
        if (value == nullptr) {
          return Fail("MapAdd gave null");
        }
        if (mode == 1) {
          if (auto found = model.Find(key)) {
            if (model.At(*found).value != value) {
              return Fail("mode 1 did not find the element");
            }
            if (Stamp(value) != 0) {
              return Fail("mode 1 did not zero the value");
            }
            model.At(*found).stamp = Stamp(value) = ++stamp_;
            return;
          }
        }
        Stamp(value) = ++stamp_;
        model.Add(key, stamp_, value);
        return;
      }
      case 2:
      case 3: {  // find
        const std::u16string key = KeyFrom(in);
        ExpectValue(MapFind(map, key.c_str()), model.Find(key), model, "MapFind");
        return;
      }
      case 4:  // reset
        MapReset(map);
        model.Reset();
        return;
      case 5:  // step
        ExpectValue(MapNext(map), model.Next(), model, "MapNext");
        return;
      case 6:  // delete the current element
        ExpectValue(MapDeleteCurrent(map), model.DeleteCurrent(), model, "MapDeleteCurrent");
        return;
      case 7: {  // copy into the other map, clearing first or not
        const int clear = in.next() & 1;
        const int other = 1 - i;
        // Copies back and forth double the elements each time: keep the maps small enough for
        // a check after every step.
        if (models_[other].Size() * (clear != 0 ? 0 : 1) + model.Size() > kMaxElements) {
          return;
        }
        if (MapCopy(map, maps_[other], clear) != 1) {
          return Fail("MapCopy refused");
        }
        if (clear != 0) {
          models_[other].Clear();
        }
        for (const ModelEntry& entry : model.Ordered()) {
          models_[other].Add(entry.key, entry.stamp, nullptr);
        }
        LearnValues(other);
        return;
      }
      default: {  // clear, or free and re-create with another shape
        const uint8_t how = in.next();
        if ((how & 1) == 0) {
          MapClear(map);
          model.Clear();
          return;
        }
        MapFree(map);
        if (maps_[i] != nullptr) {
          return Fail("MapFree left the variable set");
        }
        const uint32_t shapes[] = {1, 2, 3, 7, 16, 64};
        MakeMap(i, shapes[(how >> 1) % 6], (how & 0x80) != 0);
        return;
      }
    }
  }

  // Copies made by the real map are learnt by position once their keys have been checked.
  void LearnValues(int i) {
    auto& chains = models_[i].chains();
    for (uint32_t b = 0; b < chains.size(); ++b) {
      MapElement* element = maps_[i]->buckets[b];
      for (ModelEntry& entry : chains[b]) {
        if (element == nullptr) {
          return Fail("a chain is shorter than the model's");
        }
        if (entry.value == nullptr) {
          entry.value = internal::ElementValue(element);
        }
        element = element->next;
      }
    }
  }

  void ListStep(int op, int i, ByteReader& in) {
    LinkedList* list = lists_[i].list;
    ListModel& model = listModels_[i];
    switch (op % 6) {
      case 0:
      case 1: {  // add behind the current element
        void* value = ListAdd(list);
        if (value == nullptr) {
          return Fail("ListAdd gave null");
        }
        if (Stamp(value) != 0) {
          return Fail("ListAdd gave a value that is not zero");
        }
        Stamp(value) = ++stamp_;
        const size_t at = model.current ? *model.current + 1 : 0;
        model.items.insert(model.items.begin() + static_cast<std::ptrdiff_t>(at), {stamp_, value});
        model.current = at;
        return;
      }
      case 2:
      case 3: {  // select, sometimes out of range
        const auto count = static_cast<int64_t>(model.items.size());
        const int64_t n = static_cast<int64_t>(in.next() % (count + 3)) - 1;
        const std::optional<size_t> previous = model.current;
        void* got = ListSelect(list, n);
        if (n < 0 || n >= count) {
          model.current.reset();
          if (got != nullptr) {
            Fail("ListSelect out of range gave a value");
          }
          return;
        }
        model.current = static_cast<size_t>(n);
        if (got != model.items[*model.current].second) {
          return Fail("ListSelect reached another element");
        }
        CheckSteps(n, previous, count);
        return;
      }
      case 4: {  // copy into the other list, or onto itself
        const uint8_t how = in.next();
        const int target = (how & 2) != 0 ? i : 1 - i;
        const int clear = how & 1;
        if (listModels_[target].items.size() * (clear != 0 ? 0 : 1) + model.items.size() >
            kMaxElements) {
          return;
        }
        if (ListCopy(list, 0, lists_[target].list, 0, clear) != 1) {
          return Fail("ListCopy refused");
        }
        if (target == i && clear != 0) {
          return;
        }
        ListModel& into = listModels_[target];
        const auto source = model.items;  // a snapshot: the copy may be onto itself
        if (clear != 0) {
          into.items.clear();
          into.current.reset();
        }
        for (const auto& item : source) {
          const size_t at = into.current ? *into.current + 1 : 0;
          into.items.insert(into.items.begin() + static_cast<std::ptrdiff_t>(at),
                            {item.first, nullptr});
          into.current = at;
        }
        size_t k = 0;
        for (ListElement* e = lists_[target].list->first; e != nullptr && k < into.items.size();
             e = e->next, ++k) {
          if (into.items[k].second == nullptr) {
            into.items[k].second = internal::ElementValue(e);
          }
        }
        return;
      }
      default: {  // clear, or free and re-create
        if ((in.next() & 1) == 0) {
          ListClear(list);
        } else {
          ListFree(list);
          if (lists_[i].list != nullptr || lists_[i].current != nullptr) {
            return Fail("ListFree left the holder set");
          }
          if (ListCreate(sizeof(int64_t), &lists_[i], nullptr, 0) == nullptr) {
            return Fail("ListCreate failed");
          }
        }
        model.items.clear();
        model.current.reset();
        return;
      }
    }
  }

  // The walk rule: with a valid previous index the walk is the shortest the rule allows.
  void CheckSteps(int64_t n, std::optional<size_t> previous, int64_t count) {
    int64_t expected = 0;
    if (!previous) {
      expected = n < count / 2 ? n : count - 1 - n;
    } else {
      const auto c = static_cast<int64_t>(*previous);
      if (n > c) {
        expected = n - c < count - n ? n - c : count - 1 - n;
      } else {
        expected = c - n >= n ? n : c - n;
      }
    }
    if (internal::ListLastSelect().steps != expected) {
      Fail("ListSelect took " + std::to_string(internal::ListLastSelect().steps) +
           " steps instead of " + std::to_string(expected));
    }
  }

  void CheckAll() {
    for (int i = 0; i < 2 && failure_.empty(); ++i) {
      CheckMap(i);
      CheckList(i);
    }
  }

  void CheckMap(int i) {
    HashMap* map = maps_[i];
    MapModel& model = models_[i];
    if (map == nullptr) {
      return Fail("a map is missing");
    }
    if (static_cast<size_t>(map->element_count) != model.Size()) {
      return Fail("element count differs");
    }
    auto& chains = model.chains();
    for (uint32_t b = 0; b < map->bucket_count; ++b) {
      MapElement* element = map->buckets[b];
      for (const ModelEntry& entry : chains[b]) {
        if (element == nullptr) {
          return Fail("chain " + std::to_string(b) + " is too short");
        }
        if (internal::ElementValue(element) != entry.value) {
          return Fail("chain order differs");
        }
        if (std::u16string(element->key.text) != entry.key) {
          return Fail("a key copy differs");
        }
        if (Stamp(entry.value) != entry.stamp) {
          return Fail("a value changed");
        }
        element = element->next;
      }
      if (element != nullptr) {
        return Fail("chain " + std::to_string(b) + " is too long");
      }
    }
    const auto& current = model.current();
    if ((current ? model.At(*current).value : nullptr) !=
        (map->current != nullptr ? internal::ElementValue(map->current) : nullptr)) {
      return Fail("the current element differs");
    }
  }

  void CheckList(int i) {
    const ListHolder& holder = lists_[i];
    LinkedList* list = holder.list;
    const ListModel& model = listModels_[i];
    if (list == nullptr) {
      return Fail("a list is missing");
    }
    if (static_cast<size_t>(list->count) != model.items.size()) {
      return Fail("list count differs");
    }
    ListElement* previous = nullptr;
    size_t k = 0;
    for (ListElement* e = list->first; e != nullptr; previous = e, e = e->next, ++k) {
      if (k >= model.items.size()) {
        return Fail("the list is too long");
      }
      if (e->previous != previous) {
        return Fail("a backward link is wrong");
      }
      if (internal::ElementValue(e) != model.items[k].second) {
        return Fail("list order differs");
      }
      if (Stamp(model.items[k].second) != model.items[k].first) {
        return Fail("a list value changed");
      }
    }
    if (k != model.items.size()) {
      return Fail("the list is too short");
    }
    if (list->last != previous) {
      return Fail("the last element is wrong");
    }
    ListElement* expected = model.current
                                ? static_cast<ListElement*>(static_cast<void*>(
                                      static_cast<char*>(model.items[*model.current].second) - 16))
                                : nullptr;
    if (list->current != expected || holder.current != expected) {
      return Fail("the current element differs");
    }
    if (model.current &&
        (list->index_invalid != 0 || list->current_index != static_cast<int64_t>(*model.current))) {
      return Fail("the current index differs");
    }
  }

  static constexpr size_t kMaxElements = 600;

  uint8_t flags_;
  HashMap* maps_[2] = {nullptr, nullptr};
  MapModel models_[2] = {MapModel(1, false), MapModel(1, false)};
  ListHolder lists_[2] = {{nullptr, nullptr}, {nullptr, nullptr}};
  ListModel listModels_[2];
  int64_t stamp_ = 0;
  std::string failure_;
};

}  // namespace zn::testing_model
