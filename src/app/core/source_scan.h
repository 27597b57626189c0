// The walk over the source tree that lists the files a backup run stores.
//
// The walk is depth-first and pre-order: the files of a subdirectory appear at
// the place where the subdirectory's entry was met among its parent's entries,
// in whatever order the directory search returns them (no sorting). Hidden and
// system files are listed and hidden and system directories descended into;
// directories themselves never appear in the list. The root is used as given:
// a drive root "D:\" yields paths that begin "D:\\", which the file system
// accepts. An unreadable or missing directory contributes nothing; the scan
// raises nothing of its own.
//
// A directory that leads back to one of its own ancestors (a symbolic link or
// junction pointing up the tree) is not entered again: without that check the
// walk would list the same files once per turn of the loop until the path grew
// too long.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/file_datas.h"

namespace platform {
struct FindData;
}

namespace app {

// Attribute masks of the directory search (1 read-only, 2 hidden, 4 system,
// 8 volume label, 16 directory, 32 archive, 64 device).
inline constexpr std::uint32_t kScanListMask = 63;         // listing a directory: every entry
inline constexpr std::uint32_t kFileSizeSearchMask = 126;  // size of one file: every entry

// Walks one tree, appending a record per file to one list.
class TreeScanner {
 public:
  // Makes `list` the list that AddFileData appends to.
  explicit TreeScanner(TFileList& list) : list_(list) {}
  // Entries (files and directories, by full path) for which `exclude` answers
  // true are passed over; a directory passed over is not entered.
  TreeScanner(TFileList& list, std::function<bool(std::string_view)> exclude)
      : list_(list), exclude_(std::move(exclude)) {}

  // Lists dir followed by "\*" and handles every entry in listing order.
  void ScanDirectory(const std::string& dir);
  // A directory other than "." and ".." is scanned at once, before the next
  // entry of `dir`; every other entry becomes a record.
  void ScanEntry(const platform::FindData& entry, const std::string& dir);
  // Appends a record with Path dir + "\", the entry's time and its name.
  void AddFileData(const platform::FindData& entry, const std::string& dir);

 private:
  TFileList& list_;
  std::function<bool(std::string_view)> exclude_;
  // Canonical names of the directories being scanned, outermost first.
  std::vector<std::string> ancestors_;
};

// Appends every file below `root` to `list`.
void ScanTree(TFileList& list, const std::string& root,
              const std::function<bool(std::string_view)>& exclude = {});

// The size the directory search reports for the first entry matching `path`:
// the low 32 bits of the length as a signed 32-bit integer; 0 when nothing
// matches.
std::int32_t GetFileSize(std::string_view path);

}  // namespace app
