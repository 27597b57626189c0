// TRecordsBitmap and its pool (see records_bitmap.h).
#include "engine/storage/records_bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace engine {
namespace {

constexpr std::uint32_t kWordsPerStep = TRecordsBitmap::kGrowStepBytes / sizeof(std::uint32_t);
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr std::size_t kMaxIdleBitmaps = 256;  // bitmaps kept by the pool

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("popcnt"))) std::uint32_t CountPopcnt(const std::uint32_t* words,
                                                            std::size_t count) {
  // Pairs of words as 64-bit values, four independent sums.
  std::uint64_t sums[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    for (int k = 0; k < 4; ++k) {
      std::uint64_t pair;
      std::memcpy(&pair, words + i + 2 * k, sizeof pair);
      sums[k] += static_cast<std::uint64_t>(__builtin_popcountll(pair));
    }
  }
  std::uint64_t total = sums[0] + sums[1] + sums[2] + sums[3];
  for (; i < count; ++i) total += static_cast<unsigned>(__builtin_popcount(words[i]));
  return static_cast<std::uint32_t>(total);
}
#endif

}  // namespace

// Counting is the hot loop of filtered counts. On x86-64 processors with the
// POPCNT instruction (chosen at run time: the build targets the baseline
// instruction set) one instruction counts 64 bits; elsewhere a branch-free
// bit-twiddling count stays in registers instead of calling the compiler's
// library routine per word.
std::uint32_t CountBitsPortable(const std::uint32_t* words, std::size_t count) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t v = words[i];
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0Fu;
    total += (v * 0x01010101u) >> 24;
  }
  return static_cast<std::uint32_t>(total);
}

std::uint32_t CountBits(const std::uint32_t* words, std::size_t count) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool hardware = __builtin_cpu_supports("popcnt");
  if (hardware) return CountPopcnt(words, count);
#endif
  return CountBitsPortable(words, count);
}

void TRecordsBitmap::SetSize(std::uint32_t size) {
  const std::uint32_t words = (size + kBitsPerWord - 1) / kBitsPerWord;
  if (words > FWords.capacity()) {
    FWords.reserve((words + kWordsPerStep - 1) / kWordsPerStep * kWordsPerStep);
  }
  FWords.resize(words, 0);
  FSize = size;
  MaskTail();
}

void TRecordsBitmap::MaskTail() {
  const std::uint32_t tail = FSize % kBitsPerWord;
  if (tail != 0 && !FWords.empty()) FWords.back() &= (1u << tail) - 1u;
}

bool TRecordsBitmap::Test(std::int64_t n) const {
  if (n < 1 || n > FSize) return false;
  const auto i = static_cast<std::uint32_t>(n - 1);
  return (FWords[i / kBitsPerWord] >> (i % kBitsPerWord)) & 1u;
}

void TRecordsBitmap::Set(std::int64_t n) {
  if (n < 1 || n > FSize) return;
  const auto i = static_cast<std::uint32_t>(n - 1);
  FWords[i / kBitsPerWord] |= 1u << (i % kBitsPerWord);
}

void TRecordsBitmap::Clear(std::int64_t n) {
  if (n < 1 || n > FSize) return;
  const auto i = static_cast<std::uint32_t>(n - 1);
  FWords[i / kBitsPerWord] &= ~(1u << (i % kBitsPerWord));
}

void TRecordsBitmap::ClearAll() {
  std::fill(FWords.begin(), FWords.end(), 0u);
}

void TRecordsBitmap::SetAll() {
  std::fill(FWords.begin(), FWords.end(), kAllOnes);
  MaskTail();
}

void TRecordsBitmap::Assign(const TRecordsBitmap& other) {
  SetSize(other.FSize);
  std::copy(other.FWords.begin(), other.FWords.end(), FWords.begin());
}

std::uint32_t TRecordsBitmap::AssignAndCount(const TRecordsBitmap& other) {
  SetSize(other.FSize);
  std::uint32_t* mine = FWords.data();
  const std::uint32_t* theirs = other.FWords.data();
  const std::size_t chunk = kWordsPerStep;  // copy a cache-sized piece, then count it
  std::uint32_t count = 0;
  for (std::size_t at = 0; at < FWords.size(); at += chunk) {
    const std::size_t n = std::min(chunk, FWords.size() - at);
    std::copy_n(theirs + at, n, mine + at);
    count += CountBits(mine + at, n);
  }
  return count;
}

