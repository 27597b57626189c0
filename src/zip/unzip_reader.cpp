// TOrvUnZip: properties, loading and opening the archive, the directory view
// and comments. Extraction itself is in unzip_extract.cpp.
#include "zip/unzip_reader.h"

#include <array>

#include "platform/file_ops.h"
#include "platform/ui_services.h"
#include "zip/file_utils.h"
#include "zip/inflate.h"
#include "zip/zip_errors.h"

namespace zip {
namespace {

// How often ReadZip retries after OnInCompleteZip when the handler keeps
// the mode that raised EIncompleteZip.
constexpr int kIncompleteRetries = 3;

}  // namespace

TOrvUnZip::TOrvUnZip() = default;
TOrvUnZip::~TOrvUnZip() = default;

void TOrvUnZip::SetZipName(std::string_view name) {
  if (SameTextAscii(name, zipName_)) return;
  if (!name.empty() && name.back() == '?') {
    throw EZipNotSupported("The file-open dialog is not available: name the archive");
  }
  zipName_ = name;
  Reset();  // closes a stream over the memory archive before it goes
  memoryArchive_.reset();
}

void TOrvUnZip::SetDestDir(std::string_view dir) {
  if (dir == "?") {
    throw EZipNotSupported("The directory chooser is not available: name the directory");
  }
  destDir_ = dir;
  if (!destDir_.empty() && destDir_.back() == '\\' &&
      !(destDir_.size() == 3 && destDir_[1] == ':')) {
    destDir_.pop_back();
  }
}

void TOrvUnZip::SetRootDir(std::string_view dir) {
  rootDir_ = dir;
  if (!rootDir_.empty() && rootDir_.back() != '\\') rootDir_ += '\\';
}

void TOrvUnZip::SetSortMode(TZipSortMode mode) {
  sortMode_ = mode;
  RebuildView();
}

TSortedZip* TOrvUnZip::View() const {
  if (view_) return view_.get();
  return dir_.list.get();
}

void TOrvUnZip::RebuildView() {
  view_.reset();
  if (!dir_.list || sortMode_ == TZipSortMode::ByNone) return;
  view_ = std::make_unique<TSortedZip>(TDupPolicy::kAccept, false, sortMode_);
  for (int i = 0; i < dir_.list->Count(); ++i) view_->Add(dir_.list->Item(i));
}

void TOrvUnZip::CloseArchive() {
  archive_.reset();
}

void TOrvUnZip::CreateArchiveStream() {
  if (memoryArchive_) {
    archive_ = std::make_unique<TMemoryReadStream>(*memoryArchive_);  // no copy
  } else {
    archive_ =
        std::make_unique<TLFNFileStream>(zipName_, kZipBufferSize, false, TFileMode::kOpenRead);
  }
}

void TOrvUnZip::UseMemoryArchive(std::vector<std::uint8_t> bytes) {
  Reset();
  memoryArchive_ = std::move(bytes);
  zipName_ = "(memory)";
}

void TOrvUnZip::Reset() {
  view_.reset();
  dir_.Clear();
  CloseArchive();
  stamp_.reset();
}

void TOrvUnZip::CheckCancel() {
  if (StopSignal != nullptr && StopSignal->load(std::memory_order_relaxed)) {
    throw EUserCanceled(kMsgUserAborted);
  }
  if (!DoProcessMessages) return;
  platform::Ui().ProcessMessages();
  if (cancelRequested_ || platform::Ui().CancelRequested()) {
    cancelRequested_ = false;
    throw EUserCanceled(kMsgUserAborted);
  }
}

void TOrvUnZip::Message(const std::string& text) {
  if (OnZipMessage) OnZipMessage(text);
}

bool TOrvUnZip::Skip(TSkipReason reason, const std::string& name, int index) {
  bool retry = false;
  if (OnSkippingFile) OnSkippingFile(reason, name, index, retry);
  return retry;
}

void TOrvUnZip::RecordArchiveStamp() {
  if (memoryArchive_) return;
  std::uint32_t dos = 0;
  const auto size = platform::GetFileSize(zipName_);
  if (platform::GetFileDosTime(zipName_, dos) && size) {
    stamp_ = std::make_pair(dos, *size);
  } else {
    stamp_.reset();
  }
}

bool TOrvUnZip::ArchiveChanged() const {
  if (memoryArchive_) return false;
  std::uint32_t dos = 0;
  const auto size = platform::GetFileSize(zipName_);
  if (!stamp_ || !platform::GetFileDosTime(zipName_, dos) || !size) return true;
  return stamp_->first != dos || stamp_->second != *size;
}

void TOrvUnZip::Open() {
  const bool stale = !dir_.list || ArchiveChanged();
  if (stale) {
    // The file may have been replaced: reopen it.
    CloseArchive();
  }
  if (!archive_) {
    CreateArchiveStream();
  }
  if (stale) {
    RecordArchiveStamp();
    view_.reset();
    TDirLoadOptions options;
    options.archiveName = zipName_;
    options.doProcessMessages = DoProcessMessages;
    options.incompleteMode = IncompleteZipMode;
    options.onIncompleteZip = [this](TIncompleteZipMode& mode) {
      if (OnInCompleteZip) {
        OnInCompleteZip(IncompleteZipMode);
        mode = IncompleteZipMode;
      }
    };
    try {
      LoadDirectory(*archive_, options, dir_);
    } catch (const EBadZipFile&) {
      Reset();
      throw;
    } catch (...) {
      dir_.Clear();
      stamp_.reset();
      throw;
    }
    if (dir_.uncountedEntries > 0) {
      Message("The central directory holds " + std::to_string(dir_.list->Count()) +
              " entries but the end record counts " + std::to_string(dir_.end.TotalEntries) +
              "; every entry in the directory is read");
    }
    RebuildView();
  }
}

void TOrvUnZip::Close() {
  if (!KeepZipOpen) CloseArchive();
}

void TOrvUnZip::ReadZip() {
  for (int attempt = 0;; ++attempt) {
    try {
      Open();
      break;
    } catch (const EIncompleteZip&) {
      CloseArchive();
      if (OnInCompleteZip && attempt < kIncompleteRetries) continue;
      break;  // an empty directory
    } catch (...) {
      Reset();
      zipName_.clear();
      throw;
    }
  }
  Close();
}

int TOrvUnZip::Count() const {
  const TSortedZip* view = View();
  return view ? view->Count() : 0;
}

const TZipHeaderInfo& TOrvUnZip::Entry(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError("Index " + std::to_string(index) + " is out of range");
  }
  return *View()->Item(index);
}

