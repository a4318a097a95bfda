// Storage of the desktop model: the growable array behind its arrays, menus, views, queues and
// texts. It allocates with the nothrow forms of `operator new`, so that a refused allocation
// reaches the model's callers as false or nil, as the platform answers exhausted memory, and
// never as an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace zn::desktop {

// ModelArray: a growable array of plain values (object pointers, pairs of them, code units).
// Every operation that may grow it (`reserve`, `push_back`, `insert`, `append`) returns false
// and leaves the array exactly as it was when the room cannot be had. Removing keeps the room,
// so an element taken out can always be put back.
template <class T>
class ModelArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are moved as bytes");
  // The size of an element itself, which is often a pointer: the size of what it points to is
  // not the point here.
  // NOLINTNEXTLINE(bugprone-sizeof-expression)
  static constexpr size_t kElementBytes = sizeof(T);

 public:
  ModelArray() = default;
  ~ModelArray() { ::operator delete(items_); }
  ModelArray(const ModelArray&) = delete;
  ModelArray& operator=(const ModelArray&) = delete;
  ModelArray(ModelArray&& other) noexcept { swap(other); }
  ModelArray& operator=(ModelArray&& other) noexcept {
    ModelArray taken(static_cast<ModelArray&&>(other));
    swap(taken);
    return *this;
  }

  int64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return items_; }
  const T* data() const { return items_; }
  T* begin() { return items_; }
  T* end() { return items_ + size_; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + size_; }
  T& operator[](int64_t index) { return items_[index]; }
  const T& operator[](int64_t index) const { return items_[index]; }

  // reserve: room for `count` elements in all.
  bool reserve(int64_t count) {
    if (count <= capacity_) {
      return true;
    }
    uint64_t bytes = 0;
    if (count < 0 ||
        __builtin_mul_overflow(static_cast<uint64_t>(count), uint64_t{kElementBytes}, &bytes)) {
      return false;
    }
    auto* grown = static_cast<T*>(::operator new(bytes, std::nothrow));
    if (grown == nullptr) {
      return false;
    }
    if (size_ > 0) {
      std::memcpy(grown, items_, static_cast<size_t>(size_) * kElementBytes);
    }
    ::operator delete(items_);
    items_ = grown;
    capacity_ = count;
    return true;
  }

  // insert: the value at `index` (0 to size), the elements from there on moved up by one.
  bool insert(int64_t index, T value) {
    if (index < 0 || index > size_ || !roomFor(1)) {
      return false;
    }
    std::memmove(items_ + index + 1, items_ + index,
                 static_cast<size_t>(size_ - index) * kElementBytes);
    items_[index] = value;
    ++size_;
    return true;
  }
  bool push_back(T value) { return insert(size_, value); }

  // append: `count` values copied from `values` at the end.
  bool append(const T* values, int64_t count) {
    if (count <= 0) {
      return count == 0;
    }
    if (!roomFor(count)) {
      return false;
    }
    std::memcpy(items_ + size_, values, static_cast<size_t>(count) * kElementBytes);
    size_ += count;
    return true;
  }

  // erase: takes out the element at `index`; the room stays.
  void erase(int64_t index) {
    if (index < 0 || index >= size_) {
      return;
    }
    std::memmove(items_ + index, items_ + index + 1,
                 static_cast<size_t>(size_ - index - 1) * kElementBytes);
    --size_;
  }
  void clear() { size_ = 0; }

  void swap(ModelArray& other) noexcept {
    T* items = items_;
    const int64_t size = size_;
    const int64_t capacity = capacity_;
    items_ = other.items_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.items_ = items;
    other.size_ = size;
    other.capacity_ = capacity;
  }

 private:
  // Room for `more` elements beyond the size, growing by at least half again so that a run of
  // additions costs amortised constant time.
  bool roomFor(int64_t more) {
    int64_t needed = 0;
    if (__builtin_add_overflow(size_, more, &needed)) {
      return false;
    }
    if (needed <= capacity_) {
      return true;
    }
    const int64_t grown = capacity_ + capacity_ / 2;
    return reserve(needed > grown ? (needed < 4 ? 4 : needed) : grown);
  }

  T* items_ = nullptr;
  int64_t size_ = 0;
  int64_t capacity_ = 0;
};

}  // namespace zn::desktop
