// Checks of a BLOB file: the header check made when a table opens, and the
// full diagnosis used by the table-set checker, which walks the free chain and
// the chain of every BLOB of every record in use without changing anything.
// DiagnoseTableFiles runs the data file's and the BLOB file's checks together.
//
// Header rules: format 4 (else 12035); with the end position at 512 the first
// free position must be 0; otherwise a non-zero first free position lies
// between 512 and end - S. This implementation also requires the end position
// and the first free position to fall on block boundaries, since every later
// append or reuse would otherwise address half blocks (8961).
#include <algorithm>
#include <cstdint>

#include "engine/errors.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file_bytes.h"

namespace engine {

std::vector<TCheckFinding> TBlobFile::Diagnose() {
  std::vector<TCheckFinding> findings;
  if (Format() != kFileFormat)
    findings.push_back({kErrWrongVersion, "BLOB file format byte is " + std::to_string(Format())});
  const std::int64_t end = EndPosition();
  const std::int64_t free = FirstFree();
  if (end < kBlobHeaderSize || (end - kBlobHeaderSize) % BlockSize() != 0) {
    findings.push_back({kErrHeaderCorrupt,
                        "BLOB end position " + std::to_string(end) + " is not a block boundary"});
  } else if (end == kBlobHeaderSize
                 ? free != 0
                 : free != 0 && (free < kBlobHeaderSize || free > end - BlockSize() ||
                                 (free - kBlobHeaderSize) % BlockSize() != 0)) {
    findings.push_back({kErrHeaderCorrupt, "BLOB first free position " + std::to_string(free) +
                                               " lies outside the blocks"});
  }
  return findings;
}

void TBlobFile::CheckConsistency() {
  const std::vector<TCheckFinding> findings = Diagnose();
  if (!findings.empty()) RaiseEngineError(findings.front().code, FileName());
}

std::vector<TCheckFinding> TBlobFile::DiagnoseChains(TDataFile& data, TDataCursor* cursor) {
  struct Forget {  // the window's cached-block list must not outlive the walk
    TBlobFile& file;
    ~Forget() { file.ResetWindow(); }
  } forget{*this};
  std::vector<TCheckFinding> findings;
  // Repeated from the start when a change check dropped the caches.
  while (!DiagnoseChainsOnce(data, cursor, findings)) {
  }
  return findings;
}

// The walk reads blocks through the walk window (blob_file_read.cpp), so the
// chains of a file written in one go come with one read per window instead
// of one per block. Which chain reached each block is kept in one number per
// block of the file: 0 none yet, 1 the free chain, 2 and up the BLOB chains
// in walk order.
bool TBlobFile::DiagnoseChainsOnce(TDataFile& data, TDataCursor* cursor,
                                   std::vector<TCheckFinding>& findings) {
  ResetWindow();
  findings = Diagnose();
  if (!findings.empty()) return true;  // positions cannot be trusted
  auto add = [&](const std::string& text) { findings.push_back({kErrBlobBufferCorrupt, text}); };
  const auto blockIndex = [&](std::int32_t p) {
    return static_cast<std::size_t>((p - static_cast<std::int64_t>(kBlobHeaderSize)) / BlockSize());
  };
  std::vector<std::int32_t> owner(blockIndex(EndPosition()), 0);
  constexpr std::int32_t kFreeChain = 1;
  // Free blocks lie anywhere: one block per read. A BLOB chain reads ahead
  // as far as the window goes; chains of records in a row usually follow one
  // another in the file.
  constexpr std::int64_t kFreeAhead = 1;
  constexpr std::int64_t kChainAhead = INT32_MAX;
  TBlockView view;

  for (std::int32_t p = FirstFree(); p != 0;) {
    if (!IsBlockPosition(p)) {
      add("free chain leads to position " + std::to_string(p) + " outside the blocks");
      break;
    }
    if (owner[blockIndex(p)] != 0) {
      add("free chain returns to block " + std::to_string(p));
      break;
    }
    owner[blockIndex(p)] = kFreeChain;
    if (!ViewBlock(cursor, p, kFreeAhead, view)) return false;
    p = view.next;
  }

  std::vector<const TFieldDefinition*> blobFields;
  for (const TFieldDefinition& f : data.Definitions()) {
    if (f.Type() == kFieldBlob && f.Offset() + 9u <= data.RecordSize()) blobFields.push_back(&f);
  }
  const std::int64_t dataSize = DataSize();
  std::int32_t chain = kFreeChain;
  std::vector<std::uint8_t> copy;
  for (std::int32_t n = 1; n <= data.RecordCount(); ++n) {
    TRecord* record = data.GetRecord(cursor, n);
    if (record == nullptr) return false;
    copy.assign(record->buffer.begin(), record->buffer.end());
    data.ReleaseRecord(record);
    RecollectWindowCache();
    if (copy[kRecordStatusOffset] != kRecordInUse) continue;
    for (const TFieldDefinition* f : blobFields) {
      const std::uint8_t* slot = &copy[f->Offset()];
      const std::int32_t first = bytes::GetI32(slot + 1);
      const std::int32_t id = bytes::GetI32(slot + 5);
      if (slot[0] == 0 || first == 0) continue;
      const std::string where = "record " + std::to_string(n) + " field " + f->Name() + ": ";
      if (!IsBlockPosition(first)) {
        add(where + "first block " + std::to_string(first) + " is not a block of the file");
        continue;
      }
      ++chain;
      std::int64_t bytesFound = 0;
      std::int64_t total = -1;
      for (std::int32_t p = first; p != 0;) {
        if (!IsBlockPosition(p)) {
          add(where + "chain leads to position " + std::to_string(p) + " outside the blocks");
          break;
        }
        std::int32_t& reachedBy = owner[blockIndex(p)];
        if (reachedBy == chain) {
          add(where + "chain returns to block " + std::to_string(p));
          break;
        }
        if (reachedBy != 0) {
          add(where + "block " + std::to_string(p) + " also belongs to another chain");
          break;
        }
        reachedBy = chain;
        const std::int32_t at = p;
        if (!ViewBlock(cursor, p, kChainAhead, view)) return false;
        const std::int32_t blockId = view.blobId;
        const std::int64_t used = view.used;
        if (total < 0) total = view.total;
        bytesFound += std::min<std::int64_t>(used, dataSize);
        p = view.next;
        if (used > dataSize) {
          add(where + "block " + std::to_string(at) + " claims " + std::to_string(used) +
              " bytes used, its data area holds " + std::to_string(dataSize));
          total = -1;
          break;
        }
        if (blockId != id) {
          add(where + "block " + std::to_string(at) + " carries BLOB id " +
              std::to_string(blockId) + ", the record " + std::to_string(id));
          total = -1;
          break;
        }
        // Only a chain's last block is partly filled: a reader stops at the
        // first block that is, short of the BLOB's length.
        if (used < dataSize && p != 0 && bytesFound < total) {
          add(where + "block " + std::to_string(at) + " holds " + std::to_string(used) +
              " bytes, yet the chain goes on");
          total = -1;
          break;
        }
      }
      if (total >= 0 && bytesFound != total)
        add(where + "chain holds " + std::to_string(bytesFound) + " bytes, the BLOB " +
            std::to_string(total));
    }
  }
  return true;
}

std::vector<TCheckFinding> DiagnoseTableFiles(const std::string& dataFileName,
                                              const std::string& blobFileName, bool inMemory,
                                              TValueTextCheckMaker valueTexts) {
  std::vector<TCheckFinding> findings;
  auto add = [&](const std::vector<TCheckFinding>& more) {
    findings.insert(findings.end(), more.begin(), more.end());
  };
  // A host for a read-only look: nothing is written, so no short read of
  // unwritten records can be expected.
  TSimpleStorageHost host;
  host.exclusive = false;
  TDataFile data(nullptr, &host);
  data.SetFileName(dataFileName);
  data.SetInMemory(inMemory);
  data.SetReadOnly(true);
  try {
    data.Open();
    add(data.Diagnose(valueTexts));
  } catch (const EZORVADEngineError& e) {
    findings.push_back({e.ErrorCode(), dataFileName + ": " + e.Message()});
    return findings;
  }
  if (data.BlobFieldCount() <= 0 || !findings.empty()) return findings;

  TBlobFile blob(nullptr, &host);
  blob.SetFileName(blobFileName);
  blob.SetInMemory(inMemory);
  blob.SetReadOnly(true);
  blob.SetBlockSize(data.BlobBlockSize());
  blob.SetEncrypted(data.Encrypted());
  try {
    blob.Open();
    add(blob.DiagnoseChains(data));
  } catch (const EZORVADEngineError& e) {
    findings.push_back({e.ErrorCode(), blobFileName + ": " + e.Message()});
  }
  return findings;
}

}  // namespace engine
