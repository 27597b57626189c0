// Helpers shared by the POSIX files of the host layer; not for use above it.
//
// Host paths here are absolute, use '/', and carry no trailing slash except the
// root "/" itself. Windows error numbers are chosen in one place (ErrorForPath)
// so that every operation reports "file not found" and "path not found" alike.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_error.h"

namespace platform::internal {

// The byte that every open handle locks (shared; exclusive for Share::None),
// 8 GiB into the file: above every range a 32-bit offset and a 32-bit length
// can reach. The lock-byte map is described in file_posix.cpp.
inline constexpr off_t kShareByte = off_t{1} << 33;
inline constexpr off_t kExclusiveByte = kShareByte + 1;

// Case-insensitive equality as Windows compares names: character by character
// after the simple Unicode upper-case mapping of each UTF-8 character ("Ä"
// equals "ä", "ß" stays apart from "SS"). A byte that starts no valid UTF-8
// sequence equals only the same byte.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// The character of `text` starting at byte `i`, upper-cased by the simple
// Unicode mapping; `i` moves past it. A byte that starts no valid UTF-8
// sequence gives kStrayByteBase + the byte and moves `i` by one.
inline constexpr std::int32_t kStrayByteBase = 0x110000;  // above every code point
inline constexpr unsigned char kFirstNonAscii = 0x80;
std::int32_t UpperCharAt(std::string_view text, std::size_t& i);
char AsciiLower(char c);

// Joins a host directory and one name.
std::string JoinHost(std::string_view dir, std::string_view name);
// The directory part of a host path ("/" for "/x"), and the last component.
std::string HostParent(std::string_view hostPath);
std::string HostBaseName(std::string_view hostPath);

// The Windows error for a failed system call on `hostPath`: ENOENT becomes
// "path not found" when the parent directory is missing, else "file not found".
WinError ErrorForPath(std::string_view hostPath, int err);
// Sets the last error from ErrorForPath and returns false.
bool FailPath(std::string_view hostPath, int err);
// Sets the last error and returns false.
bool Fail(WinError error);

// Makes the entry for `hostPath` durable: fsync of its parent directory.
void SyncParentDirectory(std::string_view hostPath);

// Windows attribute bits of a host entry (see file_ops.h for the rules).
std::uint32_t AttributesFromStat(const struct stat& st, std::string_view hostName);

// Resolves a Windows path like ToHostPath but keeps the last component exactly
// as written (in host form): the target of a rename that only changes case.
std::optional<std::string> ToHostPathKeepingName(std::string_view windowsPath);

// The host directory of a Windows path's drive or share and its components in
// host form (the rest of the path is not resolved). False, with the last error
// set, for an unmapped root or a path longer than the host takes (206).
bool HostRootAndNames(std::string_view windowsPath, std::string& hostRoot,
                      std::vector<std::string>& hostNames);

// The Windows form of an absolute, canonical host path, choosing among the
// mapped roots after resolving their symbolic links, so that every spelling of
// a directory gives one text.
std::string CanonicalWindowsForm(std::string_view canonicalHostPath);

// True when the Windows path names the root of a drive or share ("D:\", "\\s\p").
bool IsRootPath(std::string_view windowsPath);

// True when the Windows path's drive or share is mapped.
bool IsMappedRoot(std::string_view windowsPath);

// The real name of the entry of a directory (by host path, or an open
// descriptor) that equals `name` ignoring case; nullopt when there is none or
// the directory cannot be read. Large directories answer from a cache that
// change notification keeps current (dir_names.cpp).
std::optional<std::string> FindNameIgnoringCase(const std::string& dirHost, std::string_view name);
std::optional<std::string> FindNameIgnoringCaseAt(int dirFd, std::string_view name);
// The answer of the name cache alone, for the directory that `dirStat`
// describes: nullopt when that directory is not cached; otherwise the entry
// (the name as written when it exists, else the first equal ignoring case),
// or an empty answer when the directory has no such entry. Every change made
// before the call, by any process, is taken into account.
std::optional<std::optional<std::string>> FindNameInCachedDirectory(const struct stat& dirStat,
                                                                    std::string_view name);

// Resolves a Windows path that is about to be created or opened, like
// ToHostPath. When the parent directory exists as written and is cached, the
// last component is looked up in the cache alone, and `absent` is set when the
// cache proves that no entry equals it ignoring case: the caller may then
// create the file at once (with O_EXCL, which still catches a name that
// appeared meanwhile) instead of trying to open it first.
std::optional<std::string> ToHostPathForCreate(std::string_view windowsPath, bool& absent);
// The host path of a Windows path with every component as written: no probe,
// no look-up ignoring case. Nullopt (with the error) as ToHostPath.
std::optional<std::string> ToHostPathAsWritten(std::string_view windowsPath);

// The longest host path the system accepts, with its terminating NUL.
inline constexpr std::size_t kHostPathLimit = 4096;

// What the host layer spent on names, for tests that pin down costs: whole
// directory listings and the entries they read, path probes (one lstat,
// stat, mkdir or open of one path or one component) and directory syncs.
struct HostCounters {
  std::atomic<std::uint64_t> listings{0};
  std::atomic<std::uint64_t> entriesRead{0};
  std::atomic<std::uint64_t> probes{0};
  // Directory syncs that make a create, rename or removal durable.
  std::atomic<std::uint64_t> directorySyncs{0};
};
HostCounters& Counters();

// Tests only: open every read-only handle with an O_RDONLY descriptor, as when
// the file is not writable, to exercise the read-lock form of exclusive locks.
void SetForceReadOnlyDescriptors(bool force);

}  // namespace platform::internal
