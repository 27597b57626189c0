// File handles with Windows semantics on Linux: sharing modes, byte-range
// locks, delete-on-close and durable flushes.
//
// Why open-file-description locks
// -------------------------------
// Windows byte-range locks (LockFile) belong to a handle: two handles of one
// process conflict exactly as two processes do, a lock never waits, and closing
// the handle releases its locks and nothing else. The engine depends on all of
// it: one process may open the same table twice and must see its own record
// locks refused, and a crashed copy of the program must not leave a table
// locked.
//
// Classic POSIX record locks (F_SETLK) cannot give this. They belong to the
// process, not to the descriptor: a second lock by the same process on an
// overlapping range silently succeeds (it merges or converts the old one), and
// closing *any* descriptor of the file drops *every* lock the process holds on
// it, even locks taken through another descriptor that is still open. A library
// that opens a file for a moment to read its attributes would destroy the
// engine's locks behind its back. flock() is per descriptor but whole-file only.
//
// Open-file-description locks (F_OFD_SETLK, Linux 3.15) have the byte-range
// model of F_SETLK with the ownership of flock(): the owner is the open file
// description that one open() created. Every File opens the file itself, so
// every File is a separate owner; F_OFD_SETLK never waits; the locks go away
// when the last descriptor of the description is closed, which includes the
// process dying. Two caveats follow from the ownership model: a descriptor
// must not be dup()ed or inherited across fork() while it holds locks (the
// copies share the description and its locks), so descriptors are opened
// O_CLOEXEC and never duplicated; and locks of one handle do not conflict with
// each other, so a handle's own overlapping second lock is refused here from
// the list of ranges it holds.
//
// The lock-byte map of this layer
// -------------------------------
//   offset                  length  holder
//   0 .. 0x1FFFFFFFD        any     callers' byte-range locks (32-bit offset plus
//                                   32-bit length never reaches beyond this)
//   kShareByte  (8 GiB)     1       every open handle: shared (read) lock;
//                                   a Share::None open: exclusive (write) lock
//   kExclusiveByte          1       a Share::None open on a read-only descriptor
//
// A conflicting open or lock fails at once: kErrorSharingViolation for an open,
// kErrorLockViolation for a range.
//
// Read-only descriptors. F_WRLCK needs a descriptor open for writing, yet the
// engine locks files that it opened for reading only. Every handle therefore
// opens O_RDWR when the file allows it and enforces read-only access itself.
// When the file cannot be opened for writing (no write permission, a read-only
// file system) exclusivity is built from read locks in "announce, then check"
// order: the handle takes a read lock, then asks F_OFD_GETLK whether any other
// description holds a lock on the same bytes, and withdraws when one does. Of
// two handles racing for one range at least one sees the other, so two holders
// never coexist; in a true race both may be refused, which a caller that
// retries (as the engine does) does not notice. An exclusive open on such a
// descriptor also announces itself on kExclusiveByte, which every shared open
// checks after taking its share byte.
//
// Durability: Flush is fdatasync, or fsync after the size changed. The first
// Flush of a file that this handle created also syncs its directory, so that
// once Flush has returned the file is reachable by name after a crash together
// with its data. (Syncing the directory at the moment of creation instead cost
// about 1.5 ms per file and would make an empty name durable before any data.)
// That directory sync also makes durable every earlier change of the
// directory, a removal whose sync was left for later among them
// (directory_sync.h). Delete-on-close files are never made durable: they are
// scratch space. StartWriteBack (sync_file_range) only starts the writing of
// dirty pages, so that the flushes of several files that follow overlap.
//
// The file pointer is kept in the handle and every read and write is a
// positioned one (pread, pwrite): the engine moves the pointer before almost
// every read, and a seek of its own would double the system calls of a read.
// The descriptor's own offset is never used, so nothing else may read or
// write through it.
//
// Delete-on-close removes the name when the handle that asked for it closes.
// Other handles of the same file keep reading and writing the (now nameless)
// file until they close, which is when Windows would remove it; only a new
// open by name in between sees "file not found" where Windows would say
// "access denied". A process that dies leaves such a file behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <optional>
#include <string>

#include "platform/dos_time.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/paths.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using internal::kExclusiveByte;
using internal::kShareByte;

constexpr mode_t kNewFileMode = 0666;  // before the umask

std::atomic<bool> gForceReadOnlyDescriptors{false};

enum class LockResult { Granted, Conflict, Error };

LockResult SetLock(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;  // required by the OFD commands
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return LockResult::Granted;
  if (errno == EAGAIN || errno == EACCES) return LockResult::Conflict;
  return LockResult::Error;
}

