// Directory load and repair scan; the procedure is described in dir_load.h.
#include "zip/dir_load.h"

#include <array>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/ui_services.h"
#include "zip/file_utils.h"
#include "zip/zip_errors.h"

namespace zip {
namespace {

// Self-extracting archives carry a program in front; the scan skips it.
constexpr std::int64_t kExeScanStart = 14000;
// Window messages are processed once per this many bytes examined.
constexpr std::int64_t kScanMessageInterval = 10240;
// Data descriptor: optional signature, CRC, compressed and uncompressed size.
constexpr std::int64_t kDescriptorSize = 12;
constexpr std::int64_t kSignedDescriptorSize = 16;
// A version needed of 10.0 or more is not a plausible local header.
constexpr std::uint8_t kMaxVersionMajor = 10;
constexpr std::int32_t kScanPiece = 8192;

void CheckCancel(const TDirLoadOptions& options) {
  if (!options.doProcessMessages) return;
  platform::Ui().ProcessMessages();
  if (platform::Ui().CancelRequested()) throw EUserCanceled(kMsgUserAborted);
}

// Finds the next position at or after `from` where `pred(bytes, available)`
// holds, reading in pieces. Returns -1 at the end of the stream.
template <typename Pred>
std::int64_t ScanForward(TStream& s, std::int64_t from, std::int64_t limit,
                         const TDirLoadOptions& options, Pred pred) {
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(kScanPiece) + 16);
  std::int64_t sinceMessages = 0;
  for (std::int64_t base = from; base < limit; base += kScanPiece) {
    if (s.Seek(base, kSeekFromBeginning) < 0) return -1;
    const std::int32_t got = s.Read(piece.data(), static_cast<std::int32_t>(piece.size()));
    if (got <= 0) return -1;
    const std::int32_t usable = std::min(got, kScanPiece);
    for (std::int32_t i = 0; i < usable; ++i) {
      if (pred(piece.data() + i, got - i)) return base + i;
    }
    sinceMessages += usable;
    if (sinceMessages >= kScanMessageInterval) {
      sinceMessages = 0;
      CheckCancel(options);
    }
  }
  return -1;
}

bool IsLocalStart(const std::uint8_t* p, std::int32_t available) {
  return available >= 6 && GetU32(p) == kLocalSignature && p[5] < kMaxVersionMajor;
}

// Where the data descriptors of an archive may lie, found in one pass.
//
// A descriptor belongs to the entry whose data starts exactly its compressed
// size in front of it, so every candidate names the one data start it could
// close: a signed descriptor at p (signature, CRC, compressed, uncompressed)
// closes the data that starts at p - compressed; an unsigned one (CRC,
// compressed, uncompressed) must sit right in front of the next record's
// signature (or the end of the archive) at q and closes the data that starts at q - 12 -
// compressed. Keyed by that data start, the first candidate of each kind answers an entry in O(1),
// so the repair scan reads the archive once instead of once per entry.
class DescriptorIndex {
 public:
  DescriptorIndex(TStream& s, std::int64_t limit, const TDirLoadOptions& options) {
    std::vector<std::int64_t> records;
    ScanForward(s, 0, limit, options, [&](const std::uint8_t* p, std::int32_t avail) {
      if (avail < 4) return false;
      const std::uint32_t sig = GetU32(p);
      if (sig == kLocalSignature || sig == kCentralSignature || sig == kEndSignature) {
        records.push_back(position_);
      } else if (sig == kDataDescriptorSignature && avail >= kSignedDescriptorSize) {
        const std::int64_t start = position_ - static_cast<std::int64_t>(GetU32(p + 8));
        signed_.emplace(start, Descriptor{GetU32(p + 4), GetU32(p + 8), GetU32(p + 12),
                                          position_ + kSignedDescriptorSize});
      }
      ++position_;
      return false;
    });
    // The end of the archive closes its last entry when the directory is gone.
    records.push_back(limit);
    std::array<std::uint8_t, kDescriptorSize> d{};
    for (const std::int64_t q : records) {
      const std::int64_t at = q - kDescriptorSize;
      if (at < 0 || s.Seek(at, kSeekFromBeginning) < 0 ||
          !s.ReadExact(d.data(), static_cast<std::int32_t>(d.size()))) {
        continue;
      }
      const std::int64_t start = at - static_cast<std::int64_t>(GetU32(&d[4]));
      unsigned_.emplace(start, Descriptor{GetU32(&d[0]), GetU32(&d[4]), GetU32(&d[8]), q});
    }
  }

