// Temporary archives of the compressed storage; see compressed_storage.h.
#include "app/core/compressed_storage.h"

#include <stdexcept>

#include "app/core/texts.h"
#include "engine/components/dataset.h"
#include "platform/file_ops.h"
#include "platform/find.h"
#include "platform/ui_services.h"

namespace app {

namespace {

constexpr std::string_view kArchivePrefix = "back";
constexpr std::string_view kArchiveExtension = ".Zip";
// Selects every entry of an archive, names without a dot included.
constexpr char kEveryEntry[] = "*";
// More digits than an int holds are no archive of a run.
constexpr std::size_t kMaxArchiveDigits = 10;

// Deletes a temporary archive when it exists. The removal need not survive a
// crash: a leftover archive is deleted or overwritten before its number is
// next used.
void DeleteIfPresent(const std::string& path) {
  if (platform::FileExists(path)) platform::DeleteScratchFile(path);
}

}  // namespace

TCompressedStorage::TCompressedStorage(MainView& view) : view_(view) {
  OrvZip1.RecreateDirs = true;
  OrvUnZip1.RecreateDirs = true;
  // Every archive is written whole (see the header).
  OrvZip1.OverwriteArchive = true;
  // Reading the directory and extracting share one opening of the archive.
  OrvUnZip1.KeepZipOpen = true;
  // A run's directories are tested once (see Directories).
  OrvUnZip1.KnownDirectories = &directories_;
}

TCompressedStorage::~TCompressedStorage() {
  ReleaseArchive();
}

void TCompressedStorage::ReuseFileFor(const std::string& archive) {
  if (!kept_.empty() && kept_ != archive && !platform::ReplaceScratchFile(kept_, archive)) {
    DeleteIfPresent(kept_);
  }
  kept_ = archive;
}

void TCompressedStorage::DeleteArchive(const std::string& archive) {
  DeleteIfPresent(archive);
  if (kept_ == archive) kept_.clear();
}

void TCompressedStorage::ReleaseArchive() {
  if (kept_.empty()) return;
  DeleteIfPresent(kept_);
  kept_.clear();
}

std::string TCompressedStorage::ArchiveName(long long number) const {
  return dir_ + std::string(kArchivePrefix) + std::to_string(number) +
         std::string(kArchiveExtension);
}

void TCompressedStorage::ShowCompressing(int i, int n) {
  view_.ShowShortStatus(std::to_string(i) + std::string(texts::kCountSeparator) +
                        std::to_string(n - 1) + std::string(texts::kBackupCompressing));
}

void TCompressedStorage::DeleteLeftoverArchives(int n) {
  const std::string pattern =
      dir_ + std::string(kArchivePrefix) + "*" + std::string(kArchiveExtension);
  std::vector<std::string> leftovers;
  platform::DirectorySearch search;
  platform::FindData found;
  for (bool more = search.First(pattern, 0, found); more; more = search.Next(found)) {
    // back<digits>.Zip, compared as the archives are named.
    const std::string& name = found.name;
    const std::size_t digits = name.size() - kArchivePrefix.size() - kArchiveExtension.size();
    if (name.size() <= kArchivePrefix.size() + kArchiveExtension.size() ||
        digits > kMaxArchiveDigits)
      continue;
    const std::string number = name.substr(kArchivePrefix.size(), digits);
    if (number.find_first_not_of("0123456789") != std::string::npos) continue;
    if (std::stoll(number) >= n || ArchiveName(std::stoll(number)) != dir_ + name) continue;
    leftovers.push_back(dir_ + name);
  }
  search.Close();
  for (const std::string& path : leftovers) DeleteIfPresent(path);
}

void TCompressedStorage::CompressFile(int i, int n, const std::string& source) {
  ShowCompressing(i, n);
  const std::string archive = ArchiveName(i);
  // The writer writes over the file (a leftover of an interrupted run too).
  ReuseFileFor(archive);
  OrvZip1.FilesList.assign(1, source);
  OrvZip1.SetDestDir(dir_);
  OrvZip1.SetZipName(archive);
  int added = 0;
  try {
    added = OrvZip1.Zip();
  } catch (...) {
    DeleteArchive(archive);
    throw;
  }
  if (added != 1) {
    DeleteArchive(archive);
    throw std::runtime_error(std::string(texts::kCannotRead) + source);
  }
}

void TCompressedStorage::DiscardArchive(int /*i*/) {
  OrvZip1.FilesList.clear();
}

ExpandResult TCompressedStorage::ExpandRow(const engine::TField& blob, const std::string& dir,
                                           const std::string& name, int restored, int total) {
  // The row's archive is expanded from memory: the BLOB is read whole (as
  // saving it to a file would read it) and handed to the reader, which reads
  // it in place. Nothing is written beside the backup file, so a backup on
  // read-only media restores too.
  std::vector<std::uint8_t> archive;
  blob.ReadBlob(archive);  // straight from the BLOB file's blocks, one copy
  // The reader lets go of the archive on every path.
  struct Release {
    zip::TOrvUnZip& reader;
    ~Release() { reader.SetZipName(""); }
  } release{OrvUnZip1};
  OrvUnZip1.UseMemoryArchive(std::move(archive));
  platform::Ui().ProcessMessages();
  view_.ShowShortStatus(std::to_string(restored) + std::string(texts::kCountSeparator) +
                        std::to_string(total) + std::string(texts::kRestoreExpanding));
  bool damaged = false, notCreated = false;
  std::string entryName;
  OrvUnZip1.OnBadCRC = [&](std::uint32_t, std::uint32_t, int) { damaged = true; };
  OrvUnZip1.OnSkippingFile = [&](zip::TSkipReason reason, const std::string&, int, bool&) {
    if (reason != zip::TSkipReason::srNoOverwrite) notCreated = true;
  };
  OrvUnZip1.SetDestDir(dir);
  OrvUnZip1.ReadZip();
  if (OrvUnZip1.Count() > 0) entryName = OrvUnZip1.FileName(0);
  OrvUnZip1.FilesList.assign(1, kEveryEntry);
  const int count = OrvUnZip1.UnZip();
  const std::string target = dir + "\\" + (entryName.empty() ? name : entryName);
  if (damaged || entryName.empty())
    throw std::runtime_error(std::string(texts::kRestoreDamaged) + target);
  if (notCreated) throw std::runtime_error(std::string(texts::kCannotWrite) + target);
  if (count < 1) return ExpandResult::Kept;
  view_.ShowShortStatus(texts::kRestoreExpanded);
  return ExpandResult::Restored;
}

}  // namespace app
