// The backup run; see backup_run.h for the modes and the rules it keeps.
#include "app/core/backup_run.h"

#include <stdexcept>

#include "app/core/catalog_texts.h"
#include "app/core/texts.h"
#include "platform/file_ops.h"
#include "platform/system.h"
#include "platform/ui_services.h"
#include "zip/zip_errors.h"

namespace app {

namespace {

constexpr std::string_view kZipped = "Y";

std::string Count(std::int64_t value) {
  return std::to_string(value);
}

}  // namespace

std::size_t CodePageWidth(std::string_view text) {
  std::size_t width = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++width;
    } else if (c >= 0xC0) {
      width += 2;  // the lead byte of a character; continuation bytes add nothing
    }
  }
  return width;
}

std::int32_t SwitchThreshold(std::int32_t limitMB) {
  const std::int32_t threshold = limitMB - kLimitMarginMB;
  return threshold < 0 ? kSmallLimitThresholdMB : threshold;
}

void TBackupRun::BeginTransaction() {
  // Another program writing the same backup file holds its write lock until
  // it commits; wait for it rather than writing outside a transaction.
  const std::uint32_t start = platform::GetTickCount();
  for (;;) {
    rx_.DBDatabase.StartTransaction();
    if (rx_.DBDatabase.InTransaction()) return;
    if (platform::GetTickCount() - start > static_cast<std::uint32_t>(state_.LockWaitMs))
      throw std::runtime_error(std::string(texts::kBackupFileLocked) + rx_.TargetPath());
    platform::Ui().ProcessMessages();
    platform::Sleep(kLockPollMilliseconds);
  }
}

void TBackupRun::CommitAndRestart() {
  rx_.DBDatabase.Commit();
  BeginTransaction();
}