  // Fills in CRC and sizes for the data starting at `dataStart` and returns
  // the position after its descriptor; -1 when none fits. A signed
  // descriptor wins over an unsigned one.
  std::int64_t Locate(std::int64_t dataStart, TZipHeaderInfo& h) const {
    auto it = signed_.find(dataStart);
    if (it == signed_.end()) it = unsigned_.find(dataStart);
    if (it == unsigned_.end()) return -1;
    h.CRC32 = it->second.crc;
    h.CompressedSize = static_cast<std::int32_t>(it->second.compressed);
    h.UncompressedSize = static_cast<std::int32_t>(it->second.uncompressed);
    return it->second.next;
  }

 private:
  struct Descriptor {
    std::uint32_t crc;
    std::uint32_t compressed;
    std::uint32_t uncompressed;
    std::int64_t next;  // the position after the descriptor
  };
  std::int64_t position_ = 0;  // of the byte the scan is looking at
  // Data start -> the first descriptor (in archive order) that closes it.
  std::unordered_map<std::int64_t, Descriptor> signed_;
  std::unordered_map<std::int64_t, Descriptor> unsigned_;
};

void ThrowBad(TZipDirectory& dir) {
  dir.Clear();
  throw EBadZipFile(kMsgNotAZip);
}

}  // namespace

bool RepairScan(TStream& archive, const TDirLoadOptions& options, TZipDirectory& dir) {
  const std::int64_t size = archive.Size();
  const std::int64_t start =
      SameTextAscii(ExtractFileExt(options.archiveName), ".EXE") ? kExeScanStart : 0;
  std::int64_t at = ScanForward(archive, start, size, options, IsLocalStart);
  if (at < 0) return false;
  auto list = std::make_unique<TSortedZip>(TDupPolicy::kError, true, TZipSortMode::ByNone);
  std::unique_ptr<DescriptorIndex> descriptors;  // built when first needed
  std::int64_t after = at;
  while (at >= 0 && at < size) {
    archive.Seek(at, kSeekFromBeginning);
    auto header = std::make_unique<TZipHeaderInfo>();
    if (!header->ReadLocal(archive)) break;
    const std::int64_t dataStart = archive.Position() + header->LocalExtraFieldLength;
    std::int64_t next = dataStart + static_cast<std::uint32_t>(header->CompressedSize);
    if (header->HasDataDescriptor()) {
      next += kSignedDescriptorSize;
      if (header->CompressedSize == 0) {
        // The sizes are only in the descriptor behind the data.
        if (!descriptors) descriptors = std::make_unique<DescriptorIndex>(archive, size, options);
        next = descriptors->Locate(dataStart, *header);
      }
    }
    if (list->Add(header.get()) >= 0) header.release();
    if (next < 0) break;
    after = std::min(next, size);
    at = next;
  }
  if (list->Count() == 0) return false;
  dir.end.Clear();
  dir.end.CentralDirOffset = static_cast<std::uint32_t>(after);
  dir.end.TotalEntries = static_cast<std::uint16_t>(std::min(list->Count(), 0xFFFF));
  dir.end.EntriesOnThisDisk = dir.end.TotalEntries;
  dir.list = std::move(list);
  return true;
}

