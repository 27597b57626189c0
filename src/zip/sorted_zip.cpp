// The sorted directory list; see sorted_zip.h.
//
// Compare by mode (x, y two entries):
//   ByName            case-insensitive directory+file name, ascending
//   ByFileName        case-insensitive file name part, ascending
//   ByDirectoryName   case-insensitive directory part, ascending
//   ByDate            newest first: +1 when y is later than x, else -1
//   ByCompressedSize  largest first: +1 when y is larger, else -1
//   ByUnCompressedSize  the same on the uncompressed size
//   ByRate            ratio(y) - ratio(x), ratio = compressed*100/uncompressed
//                     rounded, capped at 100, 0 for an empty entry
//   ByNone            physical order: disk, then local header offset
// ByDate and the size modes never answer "equal", so a view in those modes
// keeps every entry even with the ignore or error policy.
#include "zip/sorted_zip.h"

#include <cmath>
#include <string>

#include "platform/dos_time.h"
#include "zip/file_utils.h"
#include "zip/zip_errors.h"

namespace zip {
namespace {

// Beyond this capacity the toolkit's list refuses to grow.
constexpr std::size_t kMaxListCapacity = 0x1FFFFFFE;
constexpr int kMaxRate = 100;

std::int64_t DateValue(std::uint32_t dos) {
  const std::time_t t = platform::UnixFromDosDateTime(ValidateDosDateTime(dos));
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

int Rate(const TZipHeaderInfo& h) {
  if (h.UncompressedSize <= 0) return 0;
  const double ratio = static_cast<double>(h.CompressedSize) * 100.0 / h.UncompressedSize;
  const int rounded = static_cast<int>(std::lround(ratio));
  return rounded > kMaxRate ? kMaxRate : rounded;
}

}  // namespace

TSortedZip::TSortedZip(TDupPolicy policy, bool ownsObjects, TZipSortMode mode)
    : policy_(policy), owns_(ownsObjects), mode_(mode) {}

TSortedZip::~TSortedZip() {
  Clear();
}

int TSortedZip::Compare(const TZipHeaderInfo& x, const TZipHeaderInfo& y) const {
  switch (mode_) {
    case TZipSortMode::ByName:
      return CompareTextAscii(x.FullName(), y.FullName());
    case TZipSortMode::ByFileName:
      return CompareTextAscii(x.FileName(), y.FileName());
    case TZipSortMode::ByDirectoryName:
      return CompareTextAscii(x.Directory(), y.Directory());
    case TZipSortMode::ByDate:
      return DateValue(y.LastModFileDate) > DateValue(x.LastModFileDate) ? 1 : -1;
    case TZipSortMode::ByCompressedSize:
      return y.CompressedSize > x.CompressedSize ? 1 : -1;
    case TZipSortMode::ByUnCompressedSize:
      return y.UncompressedSize > x.UncompressedSize ? 1 : -1;
    case TZipSortMode::ByRate:
      return Rate(y) - Rate(x);
    case TZipSortMode::ByNone:
      if (x.DiskNumberStart != y.DiskNumberStart) {
        return static_cast<int>(x.DiskNumberStart) - static_cast<int>(y.DiskNumberStart);
      }
      if (x.RelativeOffsetOfLocalHeader > y.RelativeOffsetOfLocalHeader) return 1;
      return x.RelativeOffsetOfLocalHeader == y.RelativeOffsetOfLocalHeader ? 0 : -1;
  }
  return 0;
}

bool TSortedZip::Find(const TZipHeaderInfo& key, int& index) const {
  int lo = 0;
  int hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const int c = Compare(*items_[static_cast<std::size_t>(mid)], key);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (policy_ != TDupPolicy::kAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int TSortedZip::Add(TZipHeaderInfo* item) {
  int index = 0;
  if (Find(*item, index)) {
    if (policy_ == TDupPolicy::kIgnore) return -1;
    if (policy_ == TDupPolicy::kError) throw EListError(kMsgDuplicateObject);
  }
  if (items_.size() >= kMaxListCapacity) {
    throw EListError("List index out of bounds (" + std::to_string(items_.size()) + ")");
  }
  items_.insert(items_.begin() + index, item);
  return index;
}

void TSortedZip::SetSortMode(TZipSortMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  std::vector<TZipHeaderInfo*> old;
  old.swap(items_);
  for (TZipHeaderInfo* item : old) {
    int index = 0;
    Find(*item, index);
    items_.insert(items_.begin() + index, item);
  }
}

int TSortedZip::IndexOf(const TZipHeaderInfo* item) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i] == item) return static_cast<int>(i);
  }
  return -1;
}

void TSortedZip::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
}

TZipHeaderInfo* TSortedZip::Item(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)];
}

TZipHeaderInfo* TSortedZip::Neighbour(const TZipHeaderInfo* item, bool next) const {
  const int index = IndexOf(item);
  if (index < 0) throw EListError("tObject TZipHeaderInfo not in item list");
  const int other = next ? index + 1 : index - 1;
  return other >= 0 && other < Count() ? items_[static_cast<std::size_t>(other)] : nullptr;
}

void TSortedZip::Put(int, TZipHeaderInfo*) {
  throw EListError(kMsgPutInSortedList);
}

void TSortedZip::Delete(int index) {
  TZipHeaderInfo* item = Extract(index);
  if (owns_) delete item;
}

TZipHeaderInfo* TSortedZip::Extract(int index) {
  CheckIndex(index);
  TZipHeaderInfo* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  return item;
}

void TSortedZip::Clear() {
  if (owns_) {
    for (TZipHeaderInfo* item : items_) delete item;
  }
  items_.clear();
}

}  // namespace zip
