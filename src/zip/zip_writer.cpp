// TOrvZip: the Zip run, adding one file, copying existing entries. The file
// list expansion and stored names are in zip_filelist.cpp.
#include "zip/zip_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/dos_time.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "zip/cp437.h"
#include "zip/crc32.h"
#include "zip/deflate.h"
#include "zip/file_utils.h"
#include "zip/zip_crypt.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer_run.h"

namespace zip {
namespace {

// Stored files and copied entries move in pieces of this many bytes.
constexpr std::int32_t kCopyPieceBytes = 32768;
constexpr int kPercentMax = 100;

int Percent(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 0;
  const auto p = static_cast<int>(std::llround(static_cast<double>(done) * 100.0 / total));
  return std::min(p, kPercentMax);
}

// The writer's input routine: reads the source file, keeps the CRC and the
// progress counters.
class FileInput : public DeflateInput {
 public:
  FileInput(TStream& source, std::uint32_t& crc, std::function<void(std::int64_t)> progress)
      : source_(source), crc_(crc), progress_(std::move(progress)) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    const auto want = static_cast<std::int32_t>(std::min<std::size_t>(n, kDeflateMaxRead));
    const std::int32_t got = std::max(source_.Read(buf, want), 0);
    if (got > 0) {
      crc_ = Crc32Update(crc_, buf, static_cast<std::size_t>(got));
      read_ += got;
      progress_(got);
    }
    return static_cast<std::size_t>(got);
  }
  std::int64_t BytesRead() const { return read_; }

 private:
  TStream& source_;
  std::uint32_t& crc_;
  std::function<void(std::int64_t)> progress_;
  std::int64_t read_ = 0;
};

// The writer's output routine: encrypts when a password is set, writes to
// the archive, raises ENotEnoughRoom on a short write, checks for a cancel.
class ArchiveOutput : public DeflateOutput {
 public:
  ArchiveOutput(TStream& archive, TZipCrypt* crypt, std::function<void()> afterWrite)
      : archive_(archive), crypt_(crypt), afterWrite_(std::move(afterWrite)) {}
  void Write(const std::uint8_t* p, std::size_t n) override {
    const std::uint8_t* data = p;
    if (crypt_) {
      scratch_.assign(p, p + n);
      crypt_->Encrypt(scratch_.data(), n);
      data = scratch_.data();
    }
    if (archive_.Write(data, static_cast<std::int32_t>(n)) != static_cast<std::int32_t>(n)) {
      throw ENotEnoughRoom(kMsgNotEnoughRoom);
    }
    written_ += static_cast<std::int64_t>(n);
    afterWrite_();
  }
  std::int64_t Written() const { return written_; }

 private:
  TStream& archive_;
  TZipCrypt* crypt_;
  std::function<void()> afterWrite_;
  std::vector<std::uint8_t> scratch_;
  std::int64_t written_ = 0;
};

void CheckFits(std::int64_t position) {
  if (position > std::numeric_limits<std::int32_t>::max()) {
    throw ENotEnoughRoom("Archive would exceed 2 GiB, which this format version cannot hold");
  }
}

}  // namespace

TOrvZip::TOrvZip() = default;
TOrvZip::~TOrvZip() = default;

void TOrvZip::SetPackLevel(int level) {
  if (level < 0 || level > kMaxPackLevel) {
    throw std::invalid_argument("PackLevel must be 0-9, not " + std::to_string(level));
  }
  packLevel_ = level;
}

void TOrvZip::SetStorePaths(bool value) {
  storePaths_ = value;
  if (!value) {
    storeVolumes_ = false;
    relativePaths_ = false;
  }
}

void TOrvZip::SetStoreVolumes(bool value) {
  storeVolumes_ = value;
  if (value) storePaths_ = true;
}

void TOrvZip::SetRelativePaths(bool value) {
  relativePaths_ = value;
  if (value) {
    storePaths_ = true;
    Recurse = true;
  }
}

void TOrvZip::SetZipName(std::string_view name) {
  if (!SameTextAscii(name, zipName_) && dir_.end.Modified && !busy_ && !zipName_.empty()) {
    std::vector<std::string> pending;
    pending.swap(FilesList);
    Zip();
    FilesList = std::move(pending);
  }
  TOrvUnZip::SetZipName(name);
}

