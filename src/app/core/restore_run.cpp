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
  FindFields();
  storage_.SetFolder(rx_.DBDatabase.Directory());
  restored_ = 0;
  row_ = 0;
  last_.valid = false;
  targetsHold_ = false;
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
    shared = SharedTargets();
    targetsHold_ = true;
    WalkRows(walk, [&] {
      if (shared.empty()) return true;
      if (targetsHold_) return TargetOfRow() != RowTarget::Shared;
      bool ok = true;
      const std::uint64_t hash = TargetHash(ok);
      return !ok || shared.count(hash) == 0;
    });
    targetsHold_ = false;
  }
  if (!shared.empty()) {
    // The rows that share a target, in key order.
    rx_.OpenForRestore(RowOrder::Keys);
    FindFields();
    engine::TReadWalk walk(*q.Handle());
    WalkRows(walk, [&] {
      bool ok = true;
      const std::uint64_t hash = TargetHash(ok);
      return ok && shared.count(hash) != 0;
    });
  }
  q.Close();
  fields_ = Fields{};
  platform::Ui().MessageBox(std::string(texts::kRestoreDonePrefix) + Count(restored_) +
                                std::string(texts::kRestoreDoneSuffix),
                            texts::kWindowCaption, platform::MsgButtons::Ok,
                            platform::MsgIcon::Information, platform::MsgResult::Ok);
}

void TRestoreRun::FindFields() {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  fields_.fileName = &q.FieldByName("FileName");
  fields_.fileTime = &q.FieldByName("FileTime");
  fields_.isZip = &q.FieldByName("isZip");
  fields_.path = &q.FieldByName("Path");
  fields_.file = &q.FieldByName("File");
}