// True when another open file description holds any lock on the range.
bool OtherHolds(int fd, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = F_WRLCK;  // asks "would an exclusive lock conflict?"
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: refuse
  return fl.l_type != F_UNLCK;
}

void Unlock(int fd, off_t start, off_t length) {
  SetLock(fd, F_UNLCK, start, length);
}

// An exclusive lock on a range through any descriptor (see the essay above).
LockResult ExclusiveLock(int fd, bool writable, off_t start, off_t length) {
  if (writable) return SetLock(fd, F_WRLCK, start, length);
  const LockResult r = SetLock(fd, F_RDLCK, start, length);
  if (r != LockResult::Granted) return r;
  if (OtherHolds(fd, start, length)) {
    Unlock(fd, start, length);
    return LockResult::Conflict;
  }
  return LockResult::Granted;
}

// Takes the sharing locks of a new handle; false with the last error set.
// A file system that cannot lock at all (the kernel answers with an error
// rather than a conflict) is opened without sharing enforcement: refusing
// every open there would make its files unreachable, and the callers' own
// byte-range locks still report the failure.
bool TakeShareLocks(int fd, bool writable, Share share) {
  if (share == Share::None) {
    if (!writable) {
      const LockResult announce = SetLock(fd, F_RDLCK, kExclusiveByte, 1);
      if (announce == LockResult::Error) return true;
      if (announce == LockResult::Conflict) return internal::Fail(kErrorSharingViolation);
    }
    const LockResult r = ExclusiveLock(fd, writable, kShareByte, 1);
    if (r == LockResult::Error) return true;
    if (r == LockResult::Conflict || (!writable && OtherHolds(fd, kExclusiveByte, 1))) {
      return internal::Fail(kErrorSharingViolation);
    }
    return true;
  }
  const LockResult r = SetLock(fd, F_RDLCK, kShareByte, 1);
  if (r == LockResult::Error) return true;
  if (r == LockResult::Conflict || OtherHolds(fd, kExclusiveByte, 1)) {
    return internal::Fail(kErrorSharingViolation);
  }
  return true;
}

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

namespace internal {
void SetForceReadOnlyDescriptors(bool force) {
  gForceReadOnlyDescriptors = force;
}
}  // namespace internal

File::~File() {
  Close();
}

File::File(File&& other) noexcept {
  *this = std::move(other);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    access_ = other.access_;
    writableFd_ = other.writableFd_;
    path_ = std::move(other.path_);
    hostPath_ = std::move(other.hostPath_);
    deleteOnClose_ = other.deleteOnClose_;
    writeThrough_ = other.writeThrough_;
    sizeChanged_ = other.sizeChanged_;
    syncDirectoryOnFlush_ = other.syncDirectoryOnFlush_;
    knownSize_ = other.knownSize_;
    position_ = other.position_;
    locks_ = std::move(other.locks_);
    other.fd_ = -1;
    other.deleteOnClose_ = false;
    other.locks_.clear();
  }
  return *this;
}

