// TGrowBuffer: an engine-heap buffer that follows the grow-only rule
// (engine_heap.h): it grows in multiples of its step, keeps its content and
// zero-fills what it adds, and never shrinks except to zero. Owned; moves but
// does not copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/files/engine_heap.h"

namespace engine {

class TGrowBuffer {
 public:
  explicit TGrowBuffer(std::size_t step) : step_(step == 0 ? 1 : step) {}
  ~TGrowBuffer() { HeapFree(data_); }
  TGrowBuffer(const TGrowBuffer&) = delete;
  TGrowBuffer& operator=(const TGrowBuffer&) = delete;
  TGrowBuffer(TGrowBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        capacity_(std::exchange(other.capacity_, 0)),
        step_(other.step_) {}
  TGrowBuffer& operator=(TGrowBuffer&& other) noexcept {
    if (this != &other) {
      HeapFree(data_);
      data_ = std::exchange(other.data_, nullptr);
      capacity_ = std::exchange(other.capacity_, 0);
      step_ = other.step_;
    }
    return *this;
  }

  // Makes room for `request` bytes by the grow-only rule; below 1 frees.
  void Reserve(std::int64_t request) {
    void* block = data_;
    GrowBlock(block, capacity_, request, step_);
    data_ = static_cast<std::uint8_t*>(block);
  }
  void Free() { Reserve(0); }

  std::uint8_t* Data() noexcept { return data_; }
  const std::uint8_t* Data() const noexcept { return data_; }
  std::size_t Capacity() const noexcept { return capacity_; }
  std::size_t Step() const noexcept { return step_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t step_;
};

}  // namespace engine
