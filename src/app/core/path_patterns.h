// Path patterns of the command line: which files a backup leaves out
// (--exclude), which rows a restore writes back (--only) and which rows a
// listing shows. Each pattern uses the zip component's wildcards (`*`, `?`,
// `<a-z>` sets), which ignore the case of ASCII letters as the host layer
// does, and is compared with Windows-form paths (backslashes, drive letter).
//
// Three kinds of pattern, told apart by their form:
//   name      no separator at all (`*.tmp`, `cache`): matches the last
//             component of a path, and, for rows, any directory above it;
//   absolute  begins with a drive (`D:\Data\*`), a backslash or a slash (a
//             host path, `/home/me/docs/*`): matches the whole path, or for
//             rows a directory above it;
//   relative  holds a separator but is not absolute (`sub/*.txt`): matches
//             the end of the path from a component boundary on.
// Slashes in a pattern are read as backslashes. A host-form absolute pattern
// has its directory part before the first wildcard converted through the
// drive map, so `/home/me/*` and `Z:\home\me\*` mean the same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

class PathPatterns {
 public:
  PathPatterns() = default;
  explicit PathPatterns(const std::vector<std::string>& userPatterns);

  void Add(std::string_view userPattern);
  bool Empty() const { return patterns_.empty(); }

  // A file or directory met by a tree walk, by its full Windows path: the
  // walk never enters an excluded directory, so only the entry itself is
  // compared.
  bool MatchesEntry(std::string_view path) const;
  // A catalog row by Path + FileName: the row itself or any directory above
  // it may match.
  bool MatchesRow(std::string_view path) const;

 private:
  enum class Kind { Name, Absolute, Relative };
  struct Pattern {
    Kind kind;
    std::string text;  // backslashes only
  };
  bool Matches(const Pattern& p, std::string_view path) const;

  std::vector<Pattern> patterns_;
};

}  // namespace app
