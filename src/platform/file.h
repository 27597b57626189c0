// An open file handle with Windows semantics: access and sharing modes,
// byte-range locks, delete-on-close, a file pointer per handle.
//
// The file pointer lives in the handle, not in the kernel: Read and Write are
// positioned reads and writes at it (pread/pwrite), so moving the pointer costs
// no system call and a seek followed by a read or write costs one. ReadAt and
// WriteAt read and write at a given offset and leave the pointer alone.
//
// Sharing and locks are built on open-file-description locks (F_OFD_SETLK),
// which belong to one open file description, not to the process: two handles of
// one process conflict like two processes do, and every lock vanishes when its
// handle is closed or its process dies. See file_posix.cpp for the full essay.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class Access { Read, ReadWrite };
enum class Share { None, ReadWrite };
enum class Disposition {
  OpenExisting,  // fail with kErrorFileNotFound when absent
  CreateAlways,  // create or truncate
  CreateNew,     // fail with kErrorFileExists when present
  OpenAlways,    // open, creating when absent
};

// Option bits for File::Open.
inline constexpr unsigned kOpenRandomAccess = 0x1;   // a caching hint; no effect on results
inline constexpr unsigned kOpenDeleteOnClose = 0x2;  // the file disappears with its last handle
inline constexpr unsigned kOpenTemporary = 0x4;      // a caching hint for short-lived files
inline constexpr unsigned kOpenWriteThrough = 0x8;   // every write reaches stable storage
// The caller vouches that its directory holds no name equal to this one
// ignoring case (it made the directory itself and made no such name in it):
// the file is created exactly as written (O_EXCL) without a look-up of the
// name, or of the directory, ignoring case. When that create fails (the name
// exists as written, or the directory is not spelt so on disk) the open goes
// on as without the option. With kOpenNewName a name equal ignoring case that
// another program made meanwhile is not noticed.
inline constexpr unsigned kOpenNewName = 0x10;

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens `windowsPath`. False with the Windows error number in GetLastError():
  // kErrorSharingViolation when another handle's sharing mode refuses this one.
  bool Open(std::string_view windowsPath, Access access, Share share, Disposition disposition,
            unsigned options = 0);
  bool IsOpen() const { return fd_ >= 0; }
  // Closes the handle, releasing every lock it holds. Safe on a closed handle.
  void Close();

  // Reads up to `count` bytes at the file pointer and advances it by the
  // number read, which `done` gets (0 at or beyond the end). False on an I/O
  // error.
  bool Read(void* buffer, std::uint32_t count, std::uint32_t& done);
  // Writes `count` bytes at the file pointer (the file grows as needed) and
  // advances it by the number written.
  bool Write(const void* buffer, std::uint32_t count, std::uint32_t& done);
  // The same at `offset`, one system call each (more only when the system
  // hands back fewer bytes); the file pointer stays where it is. A negative
  // offset fails with kErrorNegativeSeek.
  bool ReadAt(std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t& done);
  bool WriteAt(std::int64_t offset, const void* buffer, std::uint32_t count, std::uint32_t& done);
  // Moves the file pointer; `newPosition` (when given) receives the result.
  // From the start or the current position no system call is made; from the
  // end the size is asked for. A negative result fails with kErrorNegativeSeek.
  bool Seek(std::int64_t offset, SeekOrigin origin, std::int64_t* newPosition = nullptr);
  // Cuts or extends the file at the file pointer.
  bool SetEndOfFile();
  // Returns when the written data is on stable storage.
  bool Flush();
  // Starts writing the file's changed data to storage without waiting for
  // it, so that the Flush that follows (and those of other files started the
  // same way before it) finds the work under way and the file system can
  // gather the files' changes into one journal commit. Best effort: it
  // promises nothing about durability, reports nothing, and is not a flush
  // to fault injection.
  void StartWriteBack();
  bool GetSize(std::int64_t& size);
  // Last-write time as a local DOS date-time, and setting it.
  bool GetDosTime(std::uint32_t& dosDateTime);
  bool SetDosTime(std::uint32_t dosDateTime);
  // Attributes through the handle, by the rules of SetFileAttributes
  // (file_ops.h): only read-only is stored.
  bool SetAttributes(std::uint32_t attributes);

  // Exclusive byte-range lock anywhere in the 32-bit range, never waiting:
  // kErrorLockViolation at once when any other handle (of any process) or this
  // handle already holds an overlapping range. Works on read-only handles.
  bool Lock(std::uint32_t offset, std::uint32_t length);
  // Releases a range locked through this handle with exactly this offset and
  // length; kErrorNotLocked otherwise.
  bool Unlock(std::uint32_t offset, std::uint32_t length);

  // The Windows path the handle was opened with.
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  Access access_ = Access::Read;
  bool writableFd_ = false;  // the descriptor is O_RDWR (read-only access is enforced here)
  std::string path_;         // Windows form, as opened
  std::string hostPath_;     // for delete-on-close
  bool deleteOnClose_ = false;
  bool writeThrough_ = false;
  bool sizeChanged_ = false;           // a flush after a size change also syncs metadata
  bool syncDirectoryOnFlush_ = false;  // created here: the first flush makes the name durable
  std::int64_t knownSize_ = 0;         // size as this handle last saw it, to notice growth
  std::int64_t position_ = 0;          // the file pointer (the descriptor's own is not used)
  // Ranges locked through this handle: offset -> length. They never overlap
  // (an own overlapping lock is refused), so the map is also in end order.
  std::map<std::uint32_t, std::uint32_t> locks_;
};

}  // namespace platform
