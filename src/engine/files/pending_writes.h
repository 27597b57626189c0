// TPendingWrites: the writes and cuts of one table file during a journaled
// write-back, held in memory instead of reaching the file.
//
// While a file handler records (TFileHandler::SetPendingWrites), its Seek,
// Write, Read, GetSize and Flush act on a virtual file: the stored file as it
// was when recording began, with the recorded operations laid over it in
// order. Reads see the recorded bytes, the size follows appends and cuts, and
// a flush does nothing. The commit journal (commit_journal.h) then saves the
// original bytes of every region the operations overwrite or cut, makes that
// durable, and only then replays the operations on the real file.
//
// Large appends go straight to the file. A write at or past both the
// original end and the end of every recorded write overwrites nothing the
// file held and nothing recorded: once the journal with the original lengths
// is durable (BeforeDirectWrite, called before the first such write), it is
// written to the file at once, while its bytes are still in the processor's
// cache, and a rollback only has to cut it off. Appends shorter than
// kMinDirectWrite are recorded like overwrites: copying a few kilobytes
// costs nothing, and holding them back lets a write-back record every
// overwrite and small append of the set before its first large append, so
// that the journal is complete, and made durable once, at that point. After a
// recorded cut every write is recorded.
//
// Invariants:
//  * OriginalSize() is the stored length when recording began;
//  * StoredSize() is the length of the file itself: the original one, or the
//    end of the last direct write;
//  * Size() is the virtual file's length after every recorded operation;
//  * a byte of the virtual file beyond the stored length that no write
//    covered reads as zero (as the gap of a file extended by a write does).
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace engine {

class TPendingWrites {
 public:
  // The shortest append that goes straight to the file (bytes): a BLOB
  // file's write-back writes long runs of blocks in pieces of 256 KB, while
  // records, index pages and headers come in a few kilobytes.
  static constexpr std::int32_t kMinDirectWrite = 64 * 1024;

  // One recorded operation: `bytes` written at `offset`, or (cut) the file
  // made `offset` bytes long.
  struct Operation {
    bool cut = false;
    std::int64_t offset = 0;
    std::vector<std::uint8_t> bytes;
  };
  // A region [first, first + length) of the stored file.
  struct Region {
    std::int64_t first;
    std::int64_t length;
  };
  // Reads stored bytes: (offset, buffer, count) -> bytes read.
  using StoredReader = std::function<std::int32_t(std::int64_t, void*, std::int32_t)>;

  explicit TPendingWrites(std::int64_t originalSize)
      : original_(originalSize), size_(originalSize) {}

  std::int64_t OriginalSize() const noexcept { return original_; }
  std::int64_t StoredSize() const noexcept { return stored_; }
  std::int64_t Size() const noexcept { return size_; }
  std::int64_t Position() const noexcept { return position_; }
  bool Empty() const noexcept { return operations_.empty(); }
  const std::vector<Operation>& Operations() const noexcept { return operations_; }

  // Seek origins as the file objects take them (0 start, 1 current, 2 end);
  // the new position, or -1 for a negative result.
  std::int64_t Seek(std::int64_t offset, int origin);
  // Records `count` bytes at the position and advances it; a count of 0 cuts
  // the file at the position.
  void Write(const void* buffer, std::int32_t count);
  // Called once before the first direct write (the journal makes its header
  // durable there); without it no write goes direct.
  void SetBeforeDirectWrite(std::function<void()> before) { before_ = std::move(before); }
  // Whether a write of `count` bytes at the position goes straight to the
  // file; if so BeforeDirectWrite has run.
  bool TakeDirect(std::int32_t count);
  // Notes a direct write of `count` bytes at the position and advances it.
  void NoteDirectWrite(std::int32_t count);
  // Reads up to `count` bytes of the virtual file at the position and
  // advances it; stored bytes come through `stored`. Returns the bytes read.
  std::int32_t Read(void* buffer, std::int32_t count, const StoredReader& stored);
  // The regions of the stored file that the operations overwrite or cut off,
  // sorted and merged: what a rollback must put back.
  std::vector<Region> TouchedRegions() const;

 private:
  std::int64_t original_;
  std::int64_t size_;
  std::int64_t position_ = 0;
  std::int64_t stored_ = original_;
  std::int64_t recordedEnd_ = 0;  // end of the furthest recorded write
  bool cut_ = false;              // a cut was recorded: no more direct writes
  bool directStarted_ = false;
  std::function<void()> before_;
  std::vector<Operation> operations_;
};

}  // namespace engine
