// Searching an index page, and the search summary kept beside its header:
// see index_page.h.
//
// The summary of a page of n <= 16 entries (L = key length):
//   P             the number of leading bytes every key of the page shares
//                 (L when the page holds one key)
//   prefix        the first min(P, 64) of those shared bytes
//   slice[i]      key i's bytes P..P+7 as a big-endian 64-bit number, bytes
//                 past the key's end read as 0
//   value[i]      entry i's record number (leaf) or child position (internal)
//   count[i]      entry i's leaf entries below (internal; 0 in a leaf)
// Example (L = 12): keys 01 66 69 6C 65 30 31 32 33 00 00 00 and
// 01 66 69 6C 65 30 35 39 39 00 00 00 ("\1file0123", "\1file0599") share
// P = 6 bytes; their slices are 0x3132330000000000 and 0x3539390000000000.
// Under a byte order, a search key that differs from the prefix orders the
// same way against every key of the page; one that shares it orders against
// key i as its own slice orders against slice[i], and only equal slices need
// the rest of the two keys (bytes P+8..L-1) compared.
//
// The summary lives in the page object, so a search through a page of wide
// keys reads a handful of adjacent cache lines of that object instead of one
// or more lines of each of the several keys it visits.
#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/storage/index_keys.h"
#include "engine/storage/index_page.h"

