// Directory search with Windows wildcards and attribute masks
// (find-first, find-next, find-close).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct FindData {
  std::string name;         // Windows form of the name (no path)
  std::uint32_t attributes;  // kAttr* bits
  std::uint64_t size;        // 0 for directories
  std::uint32_t dosTime;     // last-write time, local DOS date-time
};

// Lists the entries of one directory that match a pattern: "D:\src\*.*",
// "D:\src\a?c.txt". '*' and '?' match as Windows does ("*.*" matches every
// name, also names without a dot). "." and ".." are listed in every directory
// but a drive root. Hidden, system and directory entries are returned only when
// `attributeMask` includes kAttrHidden, kAttrSystem or kAttrDirectory; normal
// files always are. Order is the directory's listing order.
class DirectorySearch {
 public:
  DirectorySearch();
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // False with kErrorFileNotFound when nothing matches, kErrorPathNotFound when
  // the directory does not exist.
  bool First(std::string_view pattern, std::uint32_t attributeMask, FindData& found);
  // False with kErrorNoMoreFiles at the end.
  bool Next(FindData& found);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Windows wildcard match of one name (case-insensitive, '*' and '?', "*.*" = all).
bool MatchesWildcard(std::string_view pattern, std::string_view name);

}  // namespace platform