bool TBackupRun::Execute() {
  n_ = static_cast<int>(state_.FFileList->size());
  threshold_ = SwitchThreshold(state_.FSizeLimitMB);
  rx_.PrepareTarget(TargetUse::Backup);
  storage_.SetFolder(rx_.DBDatabase.Directory());
  rx_.DBDatabase.Open();
  view_.SetProgressMaximum(n_);

  bool ok = false;
  std::string error;
  try {
    if (state_.FTargetFile.empty() && state_.FZipFlag == kZipped) {
      storage_.DeleteLeftoverArchives(n_);
      std::vector<std::string> sources;
      sources.reserve(static_cast<std::size_t>(n_));
      for (const auto& file : *state_.FFileList) sources.push_back(file->Path + file->Name);
      pipeline_ = std::make_unique<TCompressPipeline>(
          std::move(sources), TCompressPipeline::DefaultWorkers(), kMaxBlobBytes);
    }
    BeginTransaction();
    for (int i = 0; i < n_; ++i) StoreFile(i);
    rx_.DBDatabase.Commit();
    ok = true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  // The workers stop (at once, when the run failed) before the run reports.
  pipeline_.reset();
  archive_ = {};
  if (!ok) {
    try {
      if (rx_.DBDatabase.Connected() && rx_.DBDatabase.InTransaction()) rx_.DBDatabase.Rollback();
    } catch (const std::exception&) {
      // The run already failed; its first error is the one reported.
    }
  }
  // No temporary archive outlives the run.
  storage_.ReleaseArchive();
  ShowResult(ok, error);
  return ok;
}

void TBackupRun::CheckStorable(const std::string& source, const std::string& stored) {
  if (!platform::FileExists(stored))
    throw std::runtime_error(std::string(texts::kFileVanished) + source);
  for (const std::string* path : {&source, &stored}) {
    const auto size = platform::GetFileSize(*path);
    if (size && *size > kMaxBlobBytes)
      throw std::runtime_error(std::string(texts::kFileTooLarge) + source);
  }
}

void TBackupRun::StoreFile(int i) {
  const TFileDatas& file = *(*state_.FFileList)[static_cast<std::size_t>(i)];
  view_.SetProgressPosition(i + 1);
  const std::string source = file.Path + file.Name;
  const std::string status = std::string(texts::kBackupProcessing) + source;
  view_.ShowBackupStatus(status);
  view_.SetBackupStatusHeight(CodePageWidth(status) <= kOneLineStatusBytes ? kStatusOneLineHeight
                                                                           : kStatusTwoLineHeight);
  if (file.Name.size() > kCatalogNameWidth || file.Path.size() > kCatalogNameWidth)
    throw std::runtime_error(std::string(texts::kNameTooLong) + source);

  std::uint64_t size = 0;
  if (pipeline_) {
    size = TakeArchive(i, source);
  } else {
    std::string counted = source;
    if (state_.FTargetFile.empty() && state_.FZipFlag == kZipped) {
      CheckStorable(source, source);
      storage_.CompressFile(i, n_, source);
      counted = storage_.ArchiveName(i);
    }
    size = platform::GetFileSize(counted).value_or(0);
  }
  sinceSwitch_ += size;
  sinceCommit_ += size;

  if (state_.FSizeLimitMB > 0 &&
      static_cast<double>(sinceSwitch_) / kBytesPerMegabyte > threshold_) {
    sinceSwitch_ = 0;
    rx_.DBDatabase.Commit();
    rx_.DBDatabase.Close();
    rx_.PrepareTarget(TargetUse::Backup);
    rx_.DBDatabase.Open();
    BeginTransaction();
  }
  platform::Ui().ProcessMessages();

  const bool archived = WriteFile(i, file, source);
  view_.ShowShortStatus(Count(i) + std::string(texts::kCountSeparator) + Count(n_ - 1) +
                        std::string(texts::kBackupWriting));
  if (archived) storage_.DiscardArchive(i);

  if (i % kCommitEveryFiles == 0 ||
      static_cast<double>(sinceCommit_) / kBytesPerMegabyte > kCommitAfterMegabytes) {
    sinceCommit_ = 0;
    // A commit point that fails (a full disk, a write error) ends the run like
    // any other error: its files were rolled back with the transaction, so
    // going on would leave them out of the backup and still report success.
    // Rows committed at earlier points stay.
    CommitAndRestart();
  }
}

std::uint64_t TBackupRun::TakeArchive(int i, const std::string& source) {
  // Messages are processed and a cancel is seen once per file, as while a
  // file is compressed, and as long as the workers are behind.
  const auto waiting = [] {
    platform::Ui().ProcessMessages();
    if (platform::Ui().CancelRequested()) throw zip::EUserCanceled(zip::kMsgUserAborted);
  };
  waiting();
  TCompressPipeline::Result result = pipeline_->Take(i, waiting);
  // The file must still exist at its turn, as when it is compressed then.
  if (result.error && result.beforeCompressing) std::rethrow_exception(result.error);
  if (!platform::FileExists(source))
    throw std::runtime_error(std::string(texts::kFileVanished) + source);
  storage_.ShowCompressing(i, n_);
  if (result.error) std::rethrow_exception(result.error);
  archive_ = std::move(result.archive);
  return archive_.size();
}

bool TBackupRun::WriteFile(int i, const TFileDatas& file, const std::string& source) {
  const std::string& zipFlag = state_.FZipFlag;
  const bool compress = zipFlag == kZipped;
  if (pipeline_) {
    if (archive_.size() > kMaxBlobBytes)
      throw std::runtime_error(std::string(texts::kFileTooLarge) + source);
    rx_.InsertFileRow(file, std::move(archive_), zipFlag);
    archive_ = {};
    return true;
  }
  const std::string archive = storage_.ArchiveName(i);
  if (state_.FTargetFile.empty()) {
    const std::string stored = compress ? archive : source;
    CheckStorable(source, stored);
    rx_.InsertFileRow(file, stored, zipFlag);
    return compress;
  }

  if (!rx_.FindFileRow(file)) {  // a new file
    CheckStorable(source, source);
    if (compress) storage_.CompressFile(i, n_, source);
    rx_.InsertFileRow(file, compress ? archive : source, zipFlag);
    ++written_;
    return compress;
  }
  const std::int32_t recorded = rx_.qryDBSrech.FieldByName("FileTime").AsInteger();
  const bool rowZipped = rx_.qryDBSrech.FieldByName("isZip").AsString() == kZipped;
  if (recorded < file.Time) {  // changed
    ++written_;
    CheckStorable(source, source);
    const bool archived = rowZipped || compress;
    if (archived) storage_.CompressFile(i, n_, source);
    if (state_.BackNewFile) {
      rx_.InsertFileRow(file, compress ? archive : source, zipFlag);
    } else if (archived) {
      // The row keeps its stored form when either side asks for an archive:
      // File and isZip always agree.
      rx_.UpdateFileRow(file, archive, kZipped);
    } else {
      rx_.UpdateFileRow(file, source, zipFlag);
    }
    return archived;
  }
  if (state_.BackNewFile) {  // unchanged: a row without content in the dated file
    rx_.InsertFileRow(file, std::string(), zipFlag);
    ++written_;
  }
  return false;
}

void TBackupRun::ShowResult(bool ok, const std::string& error) {
  std::string message;
  if (ok) {
    message = state_.FTargetFile.empty()
                  ? std::string(texts::kBackupDone)
                  : std::string(texts::kBackupDoneCountPrefix) + Count(written_) +
                        std::string(texts::kBackupDoneCountSuffix);
  } else {
    message = std::string(texts::kBackupFailed);
    if (!error.empty()) message += "\n" + error;
  }
  platform::Ui().MessageBox(message, texts::kWindowCaption, platform::MsgButtons::Ok,
                            ok ? platform::MsgIcon::Information : platform::MsgIcon::Error,
                            platform::MsgResult::Ok);
  rx_.qryDBInsert.UnPrepare();
  view_.SetBackupStatusHeight(kStatusOneLineHeight);
}

}  // namespace app