void TOrvZip::AddToLists(Run& run, std::unique_ptr<TZipHeaderInfo> header) {
  // The end record counts entries in 16 bits; a wrapped count would make
  // every reader see only the remainder.
  if (run.end.TotalEntries == kMaxEntries) throw EZipNotSupported(kMsgTooManyEntries);
  run.byName->Add(header.get());
  try {
    run.byNone->Add(header.get());
  } catch (...) {
    run.byName->Delete(run.byName->IndexOf(header.get()));
    throw;
  }
  header.release();
  ++run.end.EntriesOnThisDisk;
  ++run.end.TotalEntries;
}

bool TOrvZip::AddFile(Run& run, const std::string& line, TZipHeaderInfo& header) {
  const bool directoryEntry = !line.empty() && line.back() == '\\';
  std::unique_ptr<TLFNFileStream> source;
  std::int64_t size = 0;
  if (directoryEntry) {
    const auto time = FileDosDateTime(line.substr(0, line.size() - 1));
    header.LastModFileDate = time ? *time : platform::DosDateTimeFromUnix(std::time(nullptr));
    header.CompressionMethod = kMethodStored;
    header.CRC32 = 0;
    header.InternalFileAttributes = 0;
  } else {
    if (!platform::FileExists(line)) return false;
    header.ExternalFileAttributes = platform::GetFileAttributes(line);
    while (!source) {
      try {
        source =
            std::make_unique<TLFNFileStream>(line, kZipBufferSize, false, TFileMode::kOpenRead);
      } catch (const EFOpenError& e) {
        Message(std::string(e.what()));
        if (!Skip(TSkipReason::srFileOpenError, line, -1)) return false;
      }
    }
    std::uint32_t time = 0;
    if (!source->File().Handle().GetDosTime(time)) {
      time = platform::DosDateTimeFromUnix(std::time(nullptr));
    }
    header.LastModFileDate = ValidateDosDateTime(time);
    size = source->Size();
    if (size > std::numeric_limits<std::int32_t>::max()) {
      Message("File " + line + " is 2 GiB or larger, which this format version cannot hold");
      Skip(TSkipReason::srFileOpenError, line, -1);
      return false;
    }
    header.UncompressedSize = static_cast<std::int32_t>(size);
  }

  const auto [directory, name] = StoredNameParts(line);
  if (directory.empty() && name.empty()) return false;  // a nameless entry
  if (directory.size() + name.size() > 0xFFFF) {
    Message("Name of " + line + " is too long for a zip entry");
    return false;
  }
  header.SetDirectory(directory);
  header.SetFileName(name);
  header.RelativeOffsetOfLocalHeader = static_cast<std::uint32_t>(run.out->Position());
  header.DiskNumberStart = 0;
  if (!directoryEntry) header.InternalFileAttributes = 2;  // not yet decided

  int index = 0;
  if (run.byName->Find(header, index)) {
    Skip(TSkipReason::srNoOverwrite, line, -1);
    run.totalBytes -= size;
    return false;
  }
  bool skip = false;
  if (OnStartZip) OnStartZip(line, header, skip);
  if (skip) {
    run.totalBytes -= size;
    return false;
  }
  if (!IsAscii(header.StoredName())) header.Flag |= kFlagUtf8Name;

  const std::int64_t localAt = run.out->Position();
  CheckFits(localAt);
  header.WriteLocal(*run.out);
  if (directoryEntry) {
    if (OnEndZip) OnEndZip(line, 0, 0, 0);
    return true;
  }

  // The data.
  crc_ = kCrc32Initial;
  std::unique_ptr<TZipCrypt> crypt;
  if (!Password.empty()) {
    // The check byte of the encryption header is the CRC's high byte, so the
    // file is read once beforehand.
    std::uint32_t pre = kCrc32Initial;
    std::vector<std::uint8_t> piece(kCopyPieceBytes);
    for (std::int32_t got; (got = source->Read(piece.data(), kCopyPieceBytes)) > 0;) {
      pre = Crc32Update(pre, piece.data(), static_cast<std::size_t>(got));
    }
    source->Seek(0, kSeekFromBeginning);
    crypt = std::make_unique<TZipCrypt>(Password);
    std::array<std::uint8_t, kEncryptionHeaderSize> encryption{};
    crypt->MakeHeader(static_cast<std::uint8_t>(~pre >> 24), encryption.data());
    if (!run.out->WriteExact(encryption.data(), kEncryptionHeaderSize)) {
      throw ENotEnoughRoom(kMsgNotEnoughRoom);
    }
  }
  std::int64_t fileDone = 0;
  const std::int64_t fileTotal = size;
  FileInput input(*source, crc_, [&](std::int64_t n) {
    fileDone += n;
    run.doneBytes += n;
    if (OnFilePercentDone) OnFilePercentDone(Percent(fileDone, fileTotal));
    if (OnTotalPercentDone) OnTotalPercentDone(Percent(run.doneBytes, run.totalBytes));
  });
  ArchiveOutput output(*run.out, crypt.get(), [this] { CheckCancel(); });
  if (packLevel_ == 0 || NoCompress(line)) {
    std::vector<std::uint8_t> piece(kCopyPieceBytes);
    for (std::size_t got; (got = input.Read(piece.data(), piece.size())) > 0;) {
      output.Write(piece.data(), got);
    }
    header.CompressionMethod = kMethodStored;
    header.InternalFileAttributes = 0;
    header.CompressedSize = static_cast<std::int32_t>(output.Written());
  } else {
    if (!run.compressor) run.compressor = std::make_unique<DeflateCompressor>();
    const DeflateEntryInfo info = run.compressor->CompressEntry(packLevel_, input, output);
    header.CompressionMethod = info.method;
    header.Flag =
        static_cast<std::uint16_t>((header.Flag & ~(kFlagLevel12 | kFlagLevel89)) | info.flagBits);
    header.InternalFileAttributes = info.internalAttributes;
    header.CompressedSize = static_cast<std::int32_t>(info.compressedSize);
  }
  header.UncompressedSize = static_cast<std::int32_t>(input.BytesRead());
  header.CRC32 = ~crc_;
  if (crypt) {
    header.Flag |= kFlagEncrypted;
    header.CompressedSize += kEncryptionHeaderSize;
  }
  source.reset();
  const std::int64_t end = run.out->Position();
  CheckFits(end);
  run.out->Seek(localAt, kSeekFromBeginning);
  header.WriteLocal(*run.out);
  run.out->Seek(end, kSeekFromBeginning);
  if (ResetArchiveBitOnZip) {
    const std::uint32_t attributes = platform::GetFileAttributes(line);
    if (attributes != platform::kInvalidFileAttributes) {
      platform::SetFileAttributes(line, attributes & ~platform::kAttrArchive);
    }
  }
  if (OnEndZip) {
    OnEndZip(line, header.UncompressedSize, header.CompressedSize, static_cast<std::int32_t>(end));
  }
  run.added.push_back(line);
  return true;
}

