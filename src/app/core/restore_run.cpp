// The restore run; see restore_run.h.
#include "app/core/restore_run.h"

#include <stdexcept>

#include "app/core/texts.h"
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

}  // namespace

std::string PathAfterDrive(std::string_view path) {
  const std::size_t colon = path.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(path.substr(colon + 1));
}

bool CreateDirectoryPath(const std::string& path) {
  if (platform::CreateDirectory(path) || platform::DirectoryExists(path)) return true;
  const std::uint32_t error = platform::GetLastError();
  if (error != platform::kErrorPathNotFound && error != platform::kErrorFileNotFound) return false;
  // The parent: up to the last backslash, one in the last position ignored.
  std::string_view trimmed(path);
  if (!trimmed.empty() && trimmed.back() == kBackslash) trimmed.remove_suffix(1);
  const std::size_t cut = trimmed.rfind(kBackslash);
  if (cut == std::string_view::npos || cut == 0) return false;
  const std::string parent(trimmed.substr(0, cut));
  if (parent == path || !CreateDirectoryPath(parent)) return false;
  return platform::CreateDirectory(path) || platform::DirectoryExists(path);
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
  rx_.OpenForRestore();
  total_ = static_cast<int>(rx_.qryDBSrech.RecordCount());
  view_.SetProgressMaximum(total_);
  storage_.SetFolder(rx_.DBDatabase.Directory());
  restored_ = 0;
  row_ = 0;
  storage_.Directories().Clear();
  for (rx_.qryDBSrech.First(); !rx_.qryDBSrech.Eof(); rx_.qryDBSrech.Next()) {
    if (!state_.RestoreKeepGoing) {
      RestoreRow();
      continue;
    }
    try {
      RestoreRow();
    } catch (const std::exception& e) {
      engine::TZORVADTable& q = rx_.qryDBSrech;
      state_.RestoreFailures.push_back(q.FieldByName("Path").AsString() +
                                       q.FieldByName("FileName").AsString() + ": " + e.what());
    }
  }
  rx_.qryDBSrech.Close();
  platform::Ui().MessageBox(std::string(texts::kRestoreDonePrefix) + Count(restored_) +
                                std::string(texts::kRestoreDoneSuffix),
                            texts::kWindowCaption, platform::MsgButtons::Ok,
                            platform::MsgIcon::Information, platform::MsgResult::Ok);
}

void TRestoreRun::EnsureDirectory(const std::string& dir) {
  if (!platform::DirectoryExists(dir) && !CreateDirectoryPath(dir))
    throw std::runtime_error(std::string(texts::kRestoreNoDirectory) + dir);
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
  try {
    blob.SaveToFile(target);
  } catch (const std::exception&) {
    if (!trusted) throw;
    known.Forget(dir);
    EnsureDirectory(dir);
    blob.SaveToFile(target);
  }
  // As an archive's entry gives its file the recorded time, so does a row.
  platform::SetFileDosTime(target,
                           static_cast<std::uint32_t>(q.FieldByName("FileTime").AsInteger()));
  ++restored_;
  view_.ShowShortStatus(Count(restored_) + std::string(texts::kCountSeparator) + Count(total_) +
                        std::string(texts::kRestoreWriting));
}

}  // namespace app
