// Directories that a long run has made or found, so that it tests each one
// once instead of before every file it writes there.
//
// The memory is the run's own bookkeeping, not a view of the disk: another
// program may remove a remembered directory, or put a file in its place, at
// any time. A run therefore treats a failure to create a file in a remembered
// directory as a reason to forget it (Forget), test and make it again, and
// try once more; only a directory it has just made or found is trusted.
//
// Paths are Windows paths. Two spellings of one directory that differ in
// letter case, in '/' or '\', in "." or ".." components or in a trailing
// backslash are one entry; no disk access is made.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace platform {

// One key for every spelling of one Windows path: the absolute form without a
// trailing backslash (a drive root such as D:\ keeps it), each character
// upper-cased as names are compared. No disk access; links are not followed.
std::string FoldedPathKey(std::string_view path);

class KnownDirectories {
 public:
  bool Contains(std::string_view directory) const;
  // Contains, with the directory's FoldedPathKey made by the caller (one
  // that asks about the same directory for many files makes it once).
  bool ContainsKey(const std::string& key) const { return known_.count(key) != 0; }
  void Remember(std::string_view directory);
  // Forgets `directory`; true when it was remembered.
  bool Forget(std::string_view directory);
  void Clear() { known_.clear(); }

  // True when `directory` is remembered, or else exists or could be made
  // (with every missing level); it is then remembered.
  bool Ensure(std::string_view directory);

 private:
  static std::string Key(std::string_view directory) { return FoldedPathKey(directory); }
  std::unordered_set<std::string> known_;
};

}  // namespace platform
