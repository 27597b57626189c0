// TFileHandler: one table file as its table sees it, the base of the data,
// index and BLOB file handlers (TDataFile, TIndexFile, TBlobFile).
//
// A handler names a file, carries the flags its table copied into it before
// opening (exclusive, read-only, in-memory, temporary), and while open holds
// exactly one opener id of a file object in the process-wide registry
// (TFileList, file_list.h). Every operation that fails raises an engine error
// with the handler's file name as the table name:
//  * open, create, delete, rename and copy failures raise the registry's code
//    (11010 invalid path, 11013 access denied, or a mapped operating-system
//    code, see errors.h);
//  * a short read raises 9217 unless the caller allows it; a short write or a
//    failed flush raises 9218. The file stays open either way.
//
// All openers of a physical file share one handle and one file position, so
// every caller brackets a Seek and the Read or Write that follows it with
// BeginAccess/EndAccess (or a TFileAccess guard), which hold the file
// object's critical section.
//
// States: closed -> open (one opener id) -> closed. Close on a closed handler
// does nothing; the destructor closes.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

class TAbstractFile;
class TDataTable;
class TPendingWrites;

// Seek origins (the file object's SeekData origins).
inline constexpr int kSeekFromStart = 0;
inline constexpr int kSeekFromCurrent = 1;
inline constexpr int kSeekFromEnd = 2;  // used only with offset 0, which yields the length

// Size in bytes of the change counter that each table file's header carries.
inline constexpr std::int32_t kChangeCounterBytes = 4;

class TFileHandler {
 public:
  // `table` owns the handler; it may be null for a handler used on its own.
  explicit TFileHandler(TDataTable* table);
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Opens the existing file FileName(). Nothing when already open; 11010 when
  // the file is neither registered nor on disk; otherwise the registry's code.
  virtual void Open();
  // Gives the opener back to the registry; nothing when closed.
  virtual void Close();
  // Creates (or truncates) FileName() for exclusive use and opens it.
  virtual void CreateNew();
  // Deletes FileName(); refused (11013) while any opener holds it.
  virtual void Delete();
  // Renames FileName() to `newName`, which becomes the handler's name.
  virtual void Rename(const std::string& newName);
  // Copies the open file into a new file `destName` (65535-byte chunks).
  virtual void CopyTo(const std::string& destName);
  // Reads up to `count` bytes at the current position and returns the number
  // read. Raises 9217 when closed, or when fewer came back and !allowShort.
  virtual std::int32_t Read(void* buffer, std::int32_t count, bool allowShort = false);
  // Seek to `offset` and Read, under the file object's critical section.
  std::int32_t ReadAt(std::int64_t offset, void* buffer, std::int32_t count,
                      bool allowShort = false);
  // Writes `count` bytes at the current position; 9218 when closed or short.
  // A count of 0 cuts the file at the current position.
  virtual void Write(const void* buffer, std::int32_t count);
  // Hands written data to stable storage; 9218 when that fails.
  virtual void Flush();
  // Starts handing written data to storage without waiting, so that the
  // Flush of this file and of others started before it overlap; never fails.
  void StartWriteBack();

  // Moves the position (origin kSeekFromStart/Current/End) and returns it;
  // -1 when closed.
  std::int64_t Seek(std::int64_t offset, int origin);
  // The file's length; the position is left where it was. -1 when closed.
  std::int64_t GetSize();
  // Locks (lock == true) or unlocks a byte range; false when closed or refused.
  bool Lock(std::uint32_t offset, std::uint32_t length, bool lock);
  // Copies the file `sourceName` into this open file (opened exclusively,
  // 65535-byte chunks). Nothing when closed.
  void CopyFrom(const std::string& sourceName);
  // Whether FileName() is registered, or (physical files) exists on disk.
  bool Exists() const;
  // Enter and leave the file object's critical section (nothing when closed).
  void BeginAccess();
  void EndAccess();

  // While `pending` is set, Seek, Read, Write, GetSize and Flush act on the
  // recorded writes laid over the stored file and nothing reaches the file
  // (pending_writes.h); null goes back to the file itself. The recorder is
  // the caller's and must outlive its use here.
  void SetPendingWrites(TPendingWrites* pending) noexcept { FPending = pending; }
  TPendingWrites* PendingWrites() const noexcept { return FPending; }

  // ---- State -----------------------------------------------------------------
  TDataTable* Table() const noexcept { return FTable; }
  const std::string& FileName() const noexcept { return FFileName; }
  // Sets the name (trimmed, kept whole however long: a cut name would be
  // another file); only while closed.
  void SetFileName(const std::string& name);
  TAbstractFile* File() const noexcept { return FFile; }
  std::int32_t OpenerId() const noexcept { return FOpenerId; }
  bool IsOpen() const noexcept { return FOpen; }

  bool InMemory() const noexcept { return FInMemory; }
  bool Exclusive() const noexcept { return FExclusive; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  bool ReadOnlyAttrFound() const noexcept { return FReadOnlyAttrFound; }
  bool Temporary() const noexcept { return FTemporary; }
  void SetInMemory(bool value) noexcept { FInMemory = value; }
  void SetExclusive(bool value) noexcept { FExclusive = value; }
  void SetReadOnly(bool value) noexcept { FReadOnly = value; }
  void SetTemporary(bool value) noexcept { FTemporary = value; }

 protected:
  TDataTable* FTable = nullptr;
  TAbstractFile* FFile = nullptr;  // registered file object while open
  std::string FFileName;
  std::int32_t FOpenerId = 0;  // 0 when closed
  bool FInMemory = false;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttrFound = false;
  bool FOpen = false;
  bool FTemporary = false;
  TPendingWrites* FPending = nullptr;
};

// Holds a handler's file object critical section for one Seek + Read/Write.
class TFileAccess {
 public:
  explicit TFileAccess(TFileHandler& handler) : handler_(handler) { handler_.BeginAccess(); }
  ~TFileAccess() { handler_.EndAccess(); }
  TFileAccess(const TFileAccess&) = delete;
  TFileAccess& operator=(const TFileAccess&) = delete;

 private:
  TFileHandler& handler_;
};

}  // namespace engine