std::uint64_t TRestoreRun::TargetHash(bool& ok) const {
  const std::string name = fields_.fileName->AsString();
  const std::string path = fields_.path->AsString();
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

TRestoreRun::TargetSet TRestoreRun::SharedTargets() {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  struct Seen {
    std::int32_t record;
    std::uint64_t hash;
    bool ok;
  };
  std::vector<Seen> seen;
  TargetSet once, shared;
  std::int32_t last = 0;
  for (q.First(); !q.Eof(); q.Next()) {
    Seen row{q.RecordNumber(), 0, true};
    row.hash = TargetHash(row.ok);
    if (row.ok && !once.insert(row.hash).second) shared.insert(row.hash);
    last = std::max(last, row.record);
    seen.push_back(row);
  }
  targets_.assign(static_cast<std::size_t>(last) + 1, RowTarget::Unknown);
  for (const Seen& row : seen) {
    if (row.record <= 0) continue;
    targets_[static_cast<std::size_t>(row.record)] = !row.ok ? RowTarget::Refused
                                                     : shared.count(row.hash) != 0
                                                         ? RowTarget::Shared
                                                         : RowTarget::Unique;
  }
  return shared;
}

TRestoreRun::RowTarget TRestoreRun::TargetOfRow() const {
  if (!targetsHold_) return RowTarget::Unknown;
  const auto record = static_cast<std::size_t>(rx_.qryDBSrech.RecordNumber());
  return record < targets_.size() ? targets_[record] : RowTarget::Unknown;
}

void TRestoreRun::WalkRows(engine::TReadWalk& walk, const std::function<bool()>& take) {
  engine::TZORVADTable& q = rx_.qryDBSrech;
  for (q.First(); !q.Eof(); q.Next()) {
    if (!take()) continue;
    VisitRow();
    if (walk.LetWritersIn()) {
      // Another program may have changed any row: the first pass's findings
      // no longer describe the table.
      targetsHold_ = false;
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
  try {
    RestoreRow();
  } catch (const std::exception& e) {
    state_.RestoreFailures.push_back(fields_.path->AsString() + fields_.fileName->AsString() +
                                     ": " + e.what());
  }
}

const std::string& TRestoreRun::DirectoryOf(const std::string& path) {
  if (!last_.valid || last_.path != path) {
    last_.valid = false;
    last_.dir = RestoreDirectoryOf(path, state_.FRestoreDir);
    last_.key = platform::FoldedPathKey(last_.dir);
    last_.path = path;
    last_.valid = true;
  }
  return last_.dir;
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
  const std::string name = fields_.fileName->AsString();
  const std::string path = fields_.path->AsString();
  if (state_.RestoreRowFilter && !state_.RestoreRowFilter(path + name)) return;
  status_.clear();
  status_.append(Count(row_)).append(texts::kCountSeparator).append(Count(total_));
  status_.append(texts::kRestoreProcessing).append(path).append(name);
  view_.ShowRestoreStatus(status_);
  const engine::TField& blob = *fields_.file;
  // A row without content records an unchanged file; an empty file's row
  // holds an empty BLOB and is restored like any other.
  const bool placeholder = blob.IsNull();
  const std::string& dir = DirectoryOf(path);
  if (state_.RestoreDryRun) {
    if (placeholder) return;
    state_.RestoreDryRun(path + name, dir + kBackslash + name);
    ++restored_;
    return;
  }

  if (fields_.isZip->AsString() == kZipped) {
    if (placeholder || blob.BlobSize() == 0) return;
    // The reader names the file after the archive's entry, which need not
    // be the row's FileName: the directory no longer counts as holding only
    // the names of the rows.
    made_.Forget(dir);
    // The reader makes a missing directory itself, durably; made here first
    // (quietly: a failure is left to the reader, which reports it as ever)
    // it is made as the plain rows' directories are.
    platform::KnownDirectories& known = storage_.Directories();
    if (!known.ContainsKey(last_.key) &&
        (platform::DirectoryExists(dir) || CreateDirectoryPath(dir)))
      known.Remember(dir);
    if (storage_.ExpandRow(blob, dir, name, restored_, total_) == ExpandResult::Restored)
      ++restored_;
    return;
  }
  const std::string target = state_.FRestoreDir.empty() ? path + name : dir + kBackslash + name;
  // A directory is tested once per run; one that this run made or found is
  // taken as existing, unless the file cannot be written there: then it is
  // tested (and made) again and the file written once more.
  platform::KnownDirectories& known = storage_.Directories();
  const bool trusted = known.ContainsKey(last_.key);
  if (!trusted) EnsureDirectory(dir);
  if (placeholder) return;
  // The BLOB is read whole before the file is touched (a damaged one leaves
  // an existing file as it was), into a buffer kept from row to row. As an
  // archive's entry gives its file the recorded time, so does a row.
  blob.ReadBlob(content_);
  const auto time = static_cast<std::uint32_t>(fields_.fileTime->AsInteger());
  // In a directory this run made, the names are those of the rows restored
  // there (a directory that another program fills at the same time aside);
  // a target that no other row shares, even ignoring case, is therefore a
  // new name there, and is created without being looked for.
  // A target is taken so once, and only while the first pass's findings
  // hold: a row that another program adds or changes during the run goes
  // the ordinary way.
  unsigned options = 0;
  if (TargetOfRow() == RowTarget::Unique && made_.ContainsKey(last_.key)) {
    targets_[static_cast<std::size_t>(rx_.qryDBSrech.RecordNumber())] = RowTarget::Unknown;
    options = platform::kOpenNewName;
  }
  try {
    WriteRestoredFile(target, content_, time, options);
  } catch (const std::exception&) {
    if (!trusted) throw;
    const std::string again = dir;  // Forget may not invalidate what it is given
    known.Forget(again);
    made_.Forget(again);
    EnsureDirectory(again);
    WriteRestoredFile(target, content_, time, 0);
  }
  ++restored_;
  status_.clear();
  status_.append(Count(restored_)).append(texts::kCountSeparator).append(Count(total_));
  status_.append(texts::kRestoreWriting);
  view_.ShowShortStatus(status_);
}

}  // namespace app
