// Index pages in memory and their stored form: see index_page.h.
#include "engine/storage/index_page.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/errors.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/index_keys.h"
#include "engine/storage/index_page_undo.h"

namespace engine {
namespace {

constexpr int kCompressedEntryHeader = 2;  // uint16 d or t, or uint8 d + uint8 t
constexpr int kMaxFullModeRun = 255;       // d and t are single bytes in mode 3

int CommonPrefix(const std::uint8_t* a, const std::uint8_t* b, int length) {
  int n = 0;
  while (n < length && a[n] == b[n]) ++n;
  return n;
}

// Zero bytes at the end of key[from, to).
int TrailingZeros(const std::uint8_t* key, int from, int to) {
  int n = 0;
  while (to - 1 - n >= from && key[to - 1 - n] == 0) ++n;
  return n;
}

// How one leaf entry is compressed.
struct TEntryShape {
  int d = 0;                 // leading bytes taken from the previous key
  int t = 0;                 // zero bytes dropped before the end (or the suffix)
  bool suffixApart = false;  // the 4 suffix bytes are stored after the middle bytes
};

TEntryShape ShapeOf(const TPageFormat& format, const std::uint8_t* prev, const std::uint8_t* key) {
  const int L = format.keyLength;
  TEntryShape shape;
  switch (format.compression) {
    case kCompressDuplicate:
      shape.d = prev != nullptr ? CommonPrefix(prev, key, L) : 0;
      break;
    case kCompressTrailing:
      shape.suffixApart = !format.unique && L >= kNonUniqueSuffixSize;
      shape.t = TrailingZeros(key, 0, shape.suffixApart ? L - kNonUniqueSuffixSize : L);
      break;
    case kCompressFull:
      shape.d = prev != nullptr ? std::min(CommonPrefix(prev, key, L), kMaxFullModeRun) : 0;
      shape.suffixApart = !format.unique && L - shape.d > kNonUniqueSuffixSize;
      shape.t =
          std::min(TrailingZeros(key, shape.d, shape.suffixApart ? L - kNonUniqueSuffixSize : L),
                   kMaxFullModeRun);
      break;
    default:
      break;
  }
  return shape;
}

[[noreturn]] void Corrupt(std::string_view tableName) {
  RaiseEngineError(kErrIndexPageCorrupt, tableName);
}

}  // namespace

void TPage::CheckEntry(int i) const {
  if (i < 1 || i > FCount) RaiseEngineError(kErrIndexPageCorrupt);
}

void TPage::LogEntryChange(int i) {
  if (Undo->Logs(*this)) Undo->EntryWillChange(*this, i);
}

void TPage::LogWholeChange() {
  if (Undo->Logs(*this)) Undo->PageWillChange(*this);
}

void TPage::Reset(std::int32_t position, int slot, const TPageFormat& format) {
  BeforeWholeChange();
  Position = position;
  Slot = slot;
  Changed = false;
  PinCount = 0;
  Detached = false;
  Parent = 0;
  Current = Current2 = 0;
  Type = kPageRootLeaf;
  Prev = Next = 0;
  Free = false;
  FFormat = format;
  FCount = 0;
  FEntries.clear();
  FPacked = -1;
  DropSummary();
}

int TPage::Capacity() const {
  return IsLeaf() ? LeafCapacity(FFormat.keyLength) : InternalCapacity(FFormat.keyLength);
}

int TPage::EntryStoredSize(const std::uint8_t* prev, const std::uint8_t* key) const {
  const TEntryShape shape = ShapeOf(FFormat, prev, key);
  return kCompressedEntryHeader + FFormat.keyLength - shape.d - shape.t + kRecordNumberSize;
}

int TPage::StoredBytes() const {
  if (!IsCompressedLeaf()) {
    return FCount * (FFormat.keyLength + (IsLeaf() ? kRecordNumberSize : kChildRefSize));
  }
  return PackedBytes();
}

int TPage::PackedBytes() const {
  if (FPacked < 0) {
    int total = 0;
    for (int i = 1; i <= FCount; ++i) {
      total += EntryStoredSize(i > 1 ? Key(i - 1) : nullptr, Key(i));
    }
    FPacked = total;
  }
  return FPacked;
}

int TPage::PackedDelta(const std::uint8_t* prev, const std::uint8_t* key,
                       const std::uint8_t* next) const {
  int delta = EntryStoredSize(prev, key);
  if (next != nullptr) delta += EntryStoredSize(key, next) - EntryStoredSize(prev, next);
  return delta;
}

bool TPage::Overflows() const {
  return IsCompressedLeaf() ? StoredBytes() > kPageEntryArea : FCount > Capacity();
}

std::int32_t TPage::StoredValue(int i) const {
  return bytes::GetI32(Key(i) + FFormat.keyLength);
}
std::int32_t TPage::StoredEntryCount(int i) const {
  return bytes::GetI32(Key(i) + FFormat.keyLength + 4);
}
void TPage::SetKey(int i, const std::uint8_t* key) {
  std::uint8_t* slot = SlotForChange(i);
  FPacked = -1;
  std::memmove(slot, key, static_cast<std::size_t>(FFormat.keyLength));
  SummaryKeyChanged(i);
}
void TPage::SetValue(int i, std::int32_t value) {
  bytes::PutI32(SlotForChange(i) + FFormat.keyLength, value);
  if (FSummaryValid) FSummaryValues[static_cast<std::size_t>(i - 1)] = value;
}
void TPage::SetEntryCount(int i, std::int32_t count) {
  bytes::PutI32(SlotForChange(i) + FFormat.keyLength + 4, count);
  if (FSummaryValid) FSummaryCounts[static_cast<std::size_t>(i - 1)] = count;
}

void TPage::InsertEntry(int after, const std::uint8_t* key, std::int32_t value,
                        std::int32_t count) {
  if (after < 0 || after > FCount) RaiseEngineError(kErrIndexPageCorrupt);
  // `key` may point into this page's own entries, which move below.
  const std::uint8_t* base = FEntries.data();
  if (std::less_equal<const std::uint8_t*>()(base, key) &&
      std::less<const std::uint8_t*>()(key, base + FEntries.size())) {
    const std::vector<std::uint8_t> copy(key, key + FFormat.keyLength);
    InsertEntry(after, copy.data(), value, count);
    return;
  }
  if (FPacked >= 0 && FFormat.compression != kCompressNone) {
    FPacked += PackedDelta(after > 0 ? Key(after) : nullptr, key,
                           after < FCount ? Key(after + 1) : nullptr);
  } else {
    FPacked = -1;
  }
  // Open a gap of one slot and fill it in place.
  const std::size_t stride = Stride();
  const std::size_t length = static_cast<std::size_t>(FFormat.keyLength);
  const std::size_t at = static_cast<std::size_t>(after) * stride;
  if (FEntries.capacity() < FEntries.size() + stride) {
    // Room for a full page and the entry that makes it split, at once: a
    // page filled entry by entry then moves its entries once, not at every
    // doubling.
    const std::size_t full = static_cast<std::size_t>(Capacity() + 1) * stride;
    FEntries.reserve(std::max(FEntries.size() + stride, IsCompressedLeaf() ? 0 : full));
  }
  FEntries.resize(FEntries.size() + stride);
  std::uint8_t* slot = FEntries.data() + at;
  std::memmove(slot + stride, slot, FEntries.size() - stride - at);
  std::memcpy(slot, key, length);
  bytes::PutI32(slot + length, value);
  bytes::PutI32(slot + length + 4, count);
  ++FCount;
  Free = false;
  SummaryInserted(after + 1);
  if (Undo != nullptr && Undo->Logs(*this)) Undo->EntryInserted(*this, after + 1);
}

void TPage::RemoveEntry(int i) {
  CheckEntry(i);
  if (Undo != nullptr && Undo->Logs(*this)) Undo->EntryWillGo(*this, i);
  if (FPacked >= 0 && FFormat.compression != kCompressNone) {
    FPacked -= PackedDelta(i > 1 ? Key(i - 1) : nullptr, Key(i), i < FCount ? Key(i + 1) : nullptr);
  } else {
    FPacked = -1;
  }
  const std::size_t stride = Stride();
  auto first = FEntries.begin() + static_cast<std::ptrdiff_t>(i - 1) * stride;
  FEntries.erase(first, first + static_cast<std::ptrdiff_t>(stride));
  --FCount;
  SummaryRemoved(i);
}

void TPage::TakeTail(int first, TPage& out) {
  if (first > FCount) return;
  if (first < 1 || &out == this) RaiseEngineError(kErrIndexPageCorrupt);
  BeforeWholeChange();
  out.BeforeWholeChange();
  auto from = FEntries.begin() + static_cast<std::ptrdiff_t>(first - 1) * Stride();
  FPacked = out.FPacked = -1;
  DropSummary();
  out.DropSummary();
  out.FEntries.insert(out.FEntries.end(), from, FEntries.end());
  out.FCount += FCount - first + 1;
  FEntries.erase(from, FEntries.end());
  FCount = first - 1;
}

void TPage::Prepend(TPage& from) {
  if (&from == this) RaiseEngineError(kErrIndexPageCorrupt);
  BeforeWholeChange();
  from.BeforeWholeChange();
  FPacked = -1;
  DropSummary();
  FEntries.insert(FEntries.begin(), from.FEntries.begin(), from.FEntries.end());
  FCount += from.FCount;
  from.ClearEntries();
}

void TPage::Append(TPage& from) {
  if (&from == this) RaiseEngineError(kErrIndexPageCorrupt);
  BeforeWholeChange();
  from.BeforeWholeChange();
  FPacked = -1;
  DropSummary();
  FEntries.insert(FEntries.end(), from.FEntries.begin(), from.FEntries.end());
  FCount += from.FCount;
  from.ClearEntries();
}

void TPage::ClearEntries() {
  BeforeWholeChange();
  FEntries.clear();
  FCount = 0;
  FPacked = -1;
  DropSummary();
}

std::int64_t TPage::LeafEntries() const {
  if (IsLeaf()) return FCount;
  std::int64_t sum = 0;
  for (int i = 1; i <= FCount; ++i) sum += EntryCount(i);
  return sum;
}

void TPage::Serialize(std::uint8_t* out) const {
  std::memset(out, 0, static_cast<std::size_t>(kIndexPageSize));
  out[kPageType] = Type;
  bytes::PutU16(out + kPageCount, static_cast<std::uint16_t>(Free ? 0 : FCount));
  bytes::PutI32(out + kPagePrev, Prev);
  bytes::PutI32(out + kPageNext, Next);
  if (Free) return;
  const int L = FFormat.keyLength;
  std::uint8_t* at = out + kPageHeaderSize;
  if (!IsCompressedLeaf()) {
    const std::size_t entrySize =
        static_cast<std::size_t>(L) + (IsLeaf() ? kRecordNumberSize : kChildRefSize);
    for (int i = 1; i <= FCount; ++i, at += entrySize) std::memcpy(at, Key(i), entrySize);
    return;
  }
  for (int i = 1; i <= FCount; ++i) {
    const std::uint8_t* key = Key(i);
    const TEntryShape shape = ShapeOf(FFormat, i > 1 ? Key(i - 1) : nullptr, key);
    if (FFormat.compression == kCompressFull) {
      at[0] = static_cast<std::uint8_t>(shape.d);
      at[1] = static_cast<std::uint8_t>(shape.t);
    } else {
      bytes::PutU16(at, static_cast<std::uint16_t>(
                            FFormat.compression == kCompressDuplicate ? shape.d : shape.t));
    }
    at += kCompressedEntryHeader;
    const int middleEnd = (shape.suffixApart ? L - kNonUniqueSuffixSize : L) - shape.t;
    std::memcpy(at, key + shape.d, static_cast<std::size_t>(middleEnd - shape.d));
    at += middleEnd - shape.d;
    if (shape.suffixApart) {
      std::memcpy(at, key + L - kNonUniqueSuffixSize, kNonUniqueSuffixSize);
      at += kNonUniqueSuffixSize;
    }
    bytes::PutI32(at, Value(i));
    at += kRecordNumberSize;
  }
  bytes::PutU16(out + kPageUsed, static_cast<std::uint16_t>(at - out - kPageHeaderSize));
}

void TPage::Expand(const std::uint8_t* stored, std::string_view tableName) {
  BeforeWholeChange();
  const int L = FFormat.keyLength;
  if (L <= 0 || L > kMaxKeyLength) Corrupt(tableName);
  Type = stored[kPageType];
  const int count = bytes::GetU16(stored + kPageCount);
  Prev = bytes::GetI32(stored + kPagePrev);
  Next = bytes::GetI32(stored + kPageNext);
  ClearEntries();
  Free = count == 0;
  if (Free) return;
  if (Type > kPageRootLeaf) Corrupt(tableName);
  FEntries.reserve(static_cast<std::size_t>(count) * Stride());
  const std::uint8_t* at = stored + kPageHeaderSize;
  const std::uint8_t* const end = stored + kIndexPageSize;
  if (!IsCompressedLeaf()) {
    const std::size_t entrySize =
        static_cast<std::size_t>(L) + (IsLeaf() ? kRecordNumberSize : kChildRefSize);
    if (count > Capacity()) Corrupt(tableName);
    for (int i = 0; i < count; ++i, at += entrySize) {
      FEntries.insert(FEntries.end(), at, at + entrySize);
      if (IsLeaf()) FEntries.insert(FEntries.end(), 4, 0);
    }
    FCount = count;
    return;
  }
  std::vector<std::uint8_t> key(static_cast<std::size_t>(L), 0);
  for (int i = 0; i < count; ++i) {
    if (end - at < kCompressedEntryHeader) Corrupt(tableName);
    int d = 0, t = 0;
    if (FFormat.compression == kCompressFull) {
      d = at[0];
      t = at[1];
    } else if (FFormat.compression == kCompressDuplicate) {
      d = bytes::GetU16(at);
    } else {
      t = bytes::GetU16(at);
    }
    at += kCompressedEntryHeader;
    if (d > L || (i == 0 && d != 0)) Corrupt(tableName);
    const bool suffixApart =
        !FFormat.unique &&
        (FFormat.compression == kCompressTrailing
             ? L >= kNonUniqueSuffixSize
             : (FFormat.compression == kCompressFull && L - d > kNonUniqueSuffixSize));
    const int middleEnd = (suffixApart ? L - kNonUniqueSuffixSize : L) - t;
    if (middleEnd < d) Corrupt(tableName);
    const int keyBytes = middleEnd - d + (suffixApart ? kNonUniqueSuffixSize : 0);
    if (end - at < keyBytes + kRecordNumberSize) Corrupt(tableName);
    // The first d bytes stay from the previous key; the rest is rebuilt.
    std::fill(key.begin() + d, key.end(), 0);
    std::memcpy(key.data() + d, at, static_cast<std::size_t>(middleEnd - d));
    at += middleEnd - d;
    if (suffixApart) {
      std::memcpy(key.data() + L - kNonUniqueSuffixSize, at, kNonUniqueSuffixSize);
      at += kNonUniqueSuffixSize;
    }
    const std::int32_t value = bytes::GetI32(at);
    at += kRecordNumberSize;
    InsertEntry(FCount, key.data(), value, 0);
  }
  if (bytes::GetU16(stored + kPageUsed) != at - stored - kPageHeaderSize) Corrupt(tableName);
}

}  // namespace engine
