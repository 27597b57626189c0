// The chain walk of the BLOB file: freeing a BLOB's chain, verifying it, and
// reporting and cutting broken chains during a repair.
//
// Walk rules (FreeChain):
//   1. First position 0: nothing to do. Otherwise the first block must carry
//      the expected BLOB id; when it does not, the chain belongs to another
//      BLOB: a repair reports "Invalid BLOB offset ..." and (unless only
//      verifying) clears the record's first position; outside a repair that is
//      8963. With `adopt` the block is re-stamped instead.
//   2. Each next position must be a block of the file, must not lead back to a
//      block already walked, and must carry the same id (or be re-stamped with
//      `adopt`). A repair reports "Invalid intra-block pointer ..." or
//      "Recursive intra-block pointer ..." and cuts the chain before the fault
//      (current next := 0); outside a repair each is 8963.
//   3. Unless only verifying, every walked block is freed, in chain order, and
//      the record's first position becomes 0.
// A block of a foreign id is never freed: it belongs to another BLOB.
//
// Loops are found by remembering every walked position, so a chain that
// returns to any of its own blocks (not only the current one) is caught before
// it can make the free chain circular.
#include <unordered_set>

#include "engine/errors.h"
#include "engine/storage/blob_file.h"

namespace engine {
namespace {

constexpr const char* kInvalidOffset = "Invalid BLOB offset in BLOB file for physical record # ";
constexpr const char* kInvalidPointer =
    "Invalid intra-block pointer in BLOB file for physical record # ";
constexpr const char* kRecursivePointer =
    "Recursive intra-block pointer in BLOB file for physical record # ";

std::string ReportLine(const char* what, std::int32_t record, bool verifyOnly) {
  return std::string(what) + std::to_string(record) + ", " +
         (verifyOnly ? "error not fixed" : "error fixed");
}

// Keeps a block pinned for the current scope of the walk.
class TPinnedBlock {
 public:
  TPinnedBlock(TBlobFile& file, TBlock* block) : file_(file), block_(block) {}
  ~TPinnedBlock() { file_.ReleaseBlock(block_); }
  TPinnedBlock(const TPinnedBlock&) = delete;
  TPinnedBlock& operator=(const TPinnedBlock&) = delete;
  TBlock* get() const { return block_; }
  TBlock* operator->() const { return block_; }
  void Reset(TBlock* block) {
    file_.ReleaseBlock(block_);
    block_ = block;
  }

 private:
  TBlobFile& file_;
  TBlock* block_;
};

// Fetches a block. The first fetch of a walk is repeated when the miss check
// dropped the caches (nothing has been changed yet); later in the walk blocks
// have already been freed in the caches, so a drop there cannot be repeated
// safely and is reported as damage.
TBlock* Fetch(TBlobFile& file, TDataCursor* cursor, std::int32_t position, std::int32_t count,
              bool firstOfWalk) {
  for (;;) {
    TBlock* block = file.GetBlock(cursor, position, count, count > 1);
    if (block != nullptr) return block;
    if (!firstOfWalk) RaiseEngineError(kErrBlobBufferCorrupt, file.FileName());
  }
}

}  // namespace

void TBlobFile::FreeChain(TDataCursor* cursor, bool verifyOnly, bool adopt,
                          std::int32_t recordNumber, std::int32_t blobId,
                          std::int32_t& firstPosition, TRepairLog* repair) {
  const std::int32_t p = firstPosition;
  if (p == 0) return;
  const bool inRepair = repair != nullptr;
  if (!IsBlockPosition(p) && !adopt) {
    if (!inRepair) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
    repair->Report(ReportLine(kInvalidOffset, recordNumber, verifyOnly));
    if (!verifyOnly) firstPosition = 0;
    return;
  }
  if (!IsBlockPosition(p)) RaiseEngineError(kErrBlobBufferCorrupt, FileName());

  TPinnedBlock current(*this, Fetch(*this, cursor, p, 1, true));
  if (current->blobId != blobId) {
    if (adopt) {
      current->blobId = blobId;
      current->changed = true;
    } else if (inRepair) {
      repair->Report(ReportLine(kInvalidOffset, recordNumber, verifyOnly));
      if (!verifyOnly) firstPosition = 0;
      return;
    } else {
      RaiseEngineError(kErrBlobBufferCorrupt, FileName());
    }
  }

  const std::int64_t dataSize = DataSize();
  std::int64_t blocksNeeded = (static_cast<std::int64_t>(current->total) + dataSize - 1) / dataSize;
  std::int64_t passed = 1;
  std::unordered_set<std::int32_t> walked{p};

  // Cuts the chain after the current block (repair only).
  auto cut = [&](const char* what) {
    repair->Report(ReportLine(what, recordNumber, verifyOnly));
    if (!verifyOnly) {
      current->next = 0;
      current->changed = true;
    }
  };

  while (current->next != 0) {
    const std::int32_t n = current->next;
    if (!IsBlockPosition(n)) {
      if (!inRepair) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
      cut(kInvalidPointer);
      break;
    }
    if (walked.count(n) != 0) {
      if (!inRepair) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
      cut(kRecursivePointer);
      break;
    }
    const std::int64_t ahead = std::max<std::int64_t>(1, blocksNeeded - passed);
    TBlock* fetched =
        Fetch(*this, cursor, n, static_cast<std::int32_t>(std::min<std::int64_t>(ahead, INT32_MAX)),
              false);
    if (fetched->blobId != blobId) {
      if (adopt) {
        fetched->blobId = blobId;
        fetched->changed = true;
      } else {
        ReleaseBlock(fetched);
        if (!inRepair) RaiseEngineError(kErrBlobBufferCorrupt, FileName());
        cut(kInvalidPointer);
        break;
      }
    }
    walked.insert(n);
    ++passed;
    if (!verifyOnly) FreeBlock(current.get());
    current.Reset(fetched);
  }
  if (!verifyOnly) {
    FreeBlock(current.get());
    firstPosition = 0;
  }
}

void TBlobFile::CheckChain(TDataCursor* cursor, std::int32_t recordNumber, std::int32_t blobId,
                           std::int32_t firstPosition, TRepairLog* repair) {
  std::int32_t position = firstPosition;
  FreeChain(cursor, true, false, recordNumber, blobId, position, repair);
}

}  // namespace engine