void LoadDirectory(TStream& archive, const TDirLoadOptions& options, TZipDirectory& dir) {
  dir.Clear();
  TEndCentral& end = dir.end;
  if (!end.Find(archive)) {
    end.Clear();
    if (FileExists(ExtractFilePath(options.archiveName) +
                   ExtractFileName(options.archiveName)
                       .substr(0, ExtractFileName(options.archiveName).size() -
                                      ExtractFileExt(options.archiveName).size()) +
                   ".zfc")) {
      throw EZipNotSupported(kMsgMultiDiskNotSupported);
    }
    TIncompleteZipMode mode = options.incompleteMode;
    if (options.onIncompleteZip) options.onIncompleteZip(mode);
    switch (mode) {
      case TIncompleteZipMode::izAssumeNotAZip:
        throw ENotAZipFile(kMsgNotAZip);
      case TIncompleteZipMode::izAssumeMulti:
        throw EIncompleteZip(kMsgIncompleteZip);
      case TIncompleteZipMode::izAssumeBad:
        if (!RepairScan(archive, options, dir)) ThrowBad(dir);
        return;
    }
  }
  // A zip64 locator right in front of the end record, or the 32-bit fields
  // holding the zip64 marker.
  if (end.RecordOffset >= kZip64LocatorSize) {
    std::array<std::uint8_t, 4> sig{};
    archive.Seek(end.RecordOffset - kZip64LocatorSize, kSeekFromBeginning);
    if (archive.ReadExact(sig.data(), 4) && GetU32(sig.data()) == kZip64LocatorSignature) {
      dir.Clear();
      throw EZipNotSupported(kMsgZip64NotSupported);
    }
  }
  if (end.CentralDirOffset == kSizeUnknown32 || end.CentralDirSize == kSizeUnknown32) {
    dir.Clear();
    throw EZipNotSupported(kMsgZip64NotSupported);
  }
  if (end.ThisDiskNumber != 0) {
    dir.Clear();
    throw EZipNotSupported(kMsgMultiDiskNotSupported);
  }

  dir.list = std::make_unique<TSortedZip>(TDupPolicy::kError, true, TZipSortMode::ByNone);
  bool repaired = false;
  std::set<const TZipHeaderInfo*> merged;
  std::int64_t directoryStart = end.CentralDirOffset;
  int read = 0;
  archive.Seek(directoryStart, kSeekFromBeginning);
  std::uint16_t previousExtra = 0;
  bool havePrevious = false;
  while (read < end.TotalEntries) {
    auto header = std::make_unique<TZipHeaderInfo>();
    std::uint16_t extra = 0;
    bool ok = header->ReadCentral(archive, &extra);
    if (!ok && havePrevious && previousExtra > 0) {
      archive.Seek(-static_cast<std::int64_t>(previousExtra), kSeekFromCurrent);
      ok = header->ReadCentral(archive, &extra);
    }
    if (!ok && read == 0 && !repaired && end.RecordOffset >= end.CentralDirSize) {
      // The directory may lie where the end record says it ends.
      const std::int64_t shifted = end.RecordOffset - end.CentralDirSize;
      if (shifted != directoryStart && archive.Seek(shifted, kSeekFromBeginning) >= 0 &&
          header->ReadCentral(archive, &extra)) {
        ok = true;
        end.ArchiveShift = shifted - static_cast<std::int64_t>(end.CentralDirOffset);
        directoryStart = shifted;
      }
    }
    bool needRepair = false;
    if (!ok) {
      if (repaired) break;
      needRepair = true;
    } else if (header->NeedsZip64) {
      dir.Clear();
      throw EZipNotSupported(kMsgZip64NotSupported);
    } else if (repaired) {
      // Merge into the scanned entry at the same disk and local offset.
      header->RelativeOffsetOfLocalHeader =
          static_cast<std::uint32_t>(header->RelativeOffsetOfLocalHeader + end.ArchiveShift);
      // Each scanned entry takes the first central header that claims it.
      int index = 0;
      if (dir.list->Find(*header, index) && merged.insert(dir.list->Item(index)).second) {
        TZipHeaderInfo* scanned = dir.list->Item(index);
        const std::uint32_t localOffset = scanned->RelativeOffsetOfLocalHeader;
        *scanned = *header;
        scanned->RelativeOffsetOfLocalHeader = localOffset;
      }
    } else {
      try {
        dir.list->Add(header.get());
        header.release();
      } catch (const EListError&) {
        needRepair = true;
      }
    }
    if (needRepair) {
      TZipDirectory scanned;
      if (!RepairScan(archive, options, scanned)) ThrowBad(dir);
      repaired = true;
      const std::int64_t shift = end.ArchiveShift;
      const std::uint32_t commentOffset = end.CommentOffset;
      const std::uint16_t commentLength = end.CommentLength;
      const std::int64_t recordOffset = end.RecordOffset;
      const std::uint16_t announced = end.TotalEntries;
      dir.list = std::move(scanned.list);
      end = scanned.end;
      end.ArchiveShift = shift;
      end.CommentOffset = commentOffset;
      end.CommentLength = commentLength;
      end.RecordOffset = recordOffset;
      // Walk the central headers again, merging.
      end.TotalEntries = announced;
      archive.Seek(directoryStart, kSeekFromBeginning);
      read = 0;
      havePrevious = false;
      continue;
    }
    previousExtra = extra;
    havePrevious = true;
    ++read;
  }
  if (repaired) {
    end.TotalEntries = static_cast<std::uint16_t>(std::min(dir.list->Count(), 0xFFFF));
    end.EntriesOnThisDisk = end.TotalEntries;
    return;
  }
  // Headers the end record does not count: a writer that wrapped its 16-bit
  // count leaves them behind. They lie inside the directory's declared size;
  // each is read, and the caller is told how many the count missed.
  const std::int64_t directoryEnd = directoryStart + static_cast<std::int64_t>(end.CentralDirSize);
  while (archive.Position() < directoryEnd) {
    auto header = std::make_unique<TZipHeaderInfo>();
    std::uint16_t extra = 0;
    if (!header->ReadCentral(archive, &extra) || header->NeedsZip64) break;
    try {
      dir.list->Add(header.get());
      header.release();
    } catch (const EListError&) {
      break;
    }
    ++dir.uncountedEntries;
  }
}

}  // namespace zip
