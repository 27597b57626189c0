// File and directory operations by name: attributes, times, delete, rename,
// copy, directories, temporary names, universal names and drive facts.
//
// Windows rules kept here on purpose, because callers were written for them:
//  * A file with the read-only attribute (no owner write permission) cannot be
//    deleted, replaced, overwritten by a copy or opened for writing, even by
//    root: kErrorAccessDenied.
//  * A file that some handle holds open (its share byte is locked, see
//    file_posix.cpp) cannot be deleted or renamed: kErrorSharingViolation.
//  * Creating a directory, renaming, deleting and copying sync the directory,
//    so that the change survives a crash once the call has returned. (A file
//    created through File gets its directory synced at its first Flush; a
//    temporary name from GetTempFileName is scratch space and is not synced.)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/dos_time.h"
#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/paths.h"
#include "platform/system.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using internal::kShareByte;

using internal::Fail;
using internal::FailPath;

constexpr std::size_t kCopyChunkBytes = 256 * 1024;
constexpr unsigned kTempNameValues = 0xFFFF;  // four hexadecimal digits, 0 unused
constexpr mode_t kNewDirectoryMode = 0777;    // before the umask
constexpr mode_t kAllWrite = S_IWUSR | S_IWGRP | S_IWOTH;

std::optional<std::string> Host(std::string_view path) {
  return ToHostPath(path);
}

bool StatHost(const std::string& host, struct stat& st) {
  if (::stat(host.c_str(), &st) == 0) return true;
  FailPath(host, errno);
  return false;
}

// True when some handle (of any process) has the regular file open.
bool InUse(const std::string& host) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareByte;
  fl.l_len = 1;
  const bool busy = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return busy;
}

bool IsReadOnly(const struct stat& st) {
  return (st.st_mode & S_IWUSR) == 0;
}

// Checks that an existing regular file may be removed or replaced by name.
bool MayRemove(const std::string& host, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
  if (IsReadOnly(st)) return Fail(kErrorAccessDenied);
  if (S_ISREG(st.st_mode) && InUse(host)) return Fail(kErrorSharingViolation);
  return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The common part of MoveFile, ReplaceFile and ReplaceScratchFile; `durable`
// syncs the directories so that the new name survives a crash.
bool Rename(std::string_view from, std::string_view to, bool replace, bool durable = true) {
  const auto src = Host(from);
  if (!src) return false;
  struct stat srcSt {};
  if (::lstat(src->c_str(), &srcSt) != 0) return FailPath(*src, errno);
  if (!S_ISDIR(srcSt.st_mode) && S_ISREG(srcSt.st_mode) && InUse(*src)) {
    return Fail(kErrorSharingViolation);
  }
  auto dst = Host(to);
  if (!dst) return false;
  struct stat dstSt {};
  if (::lstat(dst->c_str(), &dstSt) == 0) {
    if (SameFile(srcSt, dstSt)) {
      // The target names the source itself, perhaps in other letter case:
      // rename to the name exactly as written.
      dst = internal::ToHostPathKeepingName(to);
      if (!dst) return false;
      if (*dst == *src) return true;
    } else if (!replace) {
      return Fail(kErrorAlreadyExists);
    } else if (!MayRemove(*dst, dstSt)) {
      return false;
    }
  }
  int rc;
  if (replace) {
    rc = ::rename(src->c_str(), dst->c_str());
  } else {
    rc = ::renameat2(AT_FDCWD, src->c_str(), AT_FDCWD, dst->c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
      // The file system cannot refuse atomically; the check above stands.
      rc = ::rename(src->c_str(), dst->c_str());
    }
  }
  if (rc != 0) {
    if (errno == EEXIST) return Fail(kErrorAlreadyExists);
    if (errno == ENOENT) return FailPath(*dst, errno);
    return Fail(internal::ErrorForPath(*dst, errno));
  }
  if (!durable) return true;
  internal::SyncParentDirectory(*src);
  if (internal::HostParent(*src) != internal::HostParent(*dst)) {
    internal::SyncParentDirectory(*dst);
  }
  return true;
}

// The common part of DeleteFile and DeleteScratchFile; `durable` syncs the
// directory so that the removal survives a crash.
bool RemoveFileName(std::string_view path, bool durable) {
  const auto host = Host(path);
  if (!host) return false;
  struct stat st {};
  if (::lstat(host->c_str(), &st) != 0) return FailPath(*host, errno);
  if (!MayRemove(*host, st)) return false;
  if (::unlink(host->c_str()) != 0) return FailPath(*host, errno);
  if (durable) internal::SyncParentDirectory(*host);
  return true;
}

std::string WithTrailingBackslash(std::string s) {
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

}  // namespace

std::uint32_t GetFileAttributes(std::string_view path) {
  const auto host = Host(path);
  if (!host) return kInvalidFileAttributes;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) {
    // A dangling symbolic link is still an entry of the directory.
    if (::lstat(host->c_str(), &st) != 0) {
      FailPath(*host, errno);
      return kInvalidFileAttributes;
    }
  }
  return internal::AttributesFromStat(st, internal::HostBaseName(*host));
}

