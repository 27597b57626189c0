// Exact host names (see exact_names.h).
#include "platform/exact_names.h"

#include <sys/stat.h>

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

}  // namespace platform
