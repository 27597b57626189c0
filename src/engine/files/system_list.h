// TSystemList: the growable pointer array of the storage layer, on the engine
// heap. The list does not own what its entries point to.
//
// Invariants: 0 <= Count() <= Capacity(); entries past Count() are not part of
// the list. When an Add finds the list full, the capacity grows by a quarter of
// itself when above 64, by 16 when above 8, and by 4 otherwise.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "engine/files/engine_heap.h"

namespace engine {

// How many entries a full list of `capacity` entries grows by.
inline constexpr int SystemListGrowth(int capacity) {
  return capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
}

template <typename T>
class TSystemList {
 public:
  TSystemList() = default;
  ~TSystemList() { HeapFree(items_); }
  TSystemList(const TSystemList&) = delete;
  TSystemList& operator=(const TSystemList&) = delete;
  TSystemList(TSystemList&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        count_(std::exchange(other.count_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}

  int Count() const noexcept { return count_; }
  int Capacity() const noexcept { return capacity_; }

  T* operator[](int index) const { return items_[Checked(index)]; }
  T* Get(int index) const { return items_[Checked(index)]; }
  void Set(int index, T* item) { items_[Checked(index)] = item; }

  // Appends and returns the new entry's index.
  int Add(T* item) {
    if (count_ == capacity_) SetCapacity(capacity_ + SystemListGrowth(capacity_));
    items_[count_] = item;
    return count_++;
  }
  void Insert(int index, T* item) {
    if (index < 0 || index > count_) throw std::out_of_range("TSystemList index");
    if (count_ == capacity_) SetCapacity(capacity_ + SystemListGrowth(capacity_));
    for (int i = count_; i > index; --i) items_[i] = items_[i - 1];
    items_[index] = item;
    ++count_;
  }
  void Delete(int index) {
    Checked(index);
    for (int i = index; i + 1 < count_; ++i) items_[i] = items_[i + 1];
    --count_;
  }
  // Removes the first entry equal to `item`; its former index or -1.
  int Remove(T* item) {
    const int index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
  }
  int IndexOf(const T* item) const {
    for (int i = 0; i < count_; ++i) {
      if (items_[i] == item) return i;
    }
    return -1;
  }
  void Clear() {
    HeapFree(items_);
    items_ = nullptr;
    count_ = capacity_ = 0;
  }

  // Pre-sizes the list; never below Count().
  void SetCapacity(int capacity) {
    if (capacity < count_) capacity = count_;
    if (capacity == capacity_) return;
    items_ = static_cast<T**>(HeapRealloc(items_, static_cast<std::size_t>(capacity) * sizeof(T*)));
    capacity_ = capacity;
  }
  // Sets the count; new entries are nullptr.
  void SetCount(int count) {
    if (count < 0) count = 0;
    if (count > capacity_) SetCapacity(count);
    for (int i = count_; i < count; ++i) items_[i] = nullptr;
    count_ = count;
  }

  // Quicksort by `compare(a, b)`, which answers <0, 0 or >0.
  template <typename Compare>
  void Sort(Compare compare) {
    if (count_ > 1) QuickSort(0, count_ - 1, compare);
  }

 private:
  int Checked(int index) const {
    if (index < 0 || index >= count_) throw std::out_of_range("TSystemList index");
    return index;
  }

  template <typename Compare>
  void QuickSort(int left, int right, Compare& compare) {
    // Hoare partition around the middle entry; recursion on the smaller side
    // keeps the stack depth logarithmic.
    while (left < right) {
      int i = left;
      int j = right;
      T* pivot = items_[left + (right - left) / 2];
      while (i <= j) {
        // The bounds keep an inconsistent comparison from running off the ends.
        while (i < right && compare(items_[i], pivot) < 0) ++i;
        while (j > left && compare(items_[j], pivot) > 0) --j;
        if (i <= j) {
          std::swap(items_[i], items_[j]);
          ++i;
          --j;
        }
      }
      if (j - left < right - i) {
        if (left < j) QuickSort(left, j, compare);
        left = i;
      } else {
        if (i < right) QuickSort(i, right, compare);
        right = j;
      }
    }
  }

  T** items_ = nullptr;
  int count_ = 0;
  int capacity_ = 0;
};

}  // namespace engine
