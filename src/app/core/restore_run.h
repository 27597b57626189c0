// The restore run behind btnBack: every row of the chosen backup file is
// written back, into the directory it came from or, with FRestoreDir set,
// into the same relative directory below FRestoreDir.
//
// Rows are read from the catalog table itself, once, in the order they were
// written (record numbers: the records and their BLOBs are read front to
// back, and the files of one directory, backed up together, are made
// together), under one read lock for the whole walk (engine/table/read_walk.h:
// another program's writer waits, and is let in between two rows).
//
// Several rows may restore to one file (one file backed up with different
// times, or two recorded directories that meet below FRestoreDir). Their
// outcome is that of the primary key's order (FileName, FileTime, Path): the
// row with the greatest key is the one left on disk, and questions, counts
// and texts come as in that order. A first, quick pass over the rows (names
// only, no BLOB) finds the targets of more than one row; those rows are left
// out of the record-order walk and restored after it, in key order. A row
// that another program adds during the run is restored in record order.
//
// A BLOB is read whole and
// written to its target with one write (an uncompressed row) or expanded
// from memory by the unzip reader (a compressed row). A restored file gets the
// time its row records. Rows without content only make their directory.
// Each target directory is tested (and made) once per run, for both kinds of
// rows (TCompressedStorage::Directories), and made without a sync of its
// parent: the restored files are not flushed either, and a sync per
// directory forced a journal commit of every file created before it. In a directory the run made
// itself a plain row whose target no other row shares (even ignoring case) is created without
// looking for its name (platform::kOpenNewName): the names there are the run's own. A compressed
// row expanded into such a directory (the archive names its file) ends that for the directory.
//
// The run has no error guard: the first error (an unreadable backup file, a
// target that cannot be created, a damaged entry) ends it, the files written
// until then stay, and the run frame shows the error.
//
// The command line adds three settings (MainState): a row filter (rows it
// refuses are passed over), a dry run (each file is reported, none written)
// and keep-going (a failing row is recorded in RestoreFailures and the run
// goes on with the next one).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/catalog.h"
#include "app/core/compressed_storage.h"
#include "platform/known_directories.h"

namespace engine {
class TField;
class TReadWalk;
}  // namespace engine

namespace app {

// The part of `path` after its first colon; "" when it has none.
std::string PathAfterDrive(std::string_view path);
// Creates `path` and every missing directory above it, outermost first.
// False when a directory cannot be made for another reason.
bool CreateDirectoryPath(const std::string& path);
// The directory a row recorded under `path` (ending in a backslash) is
// restored into: the recorded one without its backslash, or the same below
// `restoreDir` when that is set.
std::string RestoreDirectoryOf(std::string_view path, const std::string& restoreDir);

class TRestoreRun {
 public:
  TRestoreRun(MainState& state, MainView& view, TDataModuleRx& rx, TCompressedStorage& storage)
      : state_(state), view_(view), rx_(rx), storage_(storage) {}
  void Execute();

 private:
  using TargetSet = std::unordered_set<std::uint64_t>;
  // What the first pass learnt of a row's target, by record number.
  enum class RowTarget : std::uint8_t {
    Unknown,  // not seen by the first pass, or its new-name create was used
    Unique,   // no other row restores to the same file
    Shared,   // restored after the others, in key order
    Refused,  // its Path climbs out of the restore directory
  };
  // The catalog's fields of the open query, found once per opening.
  struct Fields {
    const engine::TField* fileName = nullptr;
    const engine::TField* fileTime = nullptr;
    const engine::TField* isZip = nullptr;
    const engine::TField* path = nullptr;
    const engine::TField* file = nullptr;
  };
  // The target directory of the last Path seen: the rows of one directory
  // come together, so it is worked out and looked up once for them.
  struct LastDirectory {
    std::string path;  // the recorded Path it was worked out from
    std::string dir;   // RestoreDirectoryOf(path)
    std::string key;   // platform::FoldedPathKey(dir)
    bool valid = false;
  };

  void FindFields();
  // Hash of the file the current row restores to (every spelling of one
  // path alike); `ok` false for a row whose target is refused.
  std::uint64_t TargetHash(bool& ok) const;
  // The hashes of targets that more than one row restores to; fills
  // targets_ for every row.
  TargetSet SharedTargets();
  // The first pass's finding for the current row; Unknown once the table
  // may have changed since.
  RowTarget TargetOfRow() const;
  // Restores the rows of the open walk that `take` accepts.
  void WalkRows(engine::TReadWalk& walk, const std::function<bool()>& take);
  // RestoreRow, recording a failure instead of ending the run with
  // keep-going.
  void VisitRow();
  void RestoreRow();
  // The restore directory of `path`, from last_ when it is the same Path.
  const std::string& DirectoryOf(const std::string& path);
  // Makes `dir` (every missing level) unless it exists, and remembers it;
  // an error naming it when it cannot be made.
  void EnsureDirectory(const std::string& dir);

  MainState& state_;
  MainView& view_;
  TDataModuleRx& rx_;
  TCompressedStorage& storage_;
  int total_ = 0;
  int row_ = 0;
  int restored_ = 0;
  Fields fields_;
  LastDirectory last_;
  std::vector<std::uint8_t> content_;  // the BLOB of the row being written
  std::string status_;                 // the status text being built
  // Indexed by record number; trusted only while `targetsHold_` (the first
  // walk, under the read lock the first pass was made under, until a writer
  // is let in).
  std::vector<RowTarget> targets_;
  bool targetsHold_ = false;
  // Directories this run made, in which only its plain rows made files.
  platform::KnownDirectories made_;
};

}  // namespace app
