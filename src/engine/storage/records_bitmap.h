// TRecordsBitmap: one bit per record number of a data file, and the
// process-wide pool of idle bitmaps (TRecordsBitmapStack).
//
// Layout: 32-bit words; record n (1-based) is bit (n - 1) mod 32 of word
// (n - 1) div 32, least significant bit first. Example: records 1, 2 and 33
// set give word 0 = 0x00000003 and word 1 = 0x00000001.
//
// Invariants:
//  * Size() is the number of records covered; the words cover Size() rounded
//    up to a multiple of 32; bits past Size() are always 0 (Not and SetAll
//    mask them), so counts never see them;
//  * the word storage only grows (in steps of 1024 bytes) until the bitmap is
//    freed, as the engine's grow-only buffers do;
//  * a record number outside 1..Size() is ignored by Set and Clear and tests
//    false.
// The cursors use these bitmaps for locked records, records in a key range,
// records present and visible records; FindNext and FindPrior move over the
// set bits skipping whole words of zeros.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace engine {

class TRecordsBitmap {
 public:
  static constexpr std::uint32_t kBitsPerWord = 32;
  static constexpr std::size_t kGrowStepBytes = 1024;

  TRecordsBitmap() = default;
  explicit TRecordsBitmap(std::uint32_t size) { SetSize(size); }

  std::uint32_t Size() const { return FSize; }
  std::uint32_t WordCount() const { return (FSize + kBitsPerWord - 1) / kBitsPerWord; }
  // Covers `size` records; existing bits are kept, new ones are 0, bits past
  // the new size are cleared.
  void SetSize(std::uint32_t size);

  bool Test(std::int64_t n) const;
  void Set(std::int64_t n);
  void Clear(std::int64_t n);
  // Set(n) or Clear(n).
  void Put(std::int64_t n, bool value) { value ? Set(n) : Clear(n); }
  void ClearAll();
  void SetAll();
  void Assign(const TRecordsBitmap& other);
  // Assign, answering the number of set bits (one pass over the words).
  std::uint32_t AssignAndCount(const TRecordsBitmap& other);
  // Word by word over the common words; the other's missing words count as 0.
  void And(const TRecordsBitmap& other);
  void Or(const TRecordsBitmap& other);
  void Not();

  // Set bits among records 1..Size().
  std::uint32_t Count() const;
  // Set bits among records 1..n-1.
  std::uint32_t CountBefore(std::int64_t n) const;
  // The `steps`-th set bit after record `from` (0: from the start), or 0 when
  // there are not that many.
  std::uint32_t FindNext(std::int64_t from, std::uint32_t steps = 1) const;
  // The `steps`-th set bit before record `from` (Size() + 1: from the end),
  // or 0 when there are not that many.
  std::uint32_t FindPrior(std::int64_t from, std::uint32_t steps = 1) const;

 private:
  void MaskTail();
  std::vector<std::uint32_t> FWords;  // capacity grows in kGrowStepBytes steps
  std::uint32_t FSize = 0;
};

// Set bits of words[0..count): the processor's population count where it has
// one, else CountBitsPortable (exposed for tests).
std::uint32_t CountBits(const std::uint32_t* words, std::size_t count);
std::uint32_t CountBitsPortable(const std::uint32_t* words, std::size_t count);

// The pool of idle bitmaps, shared by every cursor of the process.
class TRecordsBitmapStack {
 public:
  static TRecordsBitmapStack& Instance();
  // A pooled bitmap (emptied to size 0) or a new one.
  std::unique_ptr<TRecordsBitmap> Take();
  void Give(std::unique_ptr<TRecordsBitmap> bitmap);
  std::size_t Idle();

 private:
  std::mutex FMutex;
  std::vector<std::unique_ptr<TRecordsBitmap>> FIdle;
};

}  // namespace engine
