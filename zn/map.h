// zn::Map<T, Key>: a typed hash map on the runtime's HashMap.
//
//   zn::Map<Item> items;                                   // string keys
//   items.insert_or_assign(u"item-1", Item{1, 2.5, u"ACME"});
//   if (Item* item = items.find(u"item-1")) item->count += 1;
//   erase_if(items, [](const auto& entry) { return entry.second.count % 2 == 0; });
//   for (auto& [key, item] : items) { ... }               // lookups and inserts are fine here
//
// Keys: `zn::StringKey` (the default: UTF-16 text, compared unit by unit), `zn::FoldedKey` (text
// compared without letter case; an element keeps the spelling it was first added with) or
// `std::int64_t`. A text key may be given as a literal, a zn::String or any std::u16string_view
// (a view that is not terminated is copied first).
//
// T is any movable type: each value is constructed in place and destroyed when its element goes,
// not copied as bytes. Values lie 8-byte aligned in the map's own blocks and never move, so a
// pointer or reference to a value stays valid until that element is erased or the map is
// cleared, moved from or destroyed. The map grows its bucket array as it fills.
//
// How it differs from std::unordered_map:
// - `find` gives the value's address, or null: an iterator is a walk, not a position.
// - Iterators walk with a cursor of their own: inside a loop, finds, inserts and erasing other
//   elements are allowed; an element inserted during the walk may or may not be visited (in
//   this map it is not). Erase the element a loop stands on through `erase(it)` or `erase_if`.
// - Nothing is invalidated by finds and inserts; erasing invalidates the erased element only.
// - Single inserts give the strong guarantee: when T's constructor throws, the map is unchanged.
//   Exhausted memory throws std::bad_alloc, the map unchanged.
// - No back-pointer: the map is one pointer, may be moved freely and kept in a std::vector. A
//   moved-from map is empty and usable.
// - The walk order is the runtime's (newest first); it is no order to rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "runtime/containers/containers.h"
#include "zn/string.h"

namespace zn {

// StringKey, FoldedKey: the key kinds of text keys, exact and case-blind.
struct StringKey {};
struct FoldedKey {};

namespace internal {

// A text key as the C-level calls take it: terminated. Literals, Strings and std::u16strings go
// straight through; any other view is copied (on the stack when short).
template <class K, class F>
decltype(auto) MapWithKey(const K& key, F&& use) {
  if constexpr (std::is_convertible_v<const K&, const char16_t*>) {
    const char16_t* text = key;
    return use(text != nullptr ? text : EmptyString);
  } else if constexpr (std::is_same_v<K, String> || std::is_same_v<K, std::u16string>) {
    return use(key.c_str());
  } else {
    const std::u16string_view view = key;
    constexpr std::size_t kShort = 64;
    if (view.size() < kShort) {
      char16_t buffer[kShort];
      view.copy(buffer, view.size());
      buffer[view.size()] = 0;
      return use(static_cast<const char16_t*>(buffer));
    }
    const std::u16string copy(view);
    return use(copy.c_str());
  }
}

template <class K>
concept MapTextKey = std::is_convertible_v<const K&, const char16_t*> ||
    std::is_convertible_v<const K&, std::u16string_view>;

}  // namespace internal

// Map: a typed hash map; see the overview above.
template <class T, class Key = StringKey>
class Map {
  static_assert(std::is_same_v<Key, StringKey> || std::is_same_v<Key, FoldedKey> ||
                    std::is_same_v<Key, std::int64_t>,
                "zn::Map keys are zn::StringKey, zn::FoldedKey or std::int64_t");
  static_assert(alignof(T) <= 8, "map values lie 8-byte aligned");
  static_assert(std::is_move_constructible_v<T>, "map values are movable");
  static constexpr bool kIntegerKeys = std::is_same_v<Key, std::int64_t>;

