// Exact host names (see exact_names.h).
#include "platform/exact_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host_internal.h"
#include "platform/paths.h"

namespace platform {

std::optional<std::string> ExistingHostPath(std::string_view windowsPath) {
  std::optional<std::string> host = ToHostPath(windowsPath);
  if (!host) return std::nullopt;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) {
    internal::FailPath(*host, errno);
    return std::nullopt;
  }
  return host;
}

bool HostPathExists(std::string_view hostPath) {
  struct stat st {};
  return ::stat(std::string(hostPath).c_str(), &st) == 0;
}

std::int64_t HostPathSize(std::string_view hostPath) {
  struct stat st {};
  if (::stat(std::string(hostPath).c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t ReadHostPathStart(std::string_view hostPath, void* into, std::size_t size) {
  const int fd = ::open(std::string(hostPath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t got = ::pread(fd, into, size, 0);
  ::close(fd);
  return got < 0 ? -1 : static_cast<std::int64_t>(got);
}

}  // namespace platform
