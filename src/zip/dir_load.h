// Loading an archive's directory: the end record search, the walk over the
// central headers, and the repair scan that rebuilds a directory from the
// local headers when the central directory cannot be read.
//
// Load procedure (the reader calls it whenever no directory is loaded or the
// archive file changed since the last load):
//  1. Find the end record (TEndCentral::Find). Without one, the incomplete-zip
//     handler may change the mode: izAssumeNotAZip raises ENotAZipFile,
//     izAssumeMulti raises EIncompleteZip, izAssumeBad runs the repair scan
//     (EBadZipFile "Not a valid zip file!" when it fails).
//  2. Archives that need zip64 or span several disks raise EZipNotSupported.
//  3. Read the announced number of central headers from the directory
//     offset. When the first one is not there, but one is at (end record
//     position - directory size), the archive has bytes in front of it that
//     its offsets do not count (a prefix, or a directory moved by editing):
//     the directory is read from there and the difference is recorded as the
//     archive shift. When a header still cannot be read and the previous one
//     declared an extra field, reading is retried once that many bytes back.
//     Otherwise the repair scan runs (once) and the walk restarts, merging
//     each central header into the scanned entry at the same local offset
//     (the first header to claim an entry wins; later claimants are dropped).
//  4. Two central headers at one local offset ("Duplicate Object index") also
//     fall back to the repair scan.
//
// Repair scan: from offset 0 (14,000 for an ".EXE"), search byte by byte for
// a local signature followed by a plausible version (high byte below 10),
// then read local headers one after another, skipping each entry's data. For
// an entry whose sizes follow its data (flag bit 3) the descriptor is looked
// for behind the data. The end record is synthesized from what was found.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "zip/sorted_zip.h"
#include "zip/stream.h"
#include "zip/zip_records.h"

namespace zip {

enum class TIncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1, izAssumeNotAZip = 2 };

struct TDirLoadOptions {
  std::string archiveName;  // for the ".EXE" start offset
  bool doProcessMessages = true;
  TIncompleteZipMode incompleteMode = TIncompleteZipMode::izAssumeMulti;
  // Called when no end record exists; may change the mode.
  std::function<void(TIncompleteZipMode&)> onIncompleteZip;
};

// A loaded directory: the end record and the entries in physical order.
struct TZipDirectory {
  TEndCentral end;
  std::unique_ptr<TSortedZip> list;  // owning, ByNone, error policy
  // Central headers found beyond the end record's entry count (read too).
  int uncountedEntries = 0;
  void Clear() {
    end.Clear();
    list.reset();
    uncountedEntries = 0;
  }
};

// Loads the directory of `archive` into `dir` (cleared first). Raises
// ENotAZipFile, EIncompleteZip, EBadZipFile, EZipNotSupported or
// EUserCanceled; `dir` is cleared when it raises.
void LoadDirectory(TStream& archive, const TDirLoadOptions& options, TZipDirectory& dir);

// Rebuilds `dir` from the local headers; false when none could be read.
bool RepairScan(TStream& archive, const TDirLoadOptions& options, TZipDirectory& dir);

}  // namespace zip
