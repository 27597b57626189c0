// Compressed storage of single files: with compression on, the backup run
// writes each file it stores into a temporary one-entry archive beside the
// backup file (back<i>.Zip, i the file's index in the list) and stores that
// archive as the File BLOB; the restore run saves such a BLOB to a temporary
// archive (back<row>.Zip, rows from 1) and expands it into the target
// directory.
//
// Invariants:
//  * No temporary archive outlives its file or row. An archive of the same
//    name left by an interrupted run is deleted before a file is compressed,
//    so that its old entries never reach a row.
//  * A file is stored only when its archive holds exactly that file: a file
//    the writer skipped (it could not be opened) is an error naming it.
//  * A row counts as restored only when its entry was written with a matching
//    CRC. A damaged entry is an error naming the file; an existing file the
//    user chose to keep is not counted.
#pragma once

#include <string>

#include "app/core/main_view.h"
#include "zip/unzip_reader.h"
#include "zip/zip_writer.h"

namespace engine {
class TField;
}

namespace app {

// What became of a compressed row.
enum class ExpandResult { Restored, Kept };

class TCompressedStorage {
 public:
  explicit TCompressedStorage(MainView& view);

  zip::TOrvZip OrvZip1;
  zip::TOrvUnZip OrvUnZip1;

  // The folder of the backup file, ending in a backslash.
  void SetFolder(const std::string& dir) { dir_ = dir; }
  const std::string& Folder() const { return dir_; }
  // dir + "back" + number + ".Zip".
  std::string ArchiveName(long long number) const;

  // Compresses `source` into the archive of file i of n.
  void CompressFile(int i, int n, const std::string& source);
  // Deletes the archive of file i (if any) and clears the writer's list.
  void DiscardArchive(int i);
  // Saves the BLOB of row `row` to its archive and expands it into `dir`;
  // `restored` and `total` are for the status text.
  ExpandResult ExpandRow(int row, const engine::TField& blob, const std::string& dir, int restored,
                         int total);

 private:
  MainView& view_;
  std::string dir_;
};

}  // namespace app