void TOrvZip::CopyEntry(Run& run, const TZipHeaderInfo& old, TZipHeaderInfo& header) {
  header = old;
  if (!SeekEntryData(old)) {
    throw EBadZipFile("Entry " + old.FullName() + " of " + zipName_ + " has no local header");
  }
  // SeekEntryData leaves the stream behind the name and the extra field;
  // step back over the extra field to copy it along.
  std::array<std::uint8_t, kLocalHeaderSize> b{};
  const std::int64_t dataAt = archive_->Position();
  const std::int64_t recorded = old.RelativeOffsetOfLocalHeader;
  std::uint16_t extra = 0;
  for (const std::int64_t at : {recorded + dir_.end.ArchiveShift, recorded}) {
    if (archive_->Seek(at, kSeekFromBeginning) == at &&
        archive_->ReadExact(b.data(), kLocalHeaderSize) && GetU32(b.data()) == kLocalSignature &&
        at + kLocalHeaderSize + GetU16(&b[26]) + GetU16(&b[28]) == dataAt) {
      extra = GetU16(&b[28]);
      break;
    }
  }
  header.LocalExtraFieldLength = extra;
  header.CentralExtraFieldLength = 0;
  if (!IsAscii(header.StoredName())) header.Flag |= kFlagUtf8Name;
  const std::int64_t localAt = run.out->Position();
  CheckFits(localAt);
  header.WriteLocal(*run.out);
  archive_->Seek(dataAt - extra, kSeekFromBeginning);
  std::int64_t remaining =
      static_cast<std::int64_t>(extra) + static_cast<std::uint32_t>(old.CompressedSize);
  std::vector<std::uint8_t> piece(kCopyPieceBytes);
  while (remaining > 0) {
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, kCopyPieceBytes));
    if (!archive_->ReadExact(piece.data(), want)) throw EFatalUnzipError(kMsgPrematureEnd);
    if (!run.out->WriteExact(piece.data(), want)) throw ENotEnoughRoom(kMsgNotEnoughRoom);
    remaining -= want;
    CheckCancel();
  }
  if (header.HasDataDescriptor()) {
    // The sizes are in the local header now, but an encrypted entry's check
    // byte still follows the descriptor rule: write a fresh descriptor.
    std::array<std::uint8_t, 16> d{};
    PutU32(&d[0], kDataDescriptorSignature);
    PutU32(&d[4], header.CRC32);
    PutU32(&d[8], static_cast<std::uint32_t>(header.CompressedSize));
    PutU32(&d[12], static_cast<std::uint32_t>(header.UncompressedSize));
    if (!run.out->WriteExact(d.data(), static_cast<std::int32_t>(d.size()))) {
      throw ENotEnoughRoom(kMsgNotEnoughRoom);
    }
  }
  CheckFits(run.out->Position());
}

