// The engine heap over the C allocator.
//
// Each block carries a small header in front of the caller's bytes holding its
// size, so that a free knows what to subtract from the running total:
//
//   offset  size  meaning
//   0       8     size of the caller's part in bytes
//   8       8     padding, keeps the caller's part 16-byte aligned
//   16      n     the caller's bytes (zero-filled)
//
// Compaction: the process heap of the original platform could be compacted;
// the C allocator here returns memory by itself, so a compaction only counts
// and restarts the operation count.
#include "engine/files/engine_heap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/errors.h"

namespace engine {
namespace {

constexpr std::size_t kHeaderBytes = 16;  // keeps max_align_t alignment

struct HeapCounters {
  std::mutex lock;
  std::size_t bytesInUse = 0;
  int opsSinceCompaction = 0;
  std::uint64_t compactions = 0;
};

// Never destroyed: engine buffers owned by static objects are freed at exit.
HeapCounters& Counters() {
  static auto* counters = new HeapCounters;
  return *counters;
}

std::size_t& SizeOf(void* raw) {
  return *static_cast<std::size_t*>(raw);
}
void* UserPart(void* raw) {
  return static_cast<unsigned char*>(raw) + kHeaderBytes;
}
void* RawPart(void* user) {
  return static_cast<unsigned char*>(user) - kHeaderBytes;
}

// Accounts one free or reallocation; every kCompactEveryOps-th compacts.
void CountFreeOrRealloc(HeapCounters& c) {
  if (++c.opsSinceCompaction >= kCompactEveryOps) {
    c.opsSinceCompaction = 0;
    ++c.compactions;
  }
}

[[noreturn]] void OutOfMemory() {
  RaiseEngineError(kErrOutOfMemory);
}

}  // namespace

void* HeapAlloc(std::size_t size) {
  if (size == 0) return nullptr;
  if (size > kMaxHeapBlock) OutOfMemory();
  void* raw = std::calloc(1, size + kHeaderBytes);
  if (raw == nullptr) OutOfMemory();
  SizeOf(raw) = size;
  HeapCounters& c = Counters();
  std::lock_guard<std::mutex> guard(c.lock);
  c.bytesInUse += size;
  return UserPart(raw);
}

void* HeapRealloc(void* block, std::size_t size) {
  if (block == nullptr) return HeapAlloc(size);
  if (size == 0) {
    HeapFree(block);
    return nullptr;
  }
  if (size > kMaxHeapBlock) OutOfMemory();
  void* raw = RawPart(block);
  const std::size_t oldSize = SizeOf(raw);
  void* grown = std::realloc(raw, size + kHeaderBytes);
  if (grown == nullptr) OutOfMemory();
  if (size > oldSize) {
    std::memset(static_cast<unsigned char*>(UserPart(grown)) + oldSize, 0, size - oldSize);
  }
  SizeOf(grown) = size;
  HeapCounters& c = Counters();
  std::lock_guard<std::mutex> guard(c.lock);
  c.bytesInUse = c.bytesInUse - oldSize + size;
  CountFreeOrRealloc(c);
  return UserPart(grown);
}

void HeapFree(void* block) {
  if (block == nullptr) return;
  void* raw = RawPart(block);
  const std::size_t size = SizeOf(raw);
  std::free(raw);
  HeapCounters& c = Counters();
  std::lock_guard<std::mutex> guard(c.lock);
  c.bytesInUse -= size;
  CountFreeOrRealloc(c);
}

std::size_t HeapBytesInUse() {
  HeapCounters& c = Counters();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.bytesInUse;
}

std::uint64_t HeapCompactions() {
  HeapCounters& c = Counters();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.compactions;
}

void GrowBlock(void*& block, std::size_t& capacity, std::int64_t request, std::size_t step) {
  if (request < 1) {
    HeapFree(block);
    block = nullptr;
    capacity = 0;
    return;
  }
  if (step == 0) step = 1;
  const auto wanted = static_cast<std::uint64_t>(request);
  const std::uint64_t rounded = (wanted + step - 1) / step * step;
  if (rounded > kMaxHeapBlock) OutOfMemory();
  if (rounded <= capacity) return;
  block = HeapRealloc(block, static_cast<std::size_t>(rounded));
  capacity = static_cast<std::size_t>(rounded);
}

}  // namespace engine
