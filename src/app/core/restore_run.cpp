// The restore run; see restore_run.h.
#include "app/core/restore_run.h"

#include <algorithm>
#include <stdexcept>

#include "app/core/texts.h"
#include "engine/components/file_stream.h"
#include "engine/table/read_walk.h"
#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/known_directories.h"
#include "platform/ui_services.h"
#include "platform/win_error.h"

namespace app {

namespace {

constexpr char kBackslash = '\\';
constexpr std::string_view kZipped = "Y";

std::string Count(std::int64_t value) {
  return std::to_string(value);
}

// Largest single write, in bytes (a BLOB is below 2 GiB).
constexpr std::size_t kMaxWrite = std::size_t{1} << 30;

// Writes `content` as the file `path`, replacing an existing one, and gives
// it the DOS date-time `dosTime` through the open handle. A file that cannot
// be made raises "Cannot create file", one that cannot be written whole
// "Cannot write file". A time the file system refuses leaves the file's own.
// `openOptions` are File::Open's.
void WriteRestoredFile(const std::string& path, const std::vector<std::uint8_t>& content,
                       std::uint32_t dosTime, unsigned openOptions) {
  platform::File file;
  if (!file.Open(path, platform::Access::ReadWrite, platform::Share::None,
                 platform::Disposition::CreateAlways, openOptions)) {
    throw engine::EFCreateError("Cannot create file \"" + path + "\"");
  }
  for (std::size_t at = 0; at < content.size();) {
    const auto piece = static_cast<std::uint32_t>(std::min(kMaxWrite, content.size() - at));
    std::uint32_t done = 0;
    if (!file.WriteAt(static_cast<std::int64_t>(at), content.data() + at, piece, done) ||
        done == 0) {
      throw engine::EFCreateError("Cannot write file \"" + path + "\"");
    }
    at += done;
  }
  file.SetDosTime(dosTime);
}

}  // namespace

std::string PathAfterDrive(std::string_view path) {
  const std::size_t colon = path.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(path.substr(colon + 1));
}

bool CreateDirectoryPath(const std::string& path) {
  // The restored files are not flushed; their directories need not be
  // either (platform::CreateDirectoryUnsynced).
  if (platform::CreateDirectoryUnsynced(path) || platform::DirectoryExists(path)) return true;
  const std::uint32_t error = platform::GetLastError();
  if (error != platform::kErrorPathNotFound && error != platform::kErrorFileNotFound) return false;
  // The parent: up to the last backslash, one in the last position ignored.
  std::string_view trimmed(path);
  if (!trimmed.empty() && trimmed.back() == kBackslash) trimmed.remove_suffix(1);
  const std::size_t cut = trimmed.rfind(kBackslash);
  if (cut == std::string_view::npos || cut == 0) return false;
  const std::string parent(trimmed.substr(0, cut));
  if (parent == path || !CreateDirectoryPath(parent)) return false;
  return platform::CreateDirectoryUnsynced(path) || platform::DirectoryExists(path);
}

std::string RestoreDirectoryOf(std::string_view path, const std::string& restoreDir) {
  std::string dir(path);
  if (!dir.empty()) dir.pop_back();
  if (restoreDir.empty()) return dir;
  // A recorded path that climbs out of its drive would leave the restore
  // directory: such a row is refused, never followed.
  const std::string below = PathAfterDrive(dir);
  std::size_t start = 0;
  while (start <= below.size()) {
    std::size_t end = below.find(kBackslash, start);
    if (end == std::string::npos) end = below.size();
    if (below.compare(start, end - start, "..") == 0)
      throw std::runtime_error(std::string(texts::kRestoreBadPath) + std::string(path));
    start = end + 1;
  }
  return restoreDir + below;
}

void TRestoreRun::Execute() {
  rx_.DBDatabase.Close();
  rx_.PrepareTarget(TargetUse::Restore);
  rx_.OpenForRestore(RowOrder::Records);
  engine::TZORVADTable& q = rx_.qryDBSrech;
  storage_.SetFolder(rx_.DBDatabase.Directory());
  restored_ = 0;
  row_ = 0;
  storage_.Directories().Clear();
  TargetSet shared;
  made_.Clear();
  {
    // The rows are read under one read lock, taken before they are counted
    // (read_walk.h): no lock and no change check per row, and the count and
    // the rows belong to one state of the table. Another program's writes
    // wait for the walk; between two rows the walk lets a waiting writer in,
    // and then counts again.
    engine::TReadWalk walk(*q.Handle());
    total_ = static_cast<int>(q.RecordCount());
    view_.SetProgressMaximum(total_);
    shared = SharedTargets(once_);
    WalkRows(walk, [&] {
      bool ok = true;
      const std::uint64_t hash = shared.empty() ? 0 : TargetHash(ok);
      return shared.empty() || !ok || shared.count(hash) == 0;
    });
  }
  if (!shared.empty()) {
    // The rows that share a target, in key order.
    rx_.OpenForRestore(RowOrder::Keys);
    engine::TReadWalk walk(*q.Handle());
    WalkRows(walk, [&] {
      bool ok = true;
      const std::uint64_t hash = TargetHash(ok);
      return ok && shared.count(hash) != 0;
    });
  }
  q.Close();
  platform::Ui().MessageBox(std::string(texts::kRestoreDonePrefix) + Count(restored_) +
                                std::string(texts::kRestoreDoneSuffix),
                            texts::kWindowCaption, platform::MsgButtons::Ok,
                            platform::MsgIcon::Information, platform::MsgResult::Ok);
}

std::uint64_t TRestoreRun::TargetHash(bool& ok) const {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  const std::string name = q.FieldByName("FileName").AsString();
  const std::string path = q.FieldByName("Path").AsString();
  std::string dir;
  try {
    dir = RestoreDirectoryOf(path, state_.FRestoreDir);
  } catch (const std::exception&) {
    // Refused when its turn comes.
    ok = false;
    return 0;
  }
  ok = true;
  return std::hash<std::string>{}(platform::FoldedPathKey(dir + kBackslash + name));
}

TRestoreRun::TargetSet TRestoreRun::SharedTargets(TargetSet& once) {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  TargetSet shared;
  once.clear();
  for (q.First(); !q.Eof(); q.Next()) {
    bool ok = true;
    const std::uint64_t hash = TargetHash(ok);
    if (ok && !once.insert(hash).second) shared.insert(hash);
  }
  for (const std::uint64_t hash : shared) once.erase(hash);
  return shared;
}

void TRestoreRun::WalkRows(engine::TReadWalk& walk, const std::function<bool()>& take) {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  for (q.First(); !q.Eof(); q.Next()) {
    if (!take()) continue;
    VisitRow();
    if (walk.LetWritersIn()) {
      total_ = static_cast<int>(q.RecordCount());
      view_.SetProgressMaximum(total_);
    }
  }
}

void TRestoreRun::VisitRow() {
  if (!state_.RestoreKeepGoing) {
    RestoreRow();
    return;
  }
  engine::TZORVADTable& q = rx_.qryDBSrech;
  try {
    RestoreRow();
  } catch (const std::exception& e) {
    state_.RestoreFailures.push_back(q.FieldByName("Path").AsString() +
                                     q.FieldByName("FileName").AsString() + ": " + e.what());
  }
}

void TRestoreRun::EnsureDirectory(const std::string& dir) {
  if (!platform::DirectoryExists(dir)) {
    if (!CreateDirectoryPath(dir))
      throw std::runtime_error(std::string(texts::kRestoreNoDirectory) + dir);
    made_.Remember(dir);
  }
  storage_.Directories().Remember(dir);
}

void TRestoreRun::RestoreRow() {
  platform::Ui().ProcessMessages();
  ++row_;
  view_.SetProgressPosition(row_);
  engine::TZORVADTable& q = rx_.qryDBSrech;
  const std::string name = q.FieldByName("FileName").AsString();
  const std::string path = q.FieldByName("Path").AsString();
  if (state_.RestoreRowFilter && !state_.RestoreRowFilter(path + name)) return;
  view_.ShowRestoreStatus(Count(row_) + std::string(texts::kCountSeparator) + Count(total_) +
                          std::string(texts::kRestoreProcessing) + path + name);
  const engine::TField& blob = q.FieldByName("File");
  // A row without content records an unchanged file; an empty file's row
  // holds an empty BLOB and is restored like any other.
  const bool placeholder = blob.IsNull();
  const std::string dir = RestoreDirectoryOf(path, state_.FRestoreDir);
  if (state_.RestoreDryRun) {
    if (placeholder) return;
    state_.RestoreDryRun(path + name, dir + kBackslash + name);
    ++restored_;
    return;
  }

  if (q.FieldByName("isZip").AsString() == kZipped) {
    if (placeholder || blob.BlobSize() == 0) return;
    // The reader names the file after the archive's entry, which need not
    // be the row's FileName: the directory no longer counts as holding only
    // the names of the rows.
    made_.Forget(dir);
    if (storage_.ExpandRow(blob, dir, name, restored_, total_) == ExpandResult::Restored)
      ++restored_;
    return;
  }
  const std::string target = state_.FRestoreDir.empty() ? path + name : dir + kBackslash + name;
  // A directory is tested once per run; one that this run made or found is
  // taken as existing, unless the file cannot be written there: then it is
  // tested (and made) again and the file written once more.
  platform::KnownDirectories& known = storage_.Directories();
  const bool trusted = known.Contains(dir);
  if (!trusted) EnsureDirectory(dir);
  if (placeholder) return;
  // The BLOB is read whole before the file is touched (a damaged one leaves
  // an existing file as it was), into a buffer kept from row to row. As an
  // archive's entry gives its file the recorded time, so does a row.
  blob.ReadBlob(content_);
  const auto time = static_cast<std::uint32_t>(q.FieldByName("FileTime").AsInteger());
  // In a directory this run made, the names are those of the rows restored
  // there (a directory that another program fills at the same time aside);
  // a target that no other row shares, even ignoring case, is therefore a
  // new name there, and is created without being looked for.
  // A target is taken so once: a row that another program adds during the
  // run for the same target goes the ordinary way.
  unsigned options = 0;
  if (made_.Contains(dir)) {
    bool ok = false;
    const std::uint64_t hash = TargetHash(ok);
    if (ok && once_.erase(hash) != 0) options = platform::kOpenNewName;
  }
  try {
    WriteRestoredFile(target, content_, time, options);
  } catch (const std::exception&) {
    if (!trusted) throw;
    known.Forget(dir);
    made_.Forget(dir);
    EnsureDirectory(dir);
    WriteRestoredFile(target, content_, time, 0);
  }
  ++restored_;
  view_.ShowShortStatus(Count(restored_) + std::string(texts::kCountSeparator) + Count(total_) +
                        std::string(texts::kRestoreWriting));
}

}  // namespace app
