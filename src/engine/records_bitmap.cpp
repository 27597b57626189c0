// TRecordsBitmap and its pool (see records_bitmap.h).
#include "engine/records_bitmap.h"

#include <algorithm>
#include <bit>

namespace engine {
namespace {

constexpr std::uint32_t kWordsPerStep = TRecordsBitmap::kGrowStepBytes / sizeof(std::uint32_t);
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr std::size_t kMaxIdleBitmaps = 256;  // bitmaps kept by the pool

}  // namespace

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

void TRecordsBitmap::And(const TRecordsBitmap& other) {
  for (std::size_t i = 0; i < FWords.size(); ++i) {
    FWords[i] &= i < other.FWords.size() ? other.FWords[i] : 0u;
  }
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
  std::uint32_t count = 0;
  for (const std::uint32_t w : FWords) count += (w == kAllOnes) ? kBitsPerWord : std::popcount(w);
  return count;
}

std::uint32_t TRecordsBitmap::CountBefore(std::int64_t n) const {
  if (n <= 1) return 0;
  const std::uint32_t bits = static_cast<std::uint32_t>(std::min<std::int64_t>(n - 1, FSize));
  std::uint32_t count = 0;
  const std::uint32_t whole = bits / kBitsPerWord;
  for (std::uint32_t i = whole; i > 0; --i) {
    const std::uint32_t w = FWords[i - 1];
    count += (w == kAllOnes) ? kBitsPerWord : std::popcount(w);
  }
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
