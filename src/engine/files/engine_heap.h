// The engine heap: zero-filled allocation with a running total of the bytes the
// engine holds, and the grow-only buffer rule every engine buffer follows.
//
// Invariants:
//  * every block handed out is zero-filled (a reallocation zero-fills the bytes
//    it adds);
//  * a failed allocation of a positive size raises engine error 11016; so does
//    a request above kMaxHeapBlock, which no engine structure can need (file
//    offsets and lengths are 32-bit signed);
//  * HeapBytesInUse() is the sum of the sizes of the live blocks, kept under a
//    critical section;
//  * every kCompactEveryOps-th free or reallocation counts as one compaction of
//    the heap and restarts the count.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Largest block the engine asks for: 2 GiB - 1 bytes.
inline constexpr std::size_t kMaxHeapBlock = 0x7FFFFFFF;
// Frees and reallocations between two compactions of the heap.
inline constexpr int kCompactEveryOps = 1020;

// A zero-filled block of `size` bytes; nullptr for size 0; 11016 on failure.
void* HeapAlloc(std::size_t size);
// Resizes `block` (nullptr allocates) keeping its content; added bytes are zero.
// Size 0 frees the block and returns nullptr. 11016 on failure (block untouched).
void* HeapRealloc(void* block, std::size_t size);
// Frees a block from HeapAlloc/HeapRealloc; nullptr does nothing.
void HeapFree(void* block);

// Bytes currently held by the engine through this heap.
std::size_t HeapBytesInUse();
// How many compactions have run since the process started.
std::uint64_t HeapCompactions();

// The grow-only rule: a request below 1 frees `block` and sets `capacity` to 0;
// otherwise the request is rounded up to a multiple of `step` and the block is
// reallocated (content kept, new bytes zero) only when that exceeds `capacity`.
// A buffer therefore never shrinks except to zero.
void GrowBlock(void*& block, std::size_t& capacity, std::int64_t request, std::size_t step);

}  // namespace engine
