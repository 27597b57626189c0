// File-system helpers of the zip component, all on Windows paths through the
// host layer: replacing one file by another, temporary names, volume labels,
// short and long path forms, file date-times, the code-page round trip of a
// path, and directory helpers.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace zip {

// Moves `source` onto `destination`. On one drive an existing destination is
// first moved aside to destination + "$$$" (and put back when the move then
// fails), the source renamed, and the "$$$" file deleted. Across drives, or
// when renaming is impossible, the bytes are copied; a failed copy shows the
// message box "Could not copy from <source> -> <destination>" ("Error", OK)
// and the result is false. The source is left in place after a copy.
bool ReplaceFileWith(std::string_view source, std::string_view destination);

// Creates an empty file with a unique name "ZTF....tmp" in `directory` and
// returns its path; nullopt on failure.
std::optional<std::string> ZipTempFileName(std::string_view directory);

// Volume labels: this host has none, so setting always fails.
bool SetVolumeLabel(std::string_view root, std::string_view label);
std::optional<std::string> GetVolumeLabel(std::string_view root);

// A path converted component by component to its short (8.3) or long form.
// Components that cannot be found are left as they are.
std::string ShortPathName(std::string_view path);
std::string LongPathName(std::string_view path);

// The file's last-write time as a validated DOS date-time; nullopt when the
// file has none.
std::optional<std::uint32_t> FileDosDateTime(std::string_view path);
// A DOS date-time as host time (local); the current time when it cannot be converted.
std::time_t DosDateTimeToTime(std::uint32_t dosDateTime);

// The ANSI -> OEM -> ANSI round trip of a path. Both code pages of this host
// are UTF-8, so the path comes back unchanged.
std::string OemRoundTrip(std::string_view path);

bool DirExists(std::string_view path);
bool FileExists(std::string_view path);
// Creates `path` with every missing level; true when it exists afterwards.
bool ForceDirectories(std::string_view path);
std::string CurrentDirectory();

// Parts of a Windows path.
std::string ExtractFileName(std::string_view path);   // after the last '\' or ':'
std::string ExtractFilePath(std::string_view path);   // up to and including it
std::string ExtractFileDrive(std::string_view path);  // "C:" or "\\server\share"
std::string ExtractFileExt(std::string_view path);    // from the last '.' of the name
std::string LowerAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
int CompareTextAscii(std::string_view a, std::string_view b);
bool StartsWithTextAscii(std::string_view text, std::string_view prefix);

}  // namespace zip