 public:
  // The key a walk hands out: a view of the map's own copy (valid while the element lives), or
  // the integer.
  using key_type = std::conditional_t<kIntegerKeys, std::int64_t, std::u16string_view>;
  // The value type and the iterators (a walk with its own cursor).
  using mapped_type = T;
  template <bool Const>
  class Iterator;
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  // An empty map; allocates nothing until the first insert.
  Map() noexcept = default;
  // Moves take the map and leave the source empty and usable.
  Map(Map&& other) noexcept : map_(std::exchange(other.map_, nullptr)) {}
  // Move assignment: frees what this map held, then takes the other.
  Map& operator=(Map&& other) noexcept {
    Map old(std::move(*this));
    map_ = std::exchange(other.map_, nullptr);
    return *this;
  }
  // A copy of every element (T copied); on an exception nothing is left behind.
  Map(const Map& other) requires std::is_copy_constructible_v<T> {
    Map copy;
    for (const auto& [key, value] : other) {
      copy.try_emplace(key, value);
    }
    map_ = std::exchange(copy.map_, nullptr);
  }
  // Assigns a copy of every element; on an exception the map is as it was.
  Map& operator=(const Map& other) requires std::is_copy_constructible_v<T> {
    if (this != &other) {
      Map copy(other);
      std::swap(map_, copy.map_);
    }
    return *this;
  }
  ~Map() {
    clear();
    MapFree(map_);
  }

  // size: the number of elements.
  std::size_t size() const noexcept {
    return map_ == nullptr ? 0 : static_cast<std::size_t>(MapElementCount(map_));
  }
  // empty: whether there is no element.
  bool empty() const noexcept { return size() == 0; }

  // find: the value with this key, or null. contains: whether the key is there.
  template <class K>
  T* find(const K& key) noexcept {
    return Value(FindRaw(key));
  }
  template <class K>
  // find on a const map.
  const T* find(const K& key) const noexcept {
    return Value(FindRaw(key));
  }
  template <class K>
  // contains: whether the key is there.
  bool contains(const K& key) const noexcept {
    return FindRaw(key) != nullptr;
  }

  // try_emplace: when the key is absent, adds it with a T made from `args` and gives {value,
  // true}; when present, makes nothing and gives {value, false}. Strong guarantee.
  template <class K, class... Args>
  std::pair<T*, bool> try_emplace(const K& key, Args&&... args) {
    if (void* found = FindRaw(key)) {
      return {Value(found), false};
    }
    return {Construct(AddRaw(key), std::forward<Args>(args)...), true};
  }

  // insert_or_assign: assigns `value` to the present element, or adds one made from it; gives
  // {value, whether it was added}. Strong guarantee for the add.
  template <class K, class V>
  std::pair<T*, bool> insert_or_assign(const K& key, V&& value) {
    if (void* found = FindRaw(key)) {
      T* present = Value(found);
      *present = std::forward<V>(value);
      return {present, false};
    }
    return {Construct(AddRaw(key), std::forward<V>(value)), true};
  }

  // operator[]: the value with this key, added as T() when absent.
  template <class K>
  T& operator[](const K& key) {
    return *try_emplace(key).first;
  }

  // erase: removes the element with this key; 1 when there was one, else 0.
  template <class K>
  std::size_t erase(const K& key) noexcept {
    void* found = FindRaw(key);
    if (found == nullptr) {
      return 0;
    }
    Value(found)->~T();
    MapDeleteValue(map_, found);
    return 1;
  }
  // erase: removes the element the iterator stands on; gives the iterator of the next one.
  iterator erase(iterator position) noexcept {
    iterator next = position;
    next.Erase();
    return next;
  }

  // clear: removes every element.
  void clear() noexcept {
    if (map_ == nullptr) {
      return;
    }
    if constexpr (!std::is_trivially_destructible_v<T>) {
      MapCursor cursor = MapCursorStart(map_);
      while (void* value = MapCursorNext(&cursor)) {
        Value(value)->~T();
      }
    }
    MapClear(map_);
  }

  // begin and end: a walk over every element.
  iterator begin() noexcept { return iterator(map_); }
  iterator end() noexcept { return iterator(); }
  const_iterator begin() const noexcept { return const_iterator(map_); }
  const_iterator end() const noexcept { return const_iterator(); }

  // The underlying map, for the C-level calls that read it (MapElementCount, MapValueKey). It
  // stays owned by this Map; null before the first insert.
  HashMap* get() const noexcept { return map_; }

  // Iterator: a walk of its own; `*it` is a pair of the key and a reference to the value, kept
  // in the iterator so that `auto& [key, value]` binds to it.
  template <bool Const>
  class Iterator {
   public:
    // The iterator's traits: an input iterator of key and value pairs.
    using value_type = std::pair<key_type, std::conditional_t<Const, const T&, T&>>;
    using reference = value_type&;
    using pointer = value_type*;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;

