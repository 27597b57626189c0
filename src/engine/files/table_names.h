// Names of table files and the small name helpers the engine shares.
//
// A table N in directory D is a table set of three files:
//   D + N + ".DAT"  data       D + N + ".IDX"  index       D + N + ".BLB"  BLOBs
// Any extension given with N is replaced, except that an extension that
// already is the file's own (in any letter case) is kept as given: the table
// "x.dat" has the files x.dat, x.IDX and x.BLB. Renaming with the backup
// option uses ".DBK", ".IBK" and ".BBK"; sort work files carry ".TMP". In the
// "MEMORY" directory the same names are used without a path.
//
// Names are trimmed (leading and trailing bytes up to the blank) and compared
// ignoring ASCII case. They are never cut to a length: two long names that
// differ only past some byte must stay two files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace engine {

inline constexpr char kDataFileExt[] = ".DAT";
inline constexpr char kIndexFileExt[] = ".IDX";
inline constexpr char kBlobFileExt[] = ".BLB";
inline constexpr char kDataBackupExt[] = ".DBK";
inline constexpr char kIndexBackupExt[] = ".IBK";
inline constexpr char kBlobBackupExt[] = ".BBK";
inline constexpr char kSortWorkExt[] = ".TMP";
// The directory name of in-memory tables.
inline constexpr char kMemoryDirectory[] = "MEMORY";

// Removes leading and trailing bytes at or below the blank.
std::string Trim(std::string_view text);
// Equal ignoring ASCII case.
bool SameText(std::string_view a, std::string_view b);
// The extension with its dot ("" when none): the part from the last '.' after
// the last '\', '/' or ':'.
std::string_view ExtractFileExt(std::string_view name);
// `name` with its extension replaced by `ext` (which includes the dot).
std::string ChangeFileExt(std::string_view name, std::string_view ext);
// The file-name part (after the last '\', '/' or ':').
std::string_view ExtractFileName(std::string_view name);
// The directory part including its last '\' ("" when none).
std::string_view ExtractFilePath(std::string_view name);
// The file-name part without its extension, trimmed.
std::string BaseName(std::string_view name);
// `path` trimmed, with a '\' appended unless empty or already ending in one.
std::string IncludeTrailingBackslash(std::string_view path);
// Whether `name` names a drive or contains a path separator.
bool HasPathChars(std::string_view name);

// The file of table `name` with extension `ext` in `directory` (which ends in
// '\' or is empty): the trimmed name keeps an extension equal to `ext` in any
// case and otherwise gets `ext`.
std::string TableFileName(std::string_view directory, std::string_view name, std::string_view ext);

// The three files of a table set.
struct TTableSetNames {
  std::string data;
  std::string index;
  std::string blob;
};
// The table set of `name` in `directory`; with `backup` the backup extensions.
TTableSetNames TableSetNames(std::string_view directory, std::string_view name,
                             bool backup = false);

}  // namespace engine