void TRecordsBitmap::And(const TRecordsBitmap& other) {
  const std::size_t common = std::min(FWords.size(), other.FWords.size());
  std::uint32_t* mine = FWords.data();
  const std::uint32_t* theirs = other.FWords.data();
  for (std::size_t i = 0; i < common; ++i) mine[i] &= theirs[i];
  std::fill(FWords.begin() + static_cast<std::ptrdiff_t>(common), FWords.end(), 0u);
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) {
  const std::size_t common = std::min(FWords.size(), other.FWords.size());
  for (std::size_t i = 0; i < common; ++i) FWords[i] |= other.FWords[i];
  MaskTail();
}

void TRecordsBitmap::Not() {
  for (auto& w : FWords) w = ~w;
  MaskTail();
}

std::uint32_t TRecordsBitmap::Count() const {
  return CountBits(FWords.data(), FWords.size());
}

std::uint32_t TRecordsBitmap::CountBefore(std::int64_t n) const {
  if (n <= 1) return 0;
  const std::uint32_t bits = static_cast<std::uint32_t>(std::min<std::int64_t>(n - 1, FSize));
  const std::uint32_t whole = bits / kBitsPerWord;
  std::uint32_t count = CountBits(FWords.data(), whole);
  const std::uint32_t rest = bits % kBitsPerWord;
  if (rest != 0) count += std::popcount(FWords[whole] & ((1u << rest) - 1u));
  return count;
}

std::uint32_t TRecordsBitmap::FindNext(std::int64_t from, std::uint32_t steps) const {
  if (steps == 0) steps = 1;
  // Index (0-based) of the first bit to look at.
  std::int64_t i = std::max<std::int64_t>(from, 0);
  while (i < FSize) {
    const std::uint32_t wi = static_cast<std::uint32_t>(i / kBitsPerWord);
    std::uint32_t w = FWords[wi] >> (i % kBitsPerWord);
    if (w == 0) {
      i = static_cast<std::int64_t>(wi + 1) * kBitsPerWord;
      continue;
    }
    const std::uint32_t inWord = static_cast<std::uint32_t>(std::popcount(w));
    if (inWord < steps) {
      steps -= inWord;
      i = static_cast<std::int64_t>(wi + 1) * kBitsPerWord;
      continue;
    }
    for (;;) {
      const int skip = std::countr_zero(w);
      i += skip;
      if (--steps == 0) return static_cast<std::uint32_t>(i + 1);
      w >>= skip;
      w >>= 1;
      ++i;
    }
  }
  return 0;
}

std::uint32_t TRecordsBitmap::FindPrior(std::int64_t from, std::uint32_t steps) const {
  if (steps == 0) steps = 1;
  // Index (0-based) of the last bit to look at.
  std::int64_t i = std::min<std::int64_t>(from - 2, static_cast<std::int64_t>(FSize) - 1);
  while (i >= 0) {
    const std::uint32_t wi = static_cast<std::uint32_t>(i / kBitsPerWord);
    const std::uint32_t bit = static_cast<std::uint32_t>(i % kBitsPerWord);
    std::uint32_t w = FWords[wi] & (bit == kBitsPerWord - 1 ? kAllOnes : ((2u << bit) - 1u));
    const std::uint32_t inWord = static_cast<std::uint32_t>(std::popcount(w));
    if (inWord < steps) {
      steps -= inWord;
      i = static_cast<std::int64_t>(wi) * kBitsPerWord - 1;
      continue;
    }
    while (true) {
      const int top = 31 - std::countl_zero(w);
      if (--steps == 0) return wi * kBitsPerWord + static_cast<std::uint32_t>(top) + 1;
      w &= ~(1u << top);
    }
  }
  return 0;
}

TRecordsBitmapStack& TRecordsBitmapStack::Instance() {
  // Never destroyed: cursors may return bitmaps while the process exits.
  static TRecordsBitmapStack* stack = new TRecordsBitmapStack;
  return *stack;
}

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::Take() {
  std::lock_guard<std::mutex> guard(FMutex);
  if (FIdle.empty()) return std::make_unique<TRecordsBitmap>();
  std::unique_ptr<TRecordsBitmap> bitmap = std::move(FIdle.back());
  FIdle.pop_back();
  bitmap->SetSize(0);
  return bitmap;
}

void TRecordsBitmapStack::Give(std::unique_ptr<TRecordsBitmap> bitmap) {
  if (!bitmap) return;
  std::lock_guard<std::mutex> guard(FMutex);
  if (FIdle.size() < kMaxIdleBitmaps) FIdle.push_back(std::move(bitmap));
}

std::size_t TRecordsBitmapStack::Idle() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FIdle.size();
}

}  // namespace engine