bool SetFileAttributes(std::string_view path, std::uint32_t attributes) {
  const auto host = Host(path);
  if (!host) return false;
  struct stat st {};
  if (!StatHost(*host, st)) return false;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) != 0 ? (mode & ~kAllWrite) : (mode | S_IWUSR);
  if (mode != (st.st_mode & 07777) && ::chmod(host->c_str(), mode) != 0) {
    return FailPath(*host, errno);
  }
  return true;
}

bool GetFileDosTime(std::string_view path, std::uint32_t& dosDateTime) {
  const auto host = Host(path);
  if (!host) return false;
  struct stat st {};
  if (!StatHost(*host, st)) return false;
  dosDateTime = DosDateTimeFromUnix(st.st_mtim.tv_sec);
  return true;
}

bool SetFileDosTime(std::string_view path, std::uint32_t dosDateTime) {
  const auto host = Host(path);
  if (!host) return false;
  const std::time_t t = UnixFromDosDateTime(dosDateTime);
  if (t == -1) return Fail(kErrorInvalidParameter);
  struct timespec times[2]{};
  times[0].tv_nsec = UTIME_OMIT;  // access time unchanged
  times[1].tv_sec = t;
  if (::utimensat(AT_FDCWD, host->c_str(), times, 0) != 0) return FailPath(*host, errno);
  return true;
}

std::optional<std::uint64_t> GetFileSize(std::string_view path) {
  const auto host = Host(path);
  if (!host) return std::nullopt;
  struct stat st {};
  if (!StatHost(*host, st)) return std::nullopt;
  return S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
}

bool FileExists(std::string_view path) {
  const auto host = Host(path);
  struct stat st {};
  return host && ::stat(host->c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  const auto host = Host(path);
  struct stat st {};
  return host && ::stat(host->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(std::string_view path) {
  return RemoveFileName(path, true);
}

bool DeleteScratchFile(std::string_view path) {
  return RemoveFileName(path, false);
}

bool MoveFile(std::string_view from, std::string_view to) {
  return Rename(from, to, false);
}

bool ReplaceFile(std::string_view from, std::string_view to) {
  return Rename(from, to, true);
}

bool ReplaceScratchFile(std::string_view from, std::string_view to) {
  return Rename(from, to, true, false);
}

bool CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  const auto src = Host(from);
  if (!src) return false;
  const auto dst = Host(to);
  if (!dst) return false;
  // O_NONBLOCK: a FIFO must not block the copy; only regular files are copied.
  const int in = ::open(src->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (in < 0) return FailPath(*src, errno);
  struct stat srcSt {};
  if (::fstat(in, &srcSt) != 0 || !S_ISREG(srcSt.st_mode)) {
    ::close(in);
    return Fail(kErrorAccessDenied);
  }
  ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
  struct stat dstSt {};
  if (::stat(dst->c_str(), &dstSt) == 0) {
    WinError refusal = kErrorSuccess;
    if (failIfExists) {
      refusal = kErrorFileExists;
    } else if (SameFile(srcSt, dstSt)) {
      refusal = kErrorSharingViolation;  // copying onto itself would empty it
    } else if (S_ISDIR(dstSt.st_mode) || IsReadOnly(dstSt)) {
      refusal = kErrorAccessDenied;
    } else if (InUse(*dst)) {
      refusal = kErrorSharingViolation;
    }
    if (refusal != kErrorSuccess) {
      ::close(in);
      return Fail(refusal);
    }
  }
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  const int out = ::open(dst->c_str(), flags, srcSt.st_mode & 0666);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    return FailPath(*dst, err);
  }
  std::vector<char> buffer(kCopyChunkBytes);
  WinError error = kErrorSuccess;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = WinErrorFromErrno(errno);
      break;
    }
    if (n == 0) break;
    for (ssize_t written = 0; written < n;) {
      const ssize_t w =
          ::write(out, buffer.data() + written, static_cast<std::size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        error = errno == ENOSPC ? kErrorDiskFull : WinErrorFromErrno(errno);
        break;
      }
      written += w;
    }
    if (error != kErrorSuccess) break;
  }
  ::close(in);
  if (error == kErrorSuccess) {
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = srcSt.st_mtim;
    ::futimens(out, times);
    ::fchmod(out, srcSt.st_mode & 07777);  // carries the read-only attribute
    if (::fsync(out) != 0) error = WinErrorFromErrno(errno);
  }
  ::close(out);
  if (error != kErrorSuccess) {
    ::unlink(dst->c_str());  // no half-copied file under the target name
    return Fail(error);
  }
  internal::SyncParentDirectory(*dst);
  return true;
}

