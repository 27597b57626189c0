// What the data and BLOB files need from the table that owns them.
//
// TDataFile and TBlobFile are driven by the table object and its cursors. A
// few of their rules depend on the table's state: whether it keeps changes in
// memory until it writes the whole set back (then full caches grow instead of
// writing one file back), whether it is exclusive and has written since it opened (then a short
// read of records or blocks that exist only in the caches is accepted), the session flags
// ForceBufferFlush and StrictChangeDetection, and the change check that a
// cache miss runs under the table's read lock. TStorageHost is that view of
// the table; the table object implements it and passes itself to its files.
//
// TSimpleStorageHost is a host with plain settable fields, for a file used on
// its own (tools, tests): it never finds changes by other users.
#pragma once

#include <string>

namespace engine {

class TDataCursor;

class TStorageHost {
 public:
  virtual ~TStorageHost() = default;

  // Session settings.
  virtual bool StrictChangeDetection() const = 0;
  virtual bool ForceBufferFlush() const = 0;
  // Directory for temporary work files of a sort, with a trailing backslash.
  virtual std::string TempDirectory() const = 0;

  // Table state.
  virtual bool IsExclusive() const = 0;
  virtual bool HoldsTransactionLock() const = 0;
  // Whether a cache full of changed entries grows instead of writing one
  // file back: the owner writes the whole set back at once later (a
  // transaction's commit, the end of a change made outside one), so that no
  // file reaches the disk half-way through a change. Also whether a short
  // read of records or blocks that exist only in the caches is expected.
  virtual bool KeepsChangesInMemory() const { return HoldsTransactionLock(); }
  // True once any file of the table wrote or marked a change since it opened.
  virtual bool HasWritten() const = 0;
  // Called by every write and every marked header change.
  virtual void NoteWrite() = 0;

  // A record or block was not in its cache: take the table's read lock for
  // `cursor` (released when the cursor's operation ends) and check the files
  // for changes by other users, dropping the caches when there were any.
  // Returns true when caches were dropped; the caller then returns without a
  // record or block so that the operation is repeated.
  virtual bool LockForCacheMiss(TDataCursor* cursor) = 0;
};

class TSimpleStorageHost : public TStorageHost {
 public:
  bool strictChangeDetection = false;
  bool forceBufferFlush = false;
  std::string tempDirectory;
  bool exclusive = true;
  bool transactionLock = false;
  bool written = false;
  int writeNotes = 0;          // how often NoteWrite was called
  int missChecks = 0;          // how often LockForCacheMiss was called
  bool changesOnMiss = false;  // what LockForCacheMiss reports (once, then false)

  bool StrictChangeDetection() const override { return strictChangeDetection; }
  bool ForceBufferFlush() const override { return forceBufferFlush; }
  std::string TempDirectory() const override { return tempDirectory; }
  bool IsExclusive() const override { return exclusive; }
  bool HoldsTransactionLock() const override { return transactionLock; }
  bool HasWritten() const override { return written; }
  void NoteWrite() override {
    written = true;
    ++writeNotes;
  }
  bool LockForCacheMiss(TDataCursor*) override {
    ++missChecks;
    const bool changed = changesOnMiss;
    changesOnMiss = false;
    return changed;
  }
};

}  // namespace engine
