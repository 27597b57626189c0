// Small POSIX helpers of the host layer: host path pieces, error mapping that
// tells a missing file from a missing directory, directory durability and the
// attribute rules.
#include <fcntl.h>
#include <unistd.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/directory_sync.h"
#include "platform/file_ops.h"
#include "platform/host_internal.h"

namespace platform::internal {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::int32_t UpperCharAt(std::string_view text, std::size_t& i) {
  const std::size_t start = i;
  const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
  auto at = static_cast<std::int32_t>(start);
  UChar32 c = 0;
  U8_NEXT(text.data(), at, length, c);
  if (c < 0) {
    // Not a character: the byte stands for itself, apart from every code point.
    i = start + 1;
    return kStrayByteBase + static_cast<unsigned char>(text[start]);
  }
  i = static_cast<std::size_t>(at);
  return u_toupper(c);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < kFirstNonAscii && cb < kFirstNonAscii) {
      // The common case: two ASCII letters or signs.
      if (AsciiLower(a[i]) != AsciiLower(b[j])) return false;
      ++i;
      ++j;
    } else if (UpperCharAt(a, i) != UpperCharAt(b, j)) {
      return false;
    }
  }
  return i == a.size() && j == b.size();
}

std::string JoinHost(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string HostParent(std::string_view hostPath) {
  const auto slash = hostPath.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(hostPath.substr(0, slash));
}

std::string HostBaseName(std::string_view hostPath) {
  const auto slash = hostPath.find_last_of('/');
  return std::string(slash == std::string_view::npos ? hostPath : hostPath.substr(slash + 1));
}

WinError ErrorForPath(std::string_view hostPath, int err) {
  if (err == ENOENT) {
    struct stat st {};
    const std::string parent = HostParent(hostPath);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrorPathNotFound;
    return kErrorFileNotFound;
  }
  if (err == ENOTDIR || err == ELOOP) return kErrorPathNotFound;
  return WinErrorFromErrno(err);
}

bool FailPath(std::string_view hostPath, int err) {
  SetLastError(ErrorForPath(hostPath, err));
  return false;
}

bool Fail(WinError error) {
  SetLastError(error);
  return false;
}

void SyncParentDirectory(std::string_view hostPath) {
  const std::string parent = HostParent(hostPath);
  const std::uint64_t removals = RemovalsSoFar();
  const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  Counters().directorySyncs.fetch_add(1, std::memory_order_relaxed);
  // Best effort: some file systems refuse fsync on directories, and nothing
  // better can be done there. The sync covers every earlier change of the
  // directory, the removals left for later included (directory_sync.h).
  ::fsync(fd);
  ::close(fd);
  NoteDirectorySynced(parent, removals);
}

std::uint32_t AttributesFromStat(const struct stat& st, std::string_view hostName) {
  std::uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (!hostName.empty() && hostName[0] == '.' && hostName != "." && hostName != "..") {
    attributes |= kAttrHidden;
  }
  return attributes;
}

}  // namespace platform::internal
