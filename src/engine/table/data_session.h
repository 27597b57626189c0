// TDataSession: the engine session. It carries the settings the storage layer
// reads (lock retries, flushing, change detection, collation of new tables,
// the directory for temporary files), the passwords known to the session, and
// the open directories.
//
// Invariants:
//  * directories are identified by their universal path (trimmed, ignoring
//    case): two spellings of one directory give one TDataDirectory whose
//    reference count counts the opens; "MEMORY" is one directory of its own;
//  * a directory is freed when its reference count returns to 0;
//  * DefaultDirectory() and PrivateDir() end in '\' (PrivateDir may be empty);
//  * passwords are at most 255 bytes, unique, compared case-sensitively.
// The directory list is guarded by the session's critical section.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine {

class TDataDirectory;

inline constexpr std::uint8_t kDefaultLockRetryCount = 15;    // retries of a refused record lock
inline constexpr std::uint16_t kDefaultLockWaitTimeMs = 100;  // between record-lock attempts
inline constexpr std::size_t kMaxPasswordLength = 255;        // bytes

class TDataSession {
 public:
  // The default directory is the current directory at creation.
  TDataSession();
  // Frees every directory (rolling back their transactions).
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // Opens directory `path` (the default directory when empty) or, when `name`
  // is "MEMORY" in any case, the in-memory directory. An already open
  // directory with the same universal path gets its count raised and is
  // returned. The universal path is the network form of the path when the
  // system has one, otherwise the path as given.
  TDataDirectory* OpenDirectory(const std::string& name, const std::string& path);
  // Lowers the directory's count and frees it at 0. 0, or -11013 when the
  // directory is not open in this session.
  int CloseDirectory(TDataDirectory* directory);
  int DirectoryCount();

  // ---- Passwords (case-sensitive) ------------------------------------------
  void AddPassword(const std::string& password);  // ignores "" and duplicates
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  bool HasPassword(const std::string& password) const;

  // ---- Settings ------------------------------------------------------------
  const std::string& DefaultDirectory() const noexcept { return FDefaultDirectory; }
  const std::string& PrivateDir() const noexcept { return FPrivateDir; }
  // Trimmed, with a trailing backslash ("" clears it).
  void SetPrivateDir(const std::string& path);
  // PrivateDir when set, else the default directory.
  const std::string& TempDirectory() const noexcept {
    return FPrivateDir.empty() ? FDefaultDirectory : FPrivateDir;
  }

  bool ForceBufferFlush = false;
  bool StrictChangeDetection = false;
  std::uint8_t LockRetryCount = kDefaultLockRetryCount;
  std::uint16_t LockWaitTime = kDefaultLockWaitTimeMs;  // milliseconds
  std::uint16_t LanguageID;                             // see the constructor
  std::uint16_t SortID = 0;

 private:
  std::string FDefaultDirectory;
  std::string FPrivateDir;
  std::vector<std::string> FPasswords;
  std::recursive_mutex FMutex;
  std::vector<std::unique_ptr<TDataDirectory>> FDirectories;
};

}  // namespace engine