bool File::Open(std::string_view windowsPath, Access access, Share share, Disposition disposition,
                unsigned options) {
  Close();
  const bool mayCreate = disposition != Disposition::OpenExisting;

  // O_NONBLOCK: opening a FIFO must not wait for a writer (it is refused below).
  // A create with O_EXCL only ever makes a new regular file and needs no such care.
  int base = O_CLOEXEC | O_NOCTTY;
  if ((options & kOpenWriteThrough) != 0) base |= O_DSYNC;
  const int openFlags = base | O_NONBLOCK;
  const int createFlags = base | O_RDWR | O_CREAT | O_EXCL;
  const bool writableOnly = access == Access::ReadWrite || disposition == Disposition::CreateAlways;

  int fd = -1;
  bool created = false;
  bool writable = false;
  std::optional<std::string> host;
  // A name the caller vouches for is created as written, in one call.
  if (mayCreate && (options & kOpenNewName) != 0) {
    host = internal::ToHostPathAsWritten(windowsPath);
    if (!host) return false;
    fd = OpenRetrying(*host, createFlags);
    if (fd >= 0) {
      created = true;
      writable = true;
    }
  }
  bool absent = false;  // the directory's name cache proved the name new
  if (fd < 0) {
    host = mayCreate ? internal::ToHostPathForCreate(windowsPath, absent) : ToHostPath(windowsPath);
    if (!host) return false;
  }
  // A name that must be new, or that the cache proved absent, is created at
  // once. Otherwise the existing file is opened first, so that a refused
  // sharing mode never truncates it, and it is created only when absent.
  if (fd < 0 && (disposition == Disposition::CreateNew || absent)) {
    fd = OpenRetrying(*host, createFlags);
    if (fd >= 0) {
      created = true;
      writable = true;
    } else if (errno != EEXIST || disposition == Disposition::CreateNew) {
      return internal::FailPath(*host, errno);
    }
  }
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    const bool tryWritable = writableOnly || !gForceReadOnlyDescriptors.load();
    if (tryWritable) {
      fd = OpenRetrying(*host, openFlags | O_RDWR);
      writable = fd >= 0;
    }
    if (fd < 0 && !writableOnly &&
        (!tryWritable || errno == EACCES || errno == EROFS || errno == ETXTBSY || errno == EPERM)) {
      fd = OpenRetrying(*host, openFlags | O_RDONLY);
    }
    if (fd >= 0) break;
    if (errno != ENOENT || !mayCreate) return internal::FailPath(*host, errno);
    fd = OpenRetrying(*host, createFlags);
    if (fd >= 0) {
      created = true;
      writable = true;
      break;
    }
    if (errno != EEXIST) return internal::FailPath(*host, errno);
    // Someone else created it meanwhile: open it as existing.
  }
  if (fd < 0) return internal::Fail(kErrorSharingViolation);

  // A file created here is known: regular, empty, writable. Anything opened
  // must be a regular file: a directory, FIFO, socket or device is refused as
  // Windows refuses to open a directory as a file.
  struct stat st {};
  if (!created) {
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return internal::Fail(kErrorAccessDenied);
    }
    // F_SETFL changes only the status flags, of which O_NONBLOCK is the one set.
    ::fcntl(fd, F_SETFL, 0);
    // Windows refuses write access to a file with the read-only attribute,
    // even to an administrator; the owner's write permission is that attribute.
    if (writableOnly && (st.st_mode & S_IWUSR) == 0) {
      ::close(fd);
      return internal::Fail(kErrorAccessDenied);
    }
  }
  if (!TakeShareLocks(fd, writable, share)) {
    ::close(fd);  // a file just created stays: another handle already holds it
    return false;
  }
  if (!created && disposition == Disposition::CreateAlways && st.st_size != 0) {
    if (::ftruncate(fd, 0) != 0) {
      const int err = errno;
      ::close(fd);
      return internal::Fail(WinErrorFromErrno(err));
    }
    st.st_size = 0;
    sizeChanged_ = true;
  }
  if ((options & kOpenRandomAccess) != 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);

  fd_ = fd;
  access_ = access;
  writableFd_ = writable;
  path_ = std::string(windowsPath);
  hostPath_ = *host;
  deleteOnClose_ = (options & kOpenDeleteOnClose) != 0;
  syncDirectoryOnFlush_ = created && !deleteOnClose_;
  writeThrough_ = (options & kOpenWriteThrough) != 0;
  sizeChanged_ = sizeChanged_ || created;
  knownSize_ = st.st_size;
  position_ = 0;
  locks_.clear();
  return true;
}

void File::Close() {
  if (fd_ < 0) return;
  if (deleteOnClose_) ::unlink(hostPath_.c_str());
  ::close(fd_);  // releases every lock of this open file description
  fd_ = -1;
  deleteOnClose_ = false;
  writeThrough_ = false;
  sizeChanged_ = false;
  syncDirectoryOnFlush_ = false;
  knownSize_ = 0;
  position_ = 0;
  locks_.clear();
}

bool File::Read(void* buffer, std::uint32_t count, std::uint32_t& done) {
  if (!ReadAt(position_, buffer, count, done)) return false;
  position_ += done;
  return true;
}

bool File::ReadAt(std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t& done) {
  done = 0;
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (offset < 0) return internal::Fail(kErrorNegativeSeek);
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return internal::Fail(WinErrorFromErrno(errno));
    }
    if (n == 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool File::Write(const void* buffer, std::uint32_t count, std::uint32_t& done) {
  const bool ok = WriteAt(position_, buffer, count, done);
  position_ += done;
  return ok;
}

bool File::WriteAt(std::int64_t offset, const void* buffer, std::uint32_t count,
                   std::uint32_t& done) {
  done = 0;
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (access_ != Access::ReadWrite) return internal::Fail(kErrorAccessDenied);
  if (offset < 0) return internal::Fail(kErrorNegativeSeek);
  if (!internal::FaultCheck(false)) return internal::Fail(kErrorDiskFull);
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      return internal::Fail(err == ENOSPC ? kErrorDiskFull : WinErrorFromErrno(err));
    }
    done += static_cast<std::uint32_t>(n);
  }
  if (offset + static_cast<std::int64_t>(done) > knownSize_) {
    knownSize_ = offset + static_cast<std::int64_t>(done);
    sizeChanged_ = true;
  }
  return true;
}

