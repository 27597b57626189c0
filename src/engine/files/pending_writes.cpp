// TPendingWrites: recorded writes over a stored file (see pending_writes.h).
#include "engine/files/pending_writes.h"

#include <algorithm>
#include <cstring>

namespace engine {

std::int64_t TPendingWrites::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  if (origin == 1) base = position_;
  if (origin == 2) base = size_;
  if (base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

void TPendingWrites::Write(const void* buffer, std::int32_t count) {
  if (count < 0) return;
  Operation op;
  op.offset = position_;
  if (count == 0) {
    op.cut = true;
    cut_ = true;
    size_ = position_;
  } else {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    op.bytes.assign(in, in + count);
    position_ += count;
    size_ = std::max(size_, position_);
    recordedEnd_ = std::max(recordedEnd_, position_);
  }
  operations_.push_back(std::move(op));
}

bool TPendingWrites::TakeDirect(std::int32_t count) {
  if (count < kMinDirectWrite || cut_ || !before_ || position_ < original_ ||
      position_ < recordedEnd_)
    return false;
  if (!directStarted_) {
    before_();
    directStarted_ = true;
  }
  return true;
}

void TPendingWrites::NoteDirectWrite(std::int32_t count) {
  position_ += count;
  size_ = std::max(size_, position_);
  stored_ = std::max(stored_, position_);
}

std::int32_t TPendingWrites::Read(void* buffer, std::int32_t count, const StoredReader& stored) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t start = position_;
  const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size_ - start));
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::memset(out, 0, static_cast<std::size_t>(n));
  const std::int64_t end = start + n;
  if (start < stored_) {
    const auto want = static_cast<std::int32_t>(std::min(end, stored_) - start);
    stored(start, out, want);  // a short stored read leaves zeros
  }
  for (const Operation& op : operations_) {
    if (op.cut) {
      if (op.offset < end) {
        const std::int64_t from = std::max(op.offset, start);
        std::memset(out + (from - start), 0, static_cast<std::size_t>(end - from));
      }
      continue;
    }
    const std::int64_t opEnd = op.offset + static_cast<std::int64_t>(op.bytes.size());
    const std::int64_t from = std::max(op.offset, start);
    const std::int64_t to = std::min(opEnd, end);
    if (from < to) {
      std::memcpy(out + (from - start), op.bytes.data() + (from - op.offset),
                  static_cast<std::size_t>(to - from));
    }
  }
  position_ = end;
  return n;
}

std::vector<TPendingWrites::Region> TPendingWrites::TouchedRegions() const {
  std::vector<Region> regions;
  for (const Operation& op : operations_) {
    const std::int64_t first = op.offset;
    const std::int64_t last =
        op.cut ? original_ : op.offset + static_cast<std::int64_t>(op.bytes.size());
    const std::int64_t end = std::min(last, original_);
    if (first < end) regions.push_back({first, end - first});
  }
  std::sort(regions.begin(), regions.end(),
            [](const Region& a, const Region& b) { return a.first < b.first; });
  std::vector<Region> merged;
  for (const Region& r : regions) {
    if (!merged.empty() && r.first <= merged.back().first + merged.back().length) {
      const std::int64_t end =
          std::max(merged.back().first + merged.back().length, r.first + r.length);
      merged.back().length = end - merged.back().first;
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

}  // namespace engine