namespace {

// One level; with `durable` the parent is synced so that the new name
// survives a power cut.
bool MakeDirectory(std::string_view path, bool durable) {
  const auto host = internal::ToHostPathKeepingName(path);
  if (!host) return false;
  const auto existing = Host(path);
  struct stat st {};
  if (existing && ::lstat(existing->c_str(), &st) == 0) return Fail(kErrorAlreadyExists);
  if (::mkdir(host->c_str(), kNewDirectoryMode) != 0) {
    if (errno == EEXIST) return Fail(kErrorAlreadyExists);
    if (errno == ENOENT) return Fail(kErrorPathNotFound);
    return FailPath(*host, errno);
  }
  if (durable) internal::SyncParentDirectory(*host);
  return true;
}

}  // namespace

bool CreateDirectory(std::string_view path) {
  return MakeDirectory(path, true);
}

bool CreateDirectoryUnsynced(std::string_view path) {
  return MakeDirectory(path, false);
}

bool CreateDirectoryPath(std::string_view path) {
  std::string root;
  std::vector<std::string> names;
  if (!internal::HostRootAndNames(path, root, names)) return false;
  constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  int fd = ::open(root.c_str(), kDirectoryFlags);
  if (fd < 0) return FailPath(root, errno);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    internal::Counters().probes.fetch_add(1, std::memory_order_relaxed);
    int next = ::openat(fd, names[i].c_str(), kDirectoryFlags);
    if (next < 0 && errno == ENOENT) {
      if (const auto real = internal::FindNameIgnoringCaseAt(fd, names[i])) {
        next = ::openat(fd, real->c_str(), kDirectoryFlags);
      } else if (::mkdirat(fd, names[i].c_str(), kNewDirectoryMode) == 0 || errno == EEXIST) {
        internal::Counters().directorySyncs.fetch_add(1, std::memory_order_relaxed);
        ::fsync(fd);  // the new entry is durable, as for CreateDirectory
        next = ::openat(fd, names[i].c_str(), kDirectoryFlags);
      }
    }
    if (next < 0) {
      const int err = errno;
      ::close(fd);
      if (err == ENOTDIR || err == EEXIST) {
        return Fail(last ? kErrorAlreadyExists : kErrorPathNotFound);
      }
      return Fail(err == ENOENT ? kErrorPathNotFound : WinErrorFromErrno(err));
    }
    ::close(fd);
    fd = next;
  }
  ::close(fd);
  return true;
}