bool File::Seek(std::int64_t offset, SeekOrigin origin, std::int64_t* newPosition) {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current) base = position_;
  if (origin == SeekOrigin::End && !GetSize(base)) return false;
  std::int64_t moved = 0;
  if (__builtin_add_overflow(base, offset, &moved) || moved < 0)
    return internal::Fail(kErrorNegativeSeek);
  position_ = moved;
  if (newPosition != nullptr) *newPosition = moved;
  return true;
}

bool File::SetEndOfFile() {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (access_ != Access::ReadWrite) return internal::Fail(kErrorAccessDenied);
  if (!internal::FaultCheck(false)) return internal::Fail(kErrorDiskFull);
  if (::ftruncate(fd_, static_cast<off_t>(position_)) != 0)
    return internal::Fail(WinErrorFromErrno(errno));
  knownSize_ = position_;
  sizeChanged_ = true;
  return true;
}

bool File::Flush() {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (!internal::FaultCheck(true)) return internal::Fail(kErrorDiskFull);
  const int rc = sizeChanged_ ? ::fsync(fd_) : ::fdatasync(fd_);
  if (rc != 0) return internal::Fail(WinErrorFromErrno(errno));
  sizeChanged_ = false;
  if (syncDirectoryOnFlush_) {
    internal::SyncParentDirectory(hostPath_);
    syncDirectoryOnFlush_ = false;
  }
  return true;
}

void File::StartWriteBack() {
  if (fd_ < 0 || access_ != Access::ReadWrite) return;
  // The whole file (offset 0, length 0 up to its end): only its dirty pages
  // are written. SYNC_FILE_RANGE_WRITE queues them and returns.
  ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::GetSize(std::int64_t& size) {
  struct stat st {};
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (::fstat(fd_, &st) != 0) return internal::Fail(WinErrorFromErrno(errno));
  size = st.st_size;
  return true;
}

bool File::GetDosTime(std::uint32_t& dosDateTime) {
  struct stat st {};
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (::fstat(fd_, &st) != 0) return internal::Fail(WinErrorFromErrno(errno));
  dosDateTime = DosDateTimeFromUnix(st.st_mtim.tv_sec);
  return true;
}

bool File::SetDosTime(std::uint32_t dosDateTime) {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  const std::time_t t = UnixFromDosDateTime(dosDateTime);
  if (t == -1) return internal::Fail(kErrorInvalidParameter);
  struct timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT;  // access time unchanged
  times[1].tv_sec = t;
  if (::futimens(fd_, times) != 0) return internal::Fail(WinErrorFromErrno(errno));
  return true;
}

bool File::SetAttributes(std::uint32_t attributes) {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return internal::Fail(WinErrorFromErrno(errno));
  constexpr mode_t kAllWrite = S_IWUSR | S_IWGRP | S_IWOTH;
  const mode_t old = st.st_mode & 07777;
  const mode_t mode = (attributes & kAttrReadOnly) != 0 ? (old & ~kAllWrite) : (old | S_IWUSR);
  if (mode != old && ::fchmod(fd_, mode) != 0) return internal::Fail(WinErrorFromErrno(errno));
  return true;
}

bool File::Lock(std::uint32_t offset, std::uint32_t length) {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  if (length == 0) return internal::Fail(kErrorInvalidParameter);
  const std::uint64_t end = std::uint64_t{offset} + length;
  // The held ranges are disjoint and ordered: only the first one starting at
  // or after `offset` and the one before it can overlap the new range.
  const auto next = locks_.lower_bound(offset);
  if (next != locks_.end() && next->first < end) return internal::Fail(kErrorLockViolation);
  if (next != locks_.begin()) {
    const auto before = std::prev(next);
    if (std::uint64_t{before->first} + before->second > offset)
      return internal::Fail(kErrorLockViolation);
  }
  switch (ExclusiveLock(fd_, writableFd_, static_cast<off_t>(offset), static_cast<off_t>(length))) {
    case LockResult::Granted:
      break;
    case LockResult::Conflict:
      return internal::Fail(kErrorLockViolation);
    case LockResult::Error:
      return internal::Fail(WinErrorFromErrno(errno));
  }
  locks_.emplace_hint(next, offset, length);
  return true;
}

bool File::Unlock(std::uint32_t offset, std::uint32_t length) {
  if (fd_ < 0) return internal::Fail(kErrorInvalidHandle);
  const auto it = locks_.find(offset);
  if (it != locks_.end() && it->second == length) {
    if (SetLock(fd_, F_UNLCK, static_cast<off_t>(offset), static_cast<off_t>(length)) ==
        LockResult::Error) {
      return internal::Fail(WinErrorFromErrno(errno));
    }
    locks_.erase(it);
    return true;
  }
  return internal::Fail(kErrorNotLocked);
}

}  // namespace platform
