// File objects: one TAbstractFile per distinct file name and kind (physical or
// in-memory) in the process, shared by every opener of that file. Created and
// looked up only through the registry TFileList (file_list.h).
//
// Results follow one convention: opener ids and byte counts are non-negative;
// a negative result is a negated engine error code (-11010, -11013, ...).
//
// Invariants:
//  * every operation runs under the object's critical section (Mutex());
//  * opener ids are unique among the live openers of an object: a new id is
//    the opener-list length after the append, or one more than the largest id
//    in use when that length is taken (an earlier opener closed), so closing
//    one opener can never close or move another;
//  * a physical file has one operating-system handle for all its openers, so
//    they share one file position; an in-memory file keeps a position per
//    opener;
//  * an in-memory file's content is a grow-only buffer (step 4096 bytes) of
//    which Size() bytes are the file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/files/grow_buffer.h"
#include "platform/file.h"

namespace engine {

// Growth step of an in-memory file's block, in bytes.
inline constexpr std::size_t kMemoryFileStep = 4096;

class TAbstractFile {
 public:
  struct Opener {
    std::int32_t id;
    std::int64_t position;  // used by in-memory files
  };
  struct LockedRange {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t length;
  };

  explicit TAbstractFile(std::string name) : name_(std::move(name)) {}
  virtual ~TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // Index of the opener with `id` in the opener list, or -1.
  int FindOpener(std::int32_t id) const;

  // Creates or truncates the file; a new opener id or a negative code.
  virtual std::int32_t CreateNew() = 0;
  // Opens the existing file; a new opener id or a negative code.
  virtual std::int32_t OpenFile() = 0;
  // Removes opener `id`; the last close releases the file. 0 or -11010.
  virtual std::int32_t CloseFile(std::int32_t id) = 0;
  virtual std::int32_t RenameFile(const std::string& newName) = 0;
  virtual std::int32_t DeleteFile() = 0;
  // Bytes read at the opener's position, or a negative code on an I/O error.
  virtual std::int32_t ReadData(std::int32_t id, void* buffer, std::int32_t count) = 0;
  // Bytes written; a count of 0 cuts the file at the current position.
  virtual std::int32_t WriteData(std::int32_t id, const void* buffer, std::int32_t count) = 0;
  virtual bool FlushFile() = 0;
  // Starts handing written data to storage without waiting (a later
  // FlushFile finds the work under way); nothing to do for most files.
  virtual void StartWriteBack() {}
  // Origin 0 start, 1 current, 2 end; the new position, or -1.
  virtual std::int64_t SeekData(std::int32_t id, std::int64_t offset, int origin) = 0;
  virtual bool LockRange(std::uint32_t offset, std::uint32_t length) = 0;
  virtual bool UnlockRange(std::uint32_t offset, std::uint32_t length) = 0;
  virtual bool InMemory() const noexcept = 0;

  std::recursive_mutex& Mutex() noexcept { return mutex_; }
  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  int OpenCount() const noexcept { return static_cast<int>(openers_.size()); }
  bool Exclusive() const noexcept { return exclusive_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  bool ReadOnlyAttrFound() const noexcept { return readOnlyAttrFound_; }
  bool Temporary() const noexcept { return temporary_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  void SetTemporary(bool value) noexcept { temporary_ = value; }
  std::int64_t Size() const noexcept { return size_; }

 protected:
  // Appends an opener at position 0 and returns its id.
  std::int32_t AddOpener();
  // Removes opener `id`; false when unknown.
  bool RemoveOpener(std::int32_t id);

  std::recursive_mutex mutex_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool readOnlyAttrFound_ = false;
  bool temporary_ = false;
  std::string name_;
  std::int64_t size_ = 0;
  std::vector<LockedRange> locks_;
  std::vector<Opener> openers_;
};

// A file on disk, through one platform::File handle shared by its openers.
class TPhysicalFile final : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;
  ~TPhysicalFile() override = default;

  std::int32_t CreateNew() override;
  std::int32_t OpenFile() override;
  std::int32_t CloseFile(std::int32_t id) override;
  std::int32_t RenameFile(const std::string& newName) override;
  std::int32_t DeleteFile() override;
  std::int32_t ReadData(std::int32_t id, void* buffer, std::int32_t count) override;
  std::int32_t WriteData(std::int32_t id, const void* buffer, std::int32_t count) override;
  bool FlushFile() override;
  void StartWriteBack() override;
  std::int64_t SeekData(std::int32_t id, std::int64_t offset, int origin) override;
  bool LockRange(std::uint32_t offset, std::uint32_t length) override;
  bool UnlockRange(std::uint32_t offset, std::uint32_t length) override;
  bool InMemory() const noexcept override { return false; }

 private:
  platform::File handle_;
};

// A file that lives only in this process, kept in a grow-only block.
class TMemoryFile final : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;
  ~TMemoryFile() override = default;

  std::int32_t CreateNew() override;
  std::int32_t OpenFile() override;
  std::int32_t CloseFile(std::int32_t id) override;
  std::int32_t RenameFile(const std::string& newName) override;
  std::int32_t DeleteFile() override;
  std::int32_t ReadData(std::int32_t id, void* buffer, std::int32_t count) override;
  std::int32_t WriteData(std::int32_t id, const void* buffer, std::int32_t count) override;
  bool FlushFile() override;
  std::int64_t SeekData(std::int32_t id, std::int64_t offset, int origin) override;
  bool LockRange(std::uint32_t offset, std::uint32_t length) override;
  bool UnlockRange(std::uint32_t offset, std::uint32_t length) override;
  bool InMemory() const noexcept override { return true; }

  std::size_t Capacity() const noexcept { return block_.Capacity(); }

 private:
  TGrowBuffer block_{kMemoryFileStep};
};

}  // namespace engine