namespace engine {
namespace {

// Binary search over entries 1..count in key order: the last entry whose key
// orders before the one sought (`strict`) or not after it, 0 when none; with
// `equal`, whether that entry's key equals it. `compare(i)` orders entry i
// against the key sought (negative: before).
template <typename Compare>
int LastEntryBefore(int count, bool strict, bool* equal, Compare compare) {
  int low = 1, high = count, result = 0;
  bool resultEqual = false;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    const int c = compare(mid);
    if (strict ? c < 0 : c <= 0) {
      result = mid;
      resultEqual = c == 0;
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  if (equal != nullptr) *equal = resultEqual;
  return result;
}

int Sign(int value) {
  return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Bytes a and b share at the start, looking at no more than `limit`.
int SharedBytes(const std::uint8_t* a, const std::uint8_t* b, int limit) {
  int n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

std::uint64_t TPage::SliceOf(const std::uint8_t* key) const {
  const int from = FSummaryPrefix;
  const int n = std::clamp(FFormat.keyLength - from, 0, kSliceBytes);
  if (n == kSliceBytes) {
    std::uint64_t word;
    std::memcpy(&word, key + from, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
  }
  std::uint64_t slice = 0;
  for (int k = 0; k < kSliceBytes; ++k) {
    slice = (slice << 8) | (k < n ? key[from + k] : 0u);
  }
  return slice;
}

int TPage::ComparePrefix(const std::uint8_t* key, int other) const {
  const int copied = std::min(FSummaryPrefix, kSummaryPrefixBytes);
  int order =
      copied > 0 ? std::memcmp(FSummaryPrefixBytes, key, static_cast<std::size_t>(copied)) : 0;
  if (order == 0 && FSummaryPrefix > copied) {
    order = std::memcmp(Key(other) + copied, key + copied,
                        static_cast<std::size_t>(FSummaryPrefix - copied));
  }
  return Sign(order);
}

void TPage::EnsureSummary() {
  if (FSummaryValid || FCount < 1 || FCount > kSummaryEntries) return;
  const std::uint8_t* first = Key(1);
  int shared = FFormat.keyLength;
  for (int i = 2; i <= FCount && shared > 0; ++i) shared = SharedBytes(first, Key(i), shared);
  FSummaryPrefix = shared;
  std::memcpy(FSummaryPrefixBytes, first,
              static_cast<std::size_t>(std::min(shared, kSummaryPrefixBytes)));
  for (int i = 1; i <= FCount; ++i) {
    FSummarySlices[i - 1] = SliceOf(Key(i));
    FSummaryValues[i - 1] = StoredValue(i);
    FSummaryCounts[i - 1] = StoredEntryCount(i);
  }
  FSummaryValid = true;
}

void TPage::SummaryInserted(int i) {
  if (!FSummaryValid) return;
  // A valid summary had at least one entry, so another entry is there.
  if (FCount > kSummaryEntries || ComparePrefix(Key(i), i == 1 ? 2 : 1) != 0) {
    DropSummary();  // rebuilt, with a shorter prefix, at the next search
    return;
  }
  const auto at = static_cast<std::size_t>(i - 1);
  const auto moved = static_cast<std::size_t>(FCount - i);
  std::memmove(FSummarySlices + at + 1, FSummarySlices + at, moved * sizeof(FSummarySlices[0]));
  std::memmove(FSummaryValues + at + 1, FSummaryValues + at, moved * sizeof(FSummaryValues[0]));
  std::memmove(FSummaryCounts + at + 1, FSummaryCounts + at, moved * sizeof(FSummaryCounts[0]));
  FSummarySlices[at] = SliceOf(Key(i));
  FSummaryValues[at] = StoredValue(i);
  FSummaryCounts[at] = StoredEntryCount(i);
}

void TPage::SummaryKeyChanged(int i) {
  if (!FSummaryValid) return;
  if (FCount < 2 || ComparePrefix(Key(i), i == 1 ? 2 : 1) != 0) {
    DropSummary();
    return;
  }
  FSummarySlices[i - 1] = SliceOf(Key(i));
}

void TPage::SummaryRemoved(int i) {
  if (!FSummaryValid) return;
  // The keys left still share the prefix: it stays as it is.
  if (FCount == 0) {
    DropSummary();
    return;
  }
  const auto at = static_cast<std::size_t>(i - 1);
  const auto moved = static_cast<std::size_t>(FCount + 1 - i);
  std::memmove(FSummarySlices + at, FSummarySlices + at + 1, moved * sizeof(FSummarySlices[0]));
  std::memmove(FSummaryValues + at, FSummaryValues + at + 1, moved * sizeof(FSummaryValues[0]));
  std::memmove(FSummaryCounts + at, FSummaryCounts + at + 1, moved * sizeof(FSummaryCounts[0]));
}

bool TPage::SummaryMatchesEntries() const {
  if (!FSummaryValid) return true;
  if (FCount < 1 || FCount > kSummaryEntries || FSummaryPrefix > FFormat.keyLength) return false;
  for (int i = 1; i <= FCount; ++i) {
    if (std::memcmp(Key(i), Key(1), static_cast<std::size_t>(FSummaryPrefix)) != 0 ||
        ComparePrefix(Key(i), 1) != 0 || FSummarySlices[i - 1] != SliceOf(Key(i)) ||
        FSummaryValues[i - 1] != StoredValue(i) || FSummaryCounts[i - 1] != StoredEntryCount(i)) {
      return false;
    }
  }
  return true;
}

bool TPage::UsesSummary(const TKeyLayout& layout, int length) {
  if (length != FFormat.keyLength || !layout.Bytewise() ||
      layout.KeyLength() != FFormat.keyLength) {
    return false;
  }
  EnsureSummary();
  return FSummaryValid;
}

int TPage::SummarySearch(const std::uint8_t* key, bool reversed, bool strict, bool* equal) const {
  if (equal != nullptr) *equal = false;
  int order = ComparePrefix(key, 1);
  if (reversed) order = -order;
  if (order != 0) return order < 0 ? FCount : 0;  // every key orders alike
  const std::uint64_t slice = SliceOf(key);
  const int rest = FSummaryPrefix + kSliceBytes;
  return LastEntryBefore(FCount, strict, equal, [&](int mid) {
    const std::uint64_t entry = FSummarySlices[mid - 1];
    int c = entry < slice ? -1 : (entry > slice ? 1 : 0);
    if (c == 0 && rest < FFormat.keyLength) {
      c = Sign(std::memcmp(Key(mid) + rest, key + rest,
                           static_cast<std::size_t>(FFormat.keyLength - rest)));
    }
    return reversed ? -c : c;
  });
}

void TPage::PrefetchKeys() const {
  // A binary search reads about log2(n) keys one after another, each in its
  // own cache lines (a catalog key is 509 bytes); asking for the first line
  // of every key at once lets those memory reads overlap. An internal page's
  // descent then reads the chosen entry's child position, which lies L bytes
  // further on, in another line when keys are wide: it is asked for too.
  if (FCount > kPrefetchedKeys) return;
  const std::size_t stride = Stride();
  const std::size_t length = static_cast<std::size_t>(FFormat.keyLength);
  const bool values = !IsLeaf() && length >= kCacheLineBytes;
  const std::uint8_t* at = FEntries.data();
  for (int i = 0; i < FCount; ++i, at += stride) {
    __builtin_prefetch(at);
    if (values) __builtin_prefetch(at + length);
  }
}

int TPage::KeySearch(const TKeyLayout& layout, const std::uint8_t* key, int length, bool strict,
                     bool* equal) const {
  PrefetchKeys();
  return LastEntryBefore(FCount, strict, equal,
                         [&](int mid) { return layout.Compare(Key(mid), key, length); });
}

int TPage::SearchForInsert(const TKeyLayout& layout, const std::uint8_t* key, int length,
                           bool* equal) {
  // Last entry whose key is <= key.
  const int result = UsesSummary(layout, length)
                         ? SummarySearch(key, layout.Descending(), false, equal)
                         : KeySearch(layout, key, length, false, equal);
  Current = result;
  return result;
}

int TPage::Search(const TKeyLayout& layout, const std::uint8_t* key, int length, bool& found) {
  int i = SearchForInsert(layout, key, length, &found);
  if (i == 0 && FCount > 0) i = 1;
  Current = i;
  return i;
}

int TPage::SearchBefore(const TKeyLayout& layout, const std::uint8_t* key, int length) {
  // Last entry whose key is < key.
  const int result = UsesSummary(layout, length)
                         ? SummarySearch(key, layout.Descending(), true, nullptr)
                         : KeySearch(layout, key, length, true, nullptr);
  Current = result;
  return result;
}

}  // namespace engine