std::string TOrvUnZip::FileName(int index) const {
  return Entry(index).FullName();
}

std::uint32_t TOrvUnZip::DosDateTime(int index) const {
  return ValidateDosDateTime(Entry(index).LastModFileDate);
}

std::time_t TOrvUnZip::DateTime(int index) const {
  return DosDateTimeToTime(Entry(index).LastModFileDate);
}

void TOrvUnZip::LoadEntryComment(TZipHeaderInfo& entry) {
  if (entry.FileCommentLength == 0 || entry.FileComment()) return;
  const bool wasOpen = archive_ != nullptr;
  if (!archive_) {
    CreateArchiveStream();
  }
  std::array<std::uint8_t, kCentralHeaderSize> b{};
  std::string text;
  if (archive_->Seek(entry.CentralOffset, kSeekFromBeginning) >= 0 &&
      archive_->ReadExact(b.data(), kCentralHeaderSize) && GetU32(b.data()) == kCentralSignature) {
    archive_->Seek(static_cast<std::int64_t>(GetU16(&b[28])) + GetU16(&b[30]), kSeekFromCurrent);
    text.resize(entry.FileCommentLength);
    const std::int32_t got = archive_->Read(text.data(), entry.FileCommentLength);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
  }
  const std::uint16_t length = entry.FileCommentLength;
  entry.SetFileComment(text);
  entry.FileCommentLength = length;  // the stored length stays what the header says
  if (!wasOpen && !KeepZipOpen) CloseArchive();
}

std::string TOrvUnZip::FileComment(int index) {
  Entry(index);  // range check
  TZipHeaderInfo& entry = *View()->Item(index);
  LoadEntryComment(entry);
  return entry.FileComment().value_or(std::string());
}

std::string TOrvUnZip::ZipComment() {
  if (dir_.end.CommentLength != 0 && !dir_.end.Comment) {
    const bool wasOpen = archive_ != nullptr;
    if (!archive_) {
      CreateArchiveStream();
    }
    dir_.end.LoadComment(*archive_);
    if (!wasOpen && !KeepZipOpen) CloseArchive();
  }
  return dir_.end.Comment.value_or(std::string());
}

void TOrvUnZip::SetZipComment(std::string_view comment) {
  dir_.end.SetComment(comment);
}

bool TOrvUnZip::SeekEntryData(const TZipHeaderInfo& entry) {
  std::array<std::uint8_t, kLocalHeaderSize> b{};
  const std::int64_t recorded = entry.RelativeOffsetOfLocalHeader;
  for (const std::int64_t at : {recorded + dir_.end.ArchiveShift, recorded}) {
    if (at < 0) continue;
    if (archive_->Seek(at, kSeekFromBeginning) == at &&
        archive_->ReadExact(b.data(), kLocalHeaderSize) && GetU32(b.data()) == kLocalSignature) {
      const std::int64_t data =
          at + kLocalHeaderSize + GetU16(&b[26]) + static_cast<std::int64_t>(GetU16(&b[28]));
      return archive_->Seek(data, kSeekFromBeginning) == data;
    }
    if (dir_.end.ArchiveShift == 0) break;
  }
  return false;
}

}  // namespace zip
