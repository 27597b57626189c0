// Removals whose directory sync is left for later (directory_sync.h).
#include "platform/directory_sync.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "platform/paths.h"

namespace platform {
namespace {

// The host directories that owe a sync, each with the number of its latest
// removal, so that a sync clears only the removals made before it began.
// Never destroyed: tables closed by other static objects while the process
// exits still look here.
struct OwedSyncs {
  std::mutex mutex;
  std::uint64_t removals = 0;
  std::map<std::string, std::uint64_t, std::less<>> directories;
};

OwedSyncs& Owed() {
  static OwedSyncs* owed = new OwedSyncs;
  return *owed;
}

// A normal exit makes every removal left for later durable.
struct SyncAtExit {
  ~SyncAtExit() { SyncOwedDirectories(); }
};
const SyncAtExit gSyncAtExit;

std::string HostDirectoryOf(std::string_view path) {
  const auto host = ToHostPath(path);
  return host ? internal::HostParent(*host) : std::string();
}

// Syncs `directory` (a host path).
void SyncDirectory(const std::string& directory) {
  // SyncParentDirectory takes a name inside the directory.
  internal::SyncParentDirectory(internal::JoinHost(directory, "."));
}

}  // namespace

bool DeleteFileSyncLater(std::string_view path) {
  const std::string directory = HostDirectoryOf(path);
  if (!DeleteScratchFile(path)) return false;
  if (!directory.empty()) {
    OwedSyncs& owed = Owed();
    std::lock_guard<std::mutex> guard(owed.mutex);
    owed.directories[directory] = ++owed.removals;
  }
  return true;
}

void SyncDirectoryIfOwed(std::string_view path) {
  {
    OwedSyncs& owed = Owed();
    std::lock_guard<std::mutex> guard(owed.mutex);
    if (owed.directories.empty()) return;
  }
  const std::string directory = HostDirectoryOf(path);
  bool owes = false;
  {
    OwedSyncs& owed = Owed();
    std::lock_guard<std::mutex> guard(owed.mutex);
    owes = owed.directories.count(directory) > 0;
  }
  if (owes) SyncDirectory(directory);
}

void SyncOwedDirectories() {
  std::map<std::string, std::uint64_t, std::less<>> directories;
  {
    OwedSyncs& owed = Owed();
    std::lock_guard<std::mutex> guard(owed.mutex);
    directories = owed.directories;
  }
  for (const auto& entry : directories) SyncDirectory(entry.first);
}

void SyncDirectoryOf(std::string_view path) {
  const std::string directory = HostDirectoryOf(path);
  if (!directory.empty()) SyncDirectory(directory);
}

bool DirectoryOwesSync(std::string_view path) {
  const std::string directory = HostDirectoryOf(path);
  OwedSyncs& owed = Owed();
  std::lock_guard<std::mutex> guard(owed.mutex);
  return owed.directories.count(directory) > 0;
}

namespace internal {

std::uint64_t RemovalsSoFar() {
  OwedSyncs& owed = Owed();
  std::lock_guard<std::mutex> guard(owed.mutex);
  return owed.removals;
}

void NoteDirectorySynced(std::string_view hostDirectory, std::uint64_t removalsBefore) {
  OwedSyncs& owed = Owed();
  std::lock_guard<std::mutex> guard(owed.mutex);
  const auto it = owed.directories.find(hostDirectory);
  if (it != owed.directories.end() && it->second <= removalsBefore) owed.directories.erase(it);
}

}  // namespace internal
}  // namespace platform