void TOrvZip::CarryOverEntries(Run& run) {
  TSortedZip* old = dir_.list.get();
  if (!old) return;
  for (int i = 0; i < old->Count(); ++i) {
    TZipHeaderInfo& entry = *old->Item(i);
    if (entry.State == 2) continue;
    LoadEntryComment(entry);
    const std::string key = LowerAscii(entry.FullName());
    auto line = std::find_if(run.lines.begin(), run.lines.end(),
                             [&](const Run::Line& l) { return !l.done && l.storedKey == key; });
    auto header = std::make_unique<TZipHeaderInfo>();
    if (line == run.lines.end()) {
      CopyEntry(run, entry, *header);
      AddToLists(run, std::move(header));
      continue;
    }
    bool keep = false;
    if (ZipAction != TZipAction::zaReplace) {
      const auto fileTime = FileDosDateTime(line->path);
      keep = fileTime && DosDateTimeToTime(entry.LastModFileDate) >= DosDateTimeToTime(*fileTime);
    }
    line->done = true;
    if (keep) {
      CopyEntry(run, entry, *header);
      AddToLists(run, std::move(header));
      if (OnUpdate) OnUpdate(kUpdateKeeping, i);
      continue;
    }
    if (OnUpdate) OnUpdate(kUpdateReplacing, i);
    if (AddFile(run, line->path, *header)) {
      ++run.count;
      AddToLists(run, std::move(header));
    } else {
      // The file could not be added: keep the old entry rather than lose it.
      header = std::make_unique<TZipHeaderInfo>();
      CopyEntry(run, entry, *header);
      AddToLists(run, std::move(header));
    }
  }
}

int TOrvZip::ZipToMemory(std::vector<std::uint8_t>& archive) {
  // The archive is written into the caller's buffer, whose capacity serves
  // first (a caller that knows the size spares the growing copies).
  archive.clear();
  TMemoryStream memory(std::move(archive));
  memoryOut_ = &memory;
  struct Restore {
    TStream*& out;
    ~Restore() { out = nullptr; }
  } restore{memoryOut_};
  const int count = Zip();
  archive = memory.TakeBytes();
  return count;
}

