// Directory search for the writer's wildcard lines.
//
// TDirSearch walks a directory (and, when recursing, its subdirectories) and
// returns the full path of every file whose name matches a pattern under the
// zip wildcard matcher (wildcard.h), a file name without an extension being
// compared with a "." appended ("readme" as "readme."). With recursion each
// subdirectory is returned too, as its path with a trailing backslash, right
// before its contents and before the rest of its parent's entries (depth
// first, in the order the file system lists them). Directories whose names
// begin with "." are never entered.
//
// The start directory may itself hold wildcards ("C:\data\*\logs"): it is cut
// at the last backslash before the first wildcard character into the real
// starting directory and a list of directory-name patterns, one per level; the
// search then enters every matching directory at each level and looks for files
// only below the last one.
//
// Invariant: the stack holds one open listing per directory level from the
// starting directory down; each listing's current entry is the one to look at
// next (its parent stays on the subdirectory being listed until it is popped).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/find.h"

namespace zip {

// One open directory listing.
struct TSearchData {
  std::string directory;  // with a trailing backslash
  std::string pattern;    // names to accept at this level
  std::size_t level = 0;  // index into the wildcard directory patterns
  platform::DirectorySearch search;
  platform::FindData current;
  bool exhausted = false;
};

class TDirSearch {
 public:
  TDirSearch(std::string_view startDirectory, bool recurse, std::string_view filePattern);
  // The next full path ("" at the end). Directories end in a backslash.
  std::string Next();
  // The size of the file just returned (0 for a directory).
  std::uint64_t LastSize() const { return lastSize_; }

 private:
  void Push(const std::string& directory, std::size_t level);
  static void Advance(TSearchData& listing);
  const std::string& PatternFor(std::size_t level) const;

  std::vector<std::unique_ptr<TSearchData>> stack_;
  std::vector<std::string> wildDirs_;  // directory-name patterns, one per level
  std::string filePattern_;
  bool recurse_;
  std::uint64_t lastSize_ = 0;
};

}  // namespace zip