namespace {

// The canonical host path of an open descriptor; empty when unknown.
std::string DescriptorPath(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string target(internal::kHostPathLimit, '\0');
  const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
  target.resize(static_cast<std::size_t>(n));
  return target;
}

bool IsWithinHost(const std::string& path, const std::string& dir) {
  if (dir == "/") return true;
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                         path[dir.size()] == '/');
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool LinksStayWithin(std::string_view path, std::string_view directory) {
  const auto hostDir = Host(directory);
  const auto hostPath = Host(path);
  // A path that does not convert cannot be written either.
  if (!hostDir || !hostPath) return true;
  if (!IsWithinHost(*hostPath, *hostDir) || *hostPath == *hostDir) return false;
  Descriptor fd(::open(hostDir->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0) return true;  // nothing below a missing directory exists
  const std::string realDir = DescriptorPath(fd.Get());
  if (realDir.empty()) return false;
  const std::size_t from = hostDir->size() + (hostDir->back() == '/' ? 0 : 1);
  std::size_t at = from;
  while (at < hostPath->size()) {
    std::size_t cut = hostPath->find('/', at);
    if (cut == std::string::npos) cut = hostPath->size();
    const std::string name = hostPath->substr(at, cut - at);
    const bool last = cut == hostPath->size();
    at = cut + 1;
    struct stat st {};
    internal::Counters().probes.fetch_add(1, std::memory_order_relaxed);
    if (::fstatat(fd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;  // missing
    if (S_ISLNK(st.st_mode)) {
      // Where the link leads; a link to nothing would create its target.
      const int target = ::openat(fd.Get(), name.c_str(), O_PATH | O_CLOEXEC);
      if (target < 0) return false;
      fd.Reset(target);
      const std::string real = DescriptorPath(target);
      if (real.empty() || !IsWithinHost(real, realDir)) return false;
      continue;
    }
    if (last || !S_ISDIR(st.st_mode)) return true;
    const int next =
        ::openat(fd.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return true;
    fd.Reset(next);
  }
  return true;
}

bool RemoveDirectory(std::string_view path) {
  const auto host = Host(path);
  if (!host) return false;
  struct stat st {};
  if (::lstat(host->c_str(), &st) != 0) return FailPath(*host, errno);
  if (!S_ISDIR(st.st_mode)) return Fail(kErrorDirectory);
  if (::rmdir(host->c_str()) != 0) {
    if (errno == ENOTEMPTY || errno == EEXIST) return Fail(kErrorDirNotEmpty);
    return FailPath(*host, errno);
  }
  internal::SyncParentDirectory(*host);
  return true;
}

std::string GetTempPath() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string host = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  return WithTrailingBackslash(ToWindowsPath(host));
}

std::optional<std::string> GetTempFileName(std::string_view directory, std::string_view prefix) {
  const std::string dir = WithTrailingBackslash(std::string(directory));
  const auto hostDir = Host(dir);
  if (!hostDir) return std::nullopt;
  struct stat st {};
  if (::stat(hostDir->c_str(), &st) != 0) {
    const int err = errno;
    SetLastError(err == ENOENT ? kErrorPathNotFound : internal::ErrorForPath(*hostDir, err));
    return std::nullopt;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(kErrorDirectory);
    return std::nullopt;
  }
  // Start where the clock and the process id point, so that processes racing
  // for names in one directory rarely collide, then walk all 65535 values.
  const unsigned start = (GetTickCount() ^ (GetCurrentProcessId() * 2654435761u)) % kTempNameValues;
  for (unsigned i = 0; i < kTempNameValues; ++i) {
    const unsigned value = (start + i) % kTempNameValues + 1;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", value);
    const std::string name = std::string(prefix) + digits + ".tmp";
    const std::string host = internal::JoinHost(*hostDir, WindowsNameToHost(name));
    const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);  // a scratch file: its name is not worth a directory sync
      return dir + name;
    }
    if (errno != EEXIST) {
      FailPath(host, errno);
      return std::nullopt;
    }
  }
  SetLastError(kErrorFileExists);
  return std::nullopt;
}

std::optional<std::string> UniversalName(std::string_view directory) {
  const auto host = Host(directory);
  if (!host) return std::nullopt;
  char* real = ::realpath(host->c_str(), nullptr);
  if (real == nullptr) {
    FailPath(*host, errno);
    return std::nullopt;
  }
  const std::string canonical(real);
  std::free(real);
  struct stat st {};
  if (::stat(canonical.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(kErrorDirectory);
    return std::nullopt;
  }
  return WithTrailingBackslash(internal::CanonicalWindowsForm(canonical));
}

DriveType GetDriveType(std::string_view root) {
  if (root.empty()) return DriveType::NoRootDir;
  return internal::IsMappedRoot(root) ? DriveType::Fixed : DriveType::NoRootDir;
}

bool GetVolumeLabel(std::string_view root, std::string& label) {
  label.clear();
  return Fail(internal::IsMappedRoot(root) ? kErrorNotSupported : kErrorPathNotFound);
}

std::string GetShortPathName(std::string_view path) {
  return std::string(path);
}

}  // namespace platform
