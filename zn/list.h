// zn::List<T>: a typed linked list on the runtime's LinkedList.
//
//   zn::List<Change> changes;
//   changes.emplace_back(Change{u"item-1", +3});
//   erase_if(changes, [](const Change& change) { return change.delta == 0; });
//   for (Change& change : changes) { ... }          // appending inside the loop is fine
//
// T is any movable type, constructed in place and destroyed when its element goes. Values lie
// 8-byte aligned and never move: a reference stays valid until its element is erased or the list
// is cleared, moved from or destroyed. Iterators walk with a cursor of their own: appending and
// erasing other elements inside a loop is allowed, and elements appended during a walk are
// visited. Erase the element a loop stands on through `erase(it)` or `erase_if`. Single appends
// give the strong guarantee; exhausted memory throws std::bad_alloc, the list unchanged. The list
// is one pointer with no back-pointer: it may be moved freely and kept in a std::vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <type_traits>
#include <utility>

#include "runtime/containers/containers.h"

namespace zn {

// List: a typed linked list; see the overview above.
template <class T>
class List {
  static_assert(alignof(T) <= 8, "list values lie 8-byte aligned");
  static_assert(std::is_move_constructible_v<T>, "list values are movable");

 public:
  // The element type and the iterators (a walk with its own cursor, of T& or const T&).
  using value_type = T;
  template <bool Const>
  class Iterator;
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  // An empty list; allocates nothing until the first append.
  List() noexcept = default;
  // Moves take the list and leave the source empty and usable.
  List(List&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
  // Move assignment: frees what this list held, then takes the other.
  List& operator=(List&& other) noexcept {
    List old(std::move(*this));
    list_ = std::exchange(other.list_, nullptr);
    return *this;
  }
  // A copy of every element in order (T copied); on an exception nothing is left behind.
  List(const List& other) requires std::is_copy_constructible_v<T> {
    List copy;
    for (const T& value : other) {
      copy.push_back(value);
    }
    list_ = std::exchange(copy.list_, nullptr);
  }
  // Assigns a copy of every element; on an exception the list is as it was.
  List& operator=(const List& other) requires std::is_copy_constructible_v<T> {
    if (this != &other) {
      List copy(other);
      std::swap(list_, copy.list_);
    }
    return *this;
  }
  ~List() {
    clear();
    ListFree(list_);
  }

  // size: the number of elements.
  std::size_t size() const noexcept {
    return list_ == nullptr ? 0 : static_cast<std::size_t>(ListCount(list_));
  }
  // empty: whether there is no element.
  bool empty() const noexcept { return size() == 0; }

  // emplace_back: a T made from `args` at the end; gives it. Strong guarantee.
  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (list_ == nullptr) {
      list_ = ListCreate(sizeof(T), nullptr, nullptr, 0);
      if (list_ == nullptr) {
        throw std::bad_alloc();
      }
    }
    void* raw = ListAppend(list_);
    if (raw == nullptr) {
      throw std::bad_alloc();
    }
    try {
      return *::new (raw) T(std::forward<Args>(args)...);
    } catch (...) {
      ListDeleteValue(list_, raw);
      throw;
    }
  }
  // push_back: emplace_back of a copy or of the moved value.
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  // erase: removes the element the iterator stands on; gives the iterator of the next one.
  iterator erase(iterator position) noexcept {
    iterator next = position;
    Value(next.value_)->~T();
    ListCursorDelete(&next.cursor_);
    next.value_ = ListCursorNext(&next.cursor_);
    return next;
  }

  // clear: removes every element.
  void clear() noexcept {
    if (list_ == nullptr) {
      return;
    }
    if constexpr (!std::is_trivially_destructible_v<T>) {
      ListCursor cursor = ListCursorStart(list_);
      while (void* value = ListCursorNext(&cursor)) {
        Value(value)->~T();
      }
    }
    ListClear(list_);
  }

  // begin and end: a walk from the first element to the last.
  iterator begin() noexcept { return iterator(list_); }
  iterator end() noexcept { return iterator(); }
  const_iterator begin() const noexcept { return const_iterator(list_); }
  const_iterator end() const noexcept { return const_iterator(); }

  // The underlying list, owned by this List; null before the first append.
  LinkedList* get() const noexcept { return list_; }

  // Iterator: a walk from the first element to the last with a cursor of its own.
  template <bool Const>
  class Iterator {
   public:
    // The iterator's traits: an input iterator.
    using value_type = T;
    using reference = std::conditional_t<Const, const T&, T&>;
    using pointer = std::conditional_t<Const, const T*, T*>;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::input_iterator_tag;

    // A walk that is over; `*it` the value, `++` the next element, equal to end() after the last.
    Iterator() noexcept = default;
    reference operator*() const noexcept { return *List::Value(value_); }
    pointer operator->() const noexcept { return List::Value(value_); }
    // ++: the next element.
    Iterator& operator++() noexcept {
      value_ = ListCursorNext(&cursor_);
      return *this;
    }
    // Iterators are equal when they stand on the same element (or both at the end).
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept {
      return a.value_ == b.value_;
    }

   private:
    friend class List;
    explicit Iterator(LinkedList* list) noexcept : cursor_(ListCursorStart(list)) { ++*this; }
    ListCursor cursor_ = ListCursorStart(nullptr);
    void* value_ = nullptr;
  };

 private:
  static T* Value(void* raw) noexcept { return std::launder(static_cast<T*>(raw)); }

  LinkedList* list_ = nullptr;
};

// erase_if: removes every element for which `predicate(value)` holds; gives the number removed.
// Found by argument-dependent lookup: `erase_if(list, ...)`.
template <class T, class Predicate>
std::size_t erase_if(List<T>& list, Predicate predicate) {
  std::size_t removed = 0;
  for (auto it = list.begin(); it != list.end();) {
    if (predicate(std::as_const(*it))) {
      it = list.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return removed;
}

}  // namespace zn