int TOrvZip::Zip() {
  if (memoryOut_ == nullptr && Trim(zipName_).empty()) return 0;
  if (memoryArchive_) {
    FilesList.clear();
    throw EZipNotSupported("Memory archives cannot be written");
  }
  if (MultiZipInfo.MultiMode != TMultiMode::mmNone) {
    FilesList.clear();
    throw EZipNotSupported(kMsgMultiDiskNotSupported);
  }
  busy_ = true;
  const TZipSortMode mode = sortMode_;
  const bool keepOpen = KeepZipOpen;
  KeepZipOpen = true;
  Run run;
  auto finish = [&] {
    sortMode_ = mode;
    RebuildView();
    KeepZipOpen = keepOpen;
    if (!KeepZipOpen) CloseArchive();
    busy_ = false;
    FilesList.clear();
  };
  try {
    run.update = memoryOut_ == nullptr && !OverwriteArchive && platform::FileExists(zipName_);
    if (run.update) {
      // The old directory, also needed by the file list expansion.
      Open();
    }
    sortMode_ = TZipSortMode::ByNone;
    RebuildView();
    ExpandFilesList(run);
    for (const std::string& path : FilesList) {
      const auto [d, n] = StoredNameParts(path);
      run.lines.push_back({path, LowerAscii(d + n), false});
    }
    if (run.update) {
      std::string where = TempPath;
      if (where.empty() || !DirExists(where)) where = platform::GetTempPath();
      const auto temp = ZipTempFileName(where);
      if (!temp) {
        throw ENotEnoughRoom("Cannot create a temporary archive in " + where);
      }
      run.writing = *temp;
    } else if (memoryOut_ == nullptr) {
      run.writing = zipName_;
    }
    if (memoryOut_ != nullptr) {
      run.out = std::make_unique<TS_BufferStream>(memoryOut_, kZipBufferSize);
    } else {
      run.out = std::make_unique<TLFNFileStream>(
          run.writing, kZipBufferSize, FlushFilesOnClose,
          OverwriteArchive ? TFileMode::kRewrite : TFileMode::kCreate);
    }
    run.byName = std::make_unique<TSortedZip>(TDupPolicy::kError, false, TZipSortMode::ByName);
    run.byNone = std::make_unique<TSortedZip>(TDupPolicy::kError, true, TZipSortMode::ByNone);
    if (run.update) {
      ZipComment();  // loads the archive comment
      run.end.Assign(dir_.end);
      run.end.EntriesOnThisDisk = 0;
      run.end.TotalEntries = 0;
    }
    if (!FilesList.empty()) {
      bool stop = false;
      if (OnStartZipInfo) {
        OnStartZipInfo(static_cast<int>(FilesList.size()), run.totalBytes, run.end, stop);
      }
      if (stop) throw EUserCanceled(kMsgUserCanceledZip);
    }
    if (run.update) CarryOverEntries(run);
    for (Run::Line& line : run.lines) {
      if (line.done) continue;
      auto header = std::make_unique<TZipHeaderInfo>();
      if (AddFile(run, line.path, *header)) {
        ++run.count;
        AddToLists(run, std::move(header));
      }
    }
    // The central directory and the end record.
    const std::int64_t directoryAt = run.out->Position();
    CheckFits(directoryAt);
    for (int i = 0; i < run.byNone->Count(); ++i) {
      TZipHeaderInfo& header = *run.byNone->Item(i);
      header.CentralOffset = static_cast<std::uint32_t>(run.out->Position());
      header.WriteCentral(*run.out);
    }
    const std::int64_t endAt = run.out->Position();
    CheckFits(endAt + run.end.RecordSize());
    run.end.Signature = kEndSignature;
    run.end.ThisDiskNumber = 0;
    run.end.CentralDirStartDisk = 0;
    run.end.CentralDirOffset = static_cast<std::uint32_t>(directoryAt);
    run.end.CentralDirSize = static_cast<std::uint32_t>(endAt - directoryAt);
    run.end.RecordOffset = endAt;
    run.end.CommentOffset = static_cast<std::uint32_t>(endAt + kEndRecordSize);
    run.end.ArchiveShift = 0;
    run.end.Write(*run.out);
    // A file written over may be longer than the new archive.
    if (OverwriteArchive && !run.out->SetSize(run.out->Position())) {
      throw ENotEnoughRoom(kMsgNotEnoughRoom);
    }
    if (!run.out->FlushBuffer()) throw ENotEnoughRoom(kMsgNotEnoughRoom);
    run.out.reset();
    run.compressor.reset();
    if (run.update) {
      CloseArchive();
      if (!ReplaceFileWith(run.writing, zipName_)) {
        throw ENotEnoughRoom("Could not replace " + zipName_ + " by the new archive");
      }
      platform::DeleteFile(run.writing);
    }
    run.writing.clear();
    if (memoryOut_ != nullptr) {
      // No file holds the written directory.
      Reset();
    } else {
      // The written directory is now the loaded one.
      view_.reset();
      dir_.list = std::move(run.byNone);
      dir_.end = run.end;
      dir_.end.Modified = false;
      RecordArchiveStamp();
    }
    if (Dispose) {
      for (const std::string& path : run.added) {
        bool skip = false;
        if (OnDisposeFile) OnDisposeFile(path, skip);
        if (!skip) platform::DeleteFile(path);
      }
    }
  } catch (...) {
    run.out.reset();
    run.byName.reset();
    run.byNone.reset();
    if (!run.writing.empty()) platform::DeleteFile(run.writing);
    if (!run.update) {
      // The directory loaded before (if any) no longer describes a file.
      Reset();
    }
    finish();
    throw;
  }
  finish();
  if (OnZipComplete) OnZipComplete(run.count);
  return run.count;
}

}  // namespace zip
