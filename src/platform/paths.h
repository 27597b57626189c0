// Windows paths over the host file system.
//
// Everything above the host layer names files the Windows way: "D:\Data\Back.Dat",
// "\\srv\pub\x.dat" or a path relative to the current directory. This file is the
// one conversion point between that form and host paths:
//
//  * Drive map. Letters map to host directories. Z: is the host root "/" unless the
//    map says otherwise. More letters come from the environment variable
//    BACKUP_DRIVES ("C=/home/me,D=/mnt/data") and tests set their own with
//    SetDrive. UNC shares (\\server\share) are entries of the same map. An unmapped
//    drive or share is "path not found" (kErrorPathNotFound).
//  * A Windows path converts to a host path through its drive; a host path converts
//    to a Windows path through the longest mapped root that contains it (at worst
//    under Z:). Input may use '/' or '\'; output always uses '\'.
//  * Case. Each component is first tried as written; when it does not exist the
//    directory is listed and the first entry equal to it ignoring case is
//    used. A component that matches nothing is kept as written, so new files are
//    created with the name as given.
//  * Characters Windows forbids in names (\ : * ? " < > | and control characters)
//    appear in the Windows form as the private-use code point U+F000 + value
//    (three bytes of UTF-8) and convert back on the way down.
//
// Strings are UTF-8 byte strings throughout (the "ANSI" code page of this host).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- The drive map --------------------------------------------------------

// Maps drive letter `letter` (either case) to the host directory `hostRoot`.
void SetDrive(char letter, std::string_view hostRoot);
// Removes a letter from the map.
void RemoveDrive(char letter);
// Maps a UNC share, given as "\\server\share" (or "//server/share"), to a host directory.
void SetShare(std::string_view unc, std::string_view hostRoot);
// Restores the map to Z: = "/" plus the letters of BACKUP_DRIVES.
void ResetDriveMap();
// The mapped letters in ascending order (upper case).
std::vector<char> MappedDrives();
// The host root of a letter, or nullopt when unmapped.
std::optional<std::string> DriveRoot(char letter);

// ---- Conversions ------------------------------------------------------------

// Windows path (absolute, drive-relative or relative to the current directory)
// to an absolute host path, resolving each existing component without regard to
// case. nullopt with kErrorPathNotFound for an unmapped drive or share.
std::optional<std::string> ToHostPath(std::string_view windowsPath);

// Host path (absolute or relative to the process's working directory) to its
// Windows form through the longest mapped root that contains it.
std::string ToWindowsPath(std::string_view hostPath);

// Converts a path given by a user or the command line: a path that starts with
// '/' or that does not look like a Windows path is taken as a host path;
// anything else is returned unchanged in Windows form (backslashes).
std::string FromUserPath(std::string_view path);

// Makes a Windows path absolute against the current directory and removes
// "." and ".." components, without touching the disk (GetFullPathName).
std::string FullPathName(std::string_view windowsPath);

// One name component: host bytes to Windows form and back (private-use mapping).
std::string HostNameToWindows(std::string_view hostName);
std::string WindowsNameToHost(std::string_view windowsName);

// The current directory in Windows form, with no trailing backslash except at a
// drive root ("D:\").
std::string GetCurrentDirectory();
bool SetCurrentDirectory(std::string_view windowsPath);

}  // namespace platform
