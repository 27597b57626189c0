// Directories a run has made or found; see known_directories.h.
#include "platform/known_directories.h"

#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/paths.h"

namespace platform {

std::string FoldedPathKey(std::string_view path) {
  std::string full = FullPathName(path);
  if (full.size() > 3 && full.back() == '\\') full.pop_back();
  std::string key;
  key.reserve(full.size() * 2);
  for (std::size_t i = 0; i < full.size();) {
    const std::int32_t c = internal::UpperCharAt(full, i);
    key.append(reinterpret_cast<const char*>(&c), sizeof c);
  }
  return key;
}

bool KnownDirectories::Contains(std::string_view directory) const {
  return known_.count(Key(directory)) != 0;
}

void KnownDirectories::Remember(std::string_view directory) {
  known_.insert(Key(directory));
}

bool KnownDirectories::Forget(std::string_view directory) {
  return known_.erase(Key(directory)) != 0;
}

bool KnownDirectories::Ensure(std::string_view directory) {
  std::string key = Key(directory);
  if (known_.count(key) != 0) return true;
  if (!DirectoryExists(directory) && !CreateDirectoryPath(directory)) return false;
  known_.insert(std::move(key));
  return true;
}

}  // namespace platform
