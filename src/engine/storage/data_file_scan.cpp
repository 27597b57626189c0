// TDataFile::ScanRecords: the sequential read path of record-by-record filter
// evaluation. A filter without an index visits every candidate record once,
// in ascending order; taking each into the record cache (GetRecord) would
// evict the cache's whole content several times over per scan and spend the
// time in cache upkeep. The scan reads the file straight into a scratch
// buffer of its own instead and leaves the cache as it found it.
//
// One window at a time:
//   1. The window starts at the next wanted record n and covers at most
//      kReadAheadBytes of records (the largest single read of the file); it
//      ends at the last wanted record inside that span, so a sparse bitmap
//      does not read records nobody asked for.
//   2. When the cache holds every wanted record of the window, the file is not
//      read at all. Otherwise the table first checks for changes by other
//      users, exactly as a cache miss does (StorageHost::LockForCacheMiss;
//      skipped under StrictChangeDetection, where the cursor already holds the
//      read lock); when that check dropped the caches the scan stops and
//      answers false. Then the window is read with one read.
//   3. Every cached record of the window is copied over its slot in the
//      buffer: the cache may hold records that are changed and not yet
//      written (a transaction keeps all its changes there, and records
//      appended in it lie beyond the file's end), and those must win. An
//      unchanged cached record equals the file's copy, so it does no harm.
//   4. Each wanted slot that came from the file is deciphered (records are
//      enciphered one by one) and, when in use, gets its own number at offset
//      1, as a record loaded into the cache does; then the visitor sees it.
// Invariants: the cache's content, order and recency are not touched; no
// cache iterator is held while the visitor runs (the visitor may read
// records through the cache, or scan again: the buffer is local to the call).
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/errors.h"
#include "engine/files/cipher.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/records_bitmap.h"

namespace engine {

bool TDataFile::ScanRecords(TDataCursor* cursor, const TRecordsBitmap& which,
                            const TRecordVisitor& visit) {
  const std::uint32_t r = RecordSize();
  if (r == 0) RaiseEngineError(kErrRecordBufferCorrupt, FileName());
  const std::int32_t last = std::min<std::int64_t>(RecordCount(), which.Size());
  const std::int32_t windowRecords =
      static_cast<std::int32_t>(std::max<std::uint32_t>(1, kReadAheadBytes / r));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(windowRecords) * r);
  std::vector<std::int32_t> wanted;     // record numbers of the window
  std::vector<std::uint8_t> fromCache;  // per slot: 1 when the cache supplied it
  wanted.reserve(static_cast<std::size_t>(windowRecords));
  fromCache.reserve(static_cast<std::size_t>(windowRecords));

  std::int32_t n = static_cast<std::int32_t>(which.FindNext(0));
  while (n != 0 && n <= last) {
    // 1. The window: wanted records first .. (at most first + windowRecords - 1).
    const std::int32_t first = n;
    const std::int64_t spanEnd =
        std::min<std::int64_t>(static_cast<std::int64_t>(first) + windowRecords - 1, last);
    wanted.clear();
    while (n != 0 && n <= spanEnd) {
      wanted.push_back(n);
      n = static_cast<std::int32_t>(which.FindNext(n));
    }
    const std::int32_t end = wanted.back();
    const std::size_t slots = static_cast<std::size_t>(end - first) + 1;
    fromCache.assign(slots, 0);

    // 2. Does any wanted record need the file?
    std::size_t cachedWanted = 0;
    {
      std::size_t w = 0;
      FCache.ForEachInRange(first, end, [&](const TRecord& cached) {
        while (w < wanted.size() && wanted[w] < cached.key) ++w;
        if (w < wanted.size() && wanted[w] == cached.key) ++cachedWanted;
      });
    }
    std::size_t onDisk = 0;  // whole records read from the file
    // The file ended early. Records appended and not yet written (an
    // exclusive table keeps them in its cache between operations) lie
    // beyond the file's end: that is harmless when the cache supplies them.
    bool shortRead = false;
    if (cachedWanted < wanted.size()) {
      if (FHost != nullptr && !FHost->StrictChangeDetection() && FHost->LockForCacheMiss(cursor))
        return false;  // caches were emptied: the caller starts again
      const std::size_t want = slots * r;
      std::int32_t got;
      {
        TFileAccess access(*this);
        Seek(RecordPosition(first), kSeekFromStart);
        got = Read(buffer.data(), static_cast<std::int32_t>(want), true);
      }
      ++FReads;
      shortRead = static_cast<std::size_t>(got) < want && !ShortReadExplained();
      onDisk = static_cast<std::size_t>(std::max(got, 0)) / r;
    }

    // 3. Cached records win over the file's bytes.
    FCache.ForEachInRange(first, end, [&](const TRecord& cached) {
      const std::size_t slot = static_cast<std::size_t>(cached.key - first);
      std::memcpy(&buffer[slot * r], cached.Data(), r);
      fromCache[slot] = 1;
    });

    // 4. Finish the file's records and visit.
    for (const std::int32_t number : wanted) {
      const std::size_t slot = static_cast<std::size_t>(number - first);
      std::uint8_t* record = &buffer[slot * r];
      if (fromCache[slot] == 0) {
        // Neither read nor cached: the header counts a record the file lacks.
        if (slot >= onDisk)
          RaiseEngineError(shortRead ? kErrReadFailed : kErrRecordBufferCorrupt, FileName());
        if (Encrypted()) Decipher(record, r, kDataKey);
        if (record[kRecordStatusOffset] == kRecordInUse)
          bytes::PutI32(record + kRecordLinkOffset, number);
      }
      visit(number, record);
    }
  }
  return true;
}

}  // namespace engine
