// Compressed storage of single files: with compression on, the backup run
// writes each file it stores into a temporary one-entry archive beside the
// backup file (back<i>.Zip, i the file's index in the list) and stores that
// archive as the File BLOB; the restore run reads such a BLOB into memory
// and has the reader expand it from there into the target directory (no
// temporary file: a row costs no file beside the backup file, whose folder
// may be read-only).
//
// One file serves every temporary archive of a backup run: when the next
// archive is needed, the file of the last one is renamed to the new name and
// written over (and cut to length), instead of being deleted after its file
// and created anew. Deleting and creating a file per backed-up file makes
// the file system skip a growing number of recently freed entries for every
// file created afterwards (a compressed run over 10,000 small files spent
// more than half its time there).
//
// Invariants:
//  * No temporary archive outlives its run: ReleaseArchive (called by the
//    runs at their end, on every path, and by the destructor) deletes the
//    file. Between files at most one temporary archive exists, the one of
//    the last compressed file; a restore makes none.
//  * An archive is always written whole: a file of the same name left by an
//    interrupted run, or the reused file, is written over, never updated,
//    so that old entries never reach a row.
//  * A file is stored only when its archive holds exactly that file: a file
//    the writer skipped (it could not be opened) is an error naming it.
//  * A row counts as restored only when its entry was written with a matching
//    CRC. A damaged entry is an error naming the file; an existing file the
//    user chose to keep is not counted.
#pragma once

#include <string>

#include "app/core/main_view.h"
#include "platform/known_directories.h"
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
  ~TCompressedStorage();
  TCompressedStorage(const TCompressedStorage&) = delete;
  TCompressedStorage& operator=(const TCompressedStorage&) = delete;

  zip::TOrvZip OrvZip1;
  zip::TOrvUnZip OrvUnZip1;

  // The folder of the backup file, ending in a backslash.
  void SetFolder(const std::string& dir) { dir_ = dir; }
  const std::string& Folder() const { return dir_; }
  // dir + "back" + number + ".Zip".
  std::string ArchiveName(long long number) const;

  // Compresses `source` into the archive of file i of n.
  void CompressFile(int i, int n, const std::string& source);
  // The status text shown before file i of n is compressed.
  void ShowCompressing(int i, int n);
  // Deletes the temporary archives back0.Zip to back<n - 1>.Zip that an
  // interrupted run may have left in the folder (one listing of it).
  void DeleteLeftoverArchives(int n);
  // Done with the archive of file i: clears the writer's list. Its file is
  // kept for the next archive; a failed run's archive is deleted.
  void DiscardArchive(int i);
  // Deletes the file kept for the next archive, if any.
  void ReleaseArchive();
  // The directories a restore run has made or found: both kinds of rows
  // test a directory once per run (the reader forgets one in which it
  // cannot create a file, and tests it again). A run starts with none.
  platform::KnownDirectories& Directories() { return directories_; }
  // Expands the archive held in `blob` into `dir`; `name` (the row's file
  // name) names an archive without entries in the error; `restored` and
  // `total` are for the status text.
  ExpandResult ExpandRow(const engine::TField& blob, const std::string& dir,
                         const std::string& name, int restored, int total);

 private:
  // Renames the kept file (if any) to `archive`, which then is the kept file.
  void ReuseFileFor(const std::string& archive);
  void DeleteArchive(const std::string& archive);

  MainView& view_;
  std::string dir_;
  std::string kept_;  // the file of the last archive, kept for the next one
  platform::KnownDirectories directories_;
};

}  // namespace app
