// File and directory operations by name, with Windows results.
// All paths are Windows paths (see paths.h); failures leave a Windows error
// number in GetLastError().
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// File attribute bits, as Windows reports them.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolumeId = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrTemporary = 0x100;
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// Read-only 0x01 when the owner has no write permission; hidden 0x02 for names
// beginning with '.'; archive 0x20 on every regular file; directory 0x10.
std::uint32_t GetFileAttributes(std::string_view path);
// Only read-only is stored: setting it removes every write permission, clearing
// it gives the owner write permission back. Other bits are accepted and ignored.
bool SetFileAttributes(std::string_view path, std::uint32_t attributes);

// Last-write time as a local DOS date-time (two-second resolution), and setting it.
bool GetFileDosTime(std::string_view path, std::uint32_t& dosDateTime);
bool SetFileDosTime(std::string_view path, std::uint32_t dosDateTime);
std::optional<std::uint64_t> GetFileSize(std::string_view path);

bool FileExists(std::string_view path);       // a regular file (or anything but a directory)
bool DirectoryExists(std::string_view path);  // a directory

// Removes a file and syncs its directory, so that the removal survives a crash.
bool DeleteFile(std::string_view path);
// Removes a file by the same rules as DeleteFile without syncing the directory:
// for scratch files (temporary archives and the like) whose name may come back
// after a crash without harm. Anything that relies on a removal being durable
// (the engine's commit journal) uses DeleteFile.
bool DeleteScratchFile(std::string_view path);
// Renames within one volume; kErrorAlreadyExists when `to` exists (MoveFile).
bool MoveFile(std::string_view from, std::string_view to);
// Renames, replacing `to` when it exists (MoveFileEx with REPLACE_EXISTING).
bool ReplaceFile(std::string_view from, std::string_view to);
// ReplaceFile without syncing the directory, for scratch files whose old name
// may come back after a crash without harm (as DeleteScratchFile).
bool ReplaceScratchFile(std::string_view from, std::string_view to);
// Copies content, attributes and time; kErrorFileExists when `to` exists and failIfExists.
bool CopyFile(std::string_view from, std::string_view to, bool failIfExists);

bool CreateDirectory(std::string_view path);  // one level; kErrorAlreadyExists when present
// CreateDirectory without syncing the parent: for directories that only
// receive files nobody flushes (a restore's), whose names the system's own
// write-back makes durable together with those files. A sync of the parent
// costs a journal commit of the whole file system (milliseconds); a run that
// makes hundreds of directories would spend more on them than on its files.
// A file later flushed inside such a directory makes its own name durable,
// not the directory's.
bool CreateDirectoryUnsynced(std::string_view path);
bool RemoveDirectory(std::string_view path);  // empty directories only
// Creates a directory with every missing level; true when it exists afterwards.
// Walks down one level at a time from the drive's root, so n levels cost O(n)
// system calls, each on one name, whatever the depth.
bool CreateDirectoryPath(std::string_view path);
// False when a symbolic link on the way from `directory` down to `path` (the
// part that exists, `path` itself included) leads outside `directory` or to
// nothing: writing to `path` would then land elsewhere. Links that stay inside
// are followed. `path` must lie below `directory` as written.
bool LinksStayWithin(std::string_view path, std::string_view directory);

// The temporary directory ($TMPDIR, else /tmp) in Windows form with a trailing backslash.
std::string GetTempPath();
// Creates an empty file named prefix + four hexadecimal digits + ".tmp" in
// `directory` and returns its Windows path; nullopt on failure.
std::optional<std::string> GetTempFileName(std::string_view directory, std::string_view prefix);

// The canonical Windows form of an existing directory (symbolic links resolved,
// case as on disk, with a trailing backslash), so that two spellings of one
// directory give the same text. nullopt when it does not exist.
std::optional<std::string> UniversalName(std::string_view directory);

enum class DriveType {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CdRom = 5
};
// Every mapped drive is fixed; an unmapped one has no root directory.
DriveType GetDriveType(std::string_view root);
// There are no volume labels here: always false.
bool GetVolumeLabel(std::string_view root, std::string& label);
// A name is its own short form.
std::string GetShortPathName(std::string_view path);

}  // namespace platform
