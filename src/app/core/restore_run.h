// The restore run behind btnBack: every row of the chosen backup file is
// written back, into the directory it came from or, with FRestoreDir set,
// into the same relative directory below FRestoreDir.
//
// Rows are read from the catalog table itself, once, in its order, under one
// read lock for the whole walk (engine/table/read_walk.h: another program's
// writer waits, and is let in between two rows); a BLOB is read whole and
// written to its target with one write (an uncompressed row) or expanded
// from memory by the unzip reader (a compressed row). A restored file gets the
// time its row records. Rows without content only make their directory.
// Each target directory is tested (and made) once per run, for both kinds of
// rows (TCompressedStorage::Directories).
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
#include <string>
#include <string_view>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/catalog.h"
#include "app/core/compressed_storage.h"

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
  void RestoreRow();
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
  std::vector<std::uint8_t> content_;  // the BLOB of the row being written
};

}  // namespace app