    // A walk that is over; copies walk on from the same element; `*it` and `->` the pair, `++`
    // the next element, equal to end() after the last.
    Iterator() noexcept = default;
    Iterator(const Iterator& other) noexcept : cursor_(other.cursor_) { Load(other.value_); }
    // Copy assignment: walks on from the same element.
    Iterator& operator=(const Iterator& other) noexcept {
      if (this != &other) {
        cursor_ = other.cursor_;
        Load(other.value_);
      }
      return *this;
    }
    // The pair of the element the walk stands on.
    reference operator*() const noexcept { return *entry_; }
    // The pair, as a pointer.
    pointer operator->() const noexcept { return &*entry_; }
    // ++: the next element.
    Iterator& operator++() noexcept {
      Load(MapCursorNext(&cursor_));
      return *this;
    }
    // Iterators are equal when they stand on the same element (or both at the end).
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
      return a.value_ == b.value_;
    }

   private:
    friend class Map;
    explicit Iterator(HashMap* map) noexcept : cursor_(MapCursorStart(map)) { ++*this; }
    // Stands on the element whose value is at `value` (null: the end).
    void Load(void* value) noexcept {
      value_ = value;
      entry_.reset();
      if (value == nullptr) {
        return;
      }
      if constexpr (kIntegerKeys) {
        entry_.emplace(MapCursorIntegerKey(&cursor_), *Map::Value(value));
      } else {
        entry_.emplace(std::u16string_view(MapCursorKey(&cursor_)), *Map::Value(value));
      }
    }
    void Erase() noexcept {
      Map::Value(value_)->~T();
      MapCursorDelete(&cursor_);
      Load(MapCursorNext(&cursor_));
    }
    MapCursor cursor_ = MapCursorStart(nullptr);
    void* value_ = nullptr;
    mutable std::optional<value_type> entry_;
  };

 private:
  static T* Value(void* raw) noexcept { return std::launder(static_cast<T*>(raw)); }
  static const T* Value(const void* raw) noexcept {
    return std::launder(static_cast<const T*>(raw));
  }

  template <class K>
  void* FindRaw(const K& key) const noexcept {
    if (map_ == nullptr) {
      return nullptr;
    }
    if constexpr (kIntegerKeys) {
      static_assert(std::is_integral_v<K>, "this map's keys are integers");
      return MapFindInteger(map_, static_cast<std::int64_t>(key));
    } else {
      static_assert(internal::MapTextKey<K>, "this map's keys are UTF-16 text");
      return internal::MapWithKey(key,
                                  [this](const char16_t* text) { return MapFind(map_, text); });
    }
  }

  // Adds an element for a key known to be absent; its value is zeroed bytes, not yet a T.
  template <class K>
  void* AddRaw(const K& key) {
    if (map_ == nullptr) {
      constexpr uint8_t kind = kIntegerKeys                     ? MapIntegerKeys
                               : std::is_same_v<Key, FoldedKey> ? MapKeyNoCase
                                                                : 0;
      map_ = MapCreate(sizeof(T), 0, nullptr, nullptr, 8, MapGrowing | kind);
      if (map_ == nullptr) {
        throw std::bad_alloc();
      }
    }
    void* raw = nullptr;
    if constexpr (kIntegerKeys) {
      raw = MapAddInteger(map_, static_cast<std::int64_t>(key), 0);
    } else {
      raw =
          internal::MapWithKey(key, [this](const char16_t* text) { return MapAdd(map_, text, 0); });
    }
    if (raw == nullptr) {
      throw std::bad_alloc();
    }
    return raw;
  }

  // Makes the T of a new element; when that throws, the element goes again.
  template <class... Args>
  T* Construct(void* raw, Args&&... args) {
    try {
      return ::new (raw) T(std::forward<Args>(args)...);
    } catch (...) {
      MapDeleteValue(map_, raw);
      throw;
    }
  }

  HashMap* map_ = nullptr;
};

// erase_if: removes every element for which `predicate(entry)` holds (entry.first the key,
// entry.second the value); gives the number removed. Found by argument-dependent lookup:
// `erase_if(map, ...)`.
template <class T, class Key, class Predicate>
std::size_t erase_if(Map<T, Key>& map, Predicate predicate) {
  std::size_t removed = 0;
  for (auto it = map.begin(); it != map.end();) {
    if (predicate(std::as_const(*it))) {
      it = map.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return removed;
}

}  // namespace zn
