// TOrvUnZip: selecting entries, output paths and extracting one entry.
//
// Per entry: find its data behind the local header, compute the output path
// (refusing paths that leave DestDir), fire OnStartUnZip, verify the
// password header of an encrypted entry, apply the overwrite mode, create the
// output file, decode by method while computing the CRC, then compare the
// CRC. An entry that fails its CRC (or whose data is damaged, bigger than
// declared, or of an unknown method) leaves no output file behind.
#include <algorithm>
#include <array>
#include <cmath>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/ui_services.h"
#include "platform/win_error.h"
#include "zip/crc32.h"
#include "zip/file_utils.h"
#include "zip/inflate.h"
#include "zip/unzip_reader.h"
#include "zip/wildcard.h"
#include "zip/zip_crypt.h"
#include "zip/zip_errors.h"

namespace zip {
namespace {

constexpr int kPercentMax = 100;
// An output file is written through a buffer of its own size, within these
// bounds: a file of up to 1 MB takes one write.
constexpr std::int64_t kLargestOutputBuffer = std::int64_t{1} << 20;

std::int32_t OutputBufferSize(std::uint64_t uncompressedSize) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      static_cast<std::int64_t>(std::min<std::uint64_t>(uncompressedSize, kLargestOutputBuffer)),
      kZipBufferSize, kLargestOutputBuffer));
}

int Percent(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 0;
  const auto p = static_cast<int>(std::llround(static_cast<double>(done) * 100.0 / total));
  return std::min(p, kPercentMax);
}

// The entry's stored bytes, decrypted when needed; a short read of the archive
// ends the data (the decoder then reports damage) or, when `strict`, raises
// EFatalUnzipError "Premature end of file reached".
class EntryInput : public DecodeInput {
 public:
  EntryInput(TStream& archive, std::int64_t stored, TZipCrypt* crypt, bool strict,
             std::function<void()> checkCancel)
      : archive_(archive),
        remaining_(stored),
        crypt_(crypt),
        strict_(strict),
        checkCancel_(std::move(checkCancel)) {}

  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    if (remaining_ <= 0 || n == 0) return 0;
    checkCancel_();
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(
        remaining_, static_cast<std::int64_t>(std::min<std::size_t>(n, kDecodeInputPiece))));
    const std::int32_t got = std::max(archive_.Read(buf, want), 0);
    if (got < want && strict_) throw EFatalUnzipError(kMsgPrematureEnd);
    remaining_ = got < want ? 0 : remaining_ - got;
    if (crypt_) crypt_->Decrypt(buf, static_cast<std::size_t>(got));
    return static_cast<std::size_t>(got);
  }

 private:
  TStream& archive_;
  std::int64_t remaining_;
  TZipCrypt* crypt_;
  bool strict_;
  std::function<void()> checkCancel_;
};

// Receives decoded bytes: guards the declared size, writes them (unless only
// testing), adds them to the CRC and reports progress.
class EntryOutput : public DecodeOutput {
 public:
  EntryOutput(TStream* file, std::uint32_t declared, std::uint32_t& crc,
              std::function<void(std::int64_t)> progress)
      : file_(file), declared_(declared), crc_(crc), progress_(std::move(progress)) {}

  void Write(const std::uint8_t* p, std::size_t n) override {
    if (written_ + n > declared_) throw EBiggerThanUncompressed(kMsgBiggerThanUncompressed);
    if (file_ && file_->Write(p, static_cast<std::int32_t>(n)) != static_cast<std::int32_t>(n)) {
      throw ECantWriteUCF(kMsgCantWriteUcf);
    }
    crc_ = Crc32Update(crc_, p, n);
    written_ += n;
    progress_(static_cast<std::int64_t>(n));
  }
  std::uint64_t Written() const { return written_; }

 private:
  TStream* file_;
  std::uint64_t declared_;
  std::uint32_t& crc_;
  std::function<void(std::int64_t)> progress_;
  std::uint64_t written_ = 0;
};

bool HasDotDotComponent(const std::string& path) {
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t cut = path.find('\\', from);
    if (cut == std::string::npos) cut = path.size();
    if (path.compare(from, cut - from, "..") == 0 && cut - from == 2) return true;
    from = cut + 1;
  }
  return false;
}

}  // namespace

bool TOrvUnZip::SelectEntry(const TZipHeaderInfo& entry) const {
  if (DoAll) return true;
  if (entry.IsDirectoryEntry() && !RecreateDirs) return false;
  const std::string name = LowerAscii(entry.FullName());
  for (const std::string& line : FilesList) {
    if (WildcardMatch(LowerAscii(line), name)) return true;
  }
  return false;
}

std::string TOrvUnZip::OutputPath(const TZipHeaderInfo& entry) const {
  std::string directory;
  if (RecreateDirs && !entry.Directory().empty()) {
    std::string part = entry.Directory();
    if (!rootDir_.empty() && StartsWithTextAscii(part, rootDir_)) part.erase(0, rootDir_.size());
    const bool rooted = !part.empty() && part[0] == '\\';
    const bool drive = part.size() >= 2 && part[1] == ':';
    if (part.empty() || (!rooted && !drive)) {
      directory = destDir_ + "\\" + part;
    } else if (destDir_.empty()) {
      directory = part;
    } else if (rooted) {
      directory = destDir_ + part;
    } else {
      directory = destDir_ + part.substr(2);
    }
  } else {
    directory = destDir_ + "\\";
  }
  if (destDir_.empty() && directory == "\\") directory.clear();
  return directory + entry.FileName();
}

bool TOrvUnZip::PathIsSafe(const TZipHeaderInfo& entry, const std::string& path) const {
  const std::string full = entry.FullName();
  if (HasDotDotComponent(full) || entry.FileName() == "." || entry.FileName() == "..") {
    return false;
  }
  // A colon is allowed only in a leading drive root ("C:\", which the output
  // path drops); anywhere else it names a stream or a drive-relative path.
  const std::size_t colon = full.find(':');
  if (colon != std::string::npos) {
    const bool driveRoot = colon == 1 && full.size() > 2 && full[2] == '\\';
    if (!driveRoot || full.find(':', colon + 1) != std::string::npos) return false;
  }
  std::string base = platform::FullPathName(destDir_.empty() ? std::string(".") : destDir_);
  if (base.empty() || base.back() != '\\') base += '\\';
  const std::string target = platform::FullPathName(path);
  return StartsWithTextAscii(target, base) && target.size() > base.size();
}

int TOrvUnZip::UnZip() {
  return Run(false);
}
int TOrvUnZip::TestZip() {
  return Run(true);
}

int TOrvUnZip::Run(bool testOnly) {
  busy_ = true;
  cancelRequested_ = false;
  const bool keepOpen = KeepZipOpen;
  int count = 0;
  const TZipSortMode mode = sortMode_;
  try {
    ReadZip();
    Open();
    decoder_ = std::make_unique<EntryDecoder>();
    if (!testOnly && !destDir_.empty()) EnsureDirectory(destDir_);
    TSortedZip* view = View();
    int numFiles = 0;
    totalBytes_ = 0;
    totalDone_ = 0;
    for (int i = 0; i < Count(); ++i) {
      TZipHeaderInfo& entry = *view->Item(i);
      entry.Selected = SelectEntry(entry) ? 1 : 0;
      if (entry.Selected) {
        ++numFiles;
        if (!entry.IsDirectoryEntry()) {
          totalBytes_ += static_cast<std::uint32_t>(entry.UncompressedSize);
        }
      }
    }
    bool stop = false;
    if (OnStartUnZipInfo) OnStartUnZipInfo(numFiles, totalBytes_, stop);
    if (numFiles > 0 && !stop) {
      for (int i = 0; i < Count(); ++i) {
        if (!DoAll && !view->Item(i)->Selected) continue;
        while (ExtractEntry(i, testOnly, count)) {
        }
      }
    }
  } catch (...) {
    decoder_.reset();
    FilesList.clear();
    sortMode_ = mode;
    RebuildView();
    if (OnUnZipComplete) OnUnZipComplete(count);
    KeepZipOpen = keepOpen;
    busy_ = false;
    cancelRequested_ = false;
    throw;
  }
  decoder_.reset();
  FilesList.clear();
  sortMode_ = mode;
  RebuildView();
  if (OnUnZipComplete) OnUnZipComplete(count);
  KeepZipOpen = keepOpen;
  busy_ = false;
  cancelRequested_ = false;
  Close();
  return count;
}

void TOrvUnZip::EnsureDirectory(const std::string& dir) {
  if (KnownDirectories != nullptr) {
    KnownDirectories->Ensure(dir);
  } else if (!DirExists(dir)) {
    ForceDirectories(dir);
  }
}

bool TOrvUnZip::ExtractEntry(int index, bool testOnly, int& count) {
  const TZipHeaderInfo entry = *View()->Item(index);
  const std::string shownName = entry.FullName();
  if (!entry.IsDirectoryEntry() && !SeekEntryData(entry)) {
    Message("No local header for " + shownName + ": entry skipped");
    Skip(TSkipReason::srUnsupported, shownName, index);
    return false;
  }
  std::string path = OutputPath(entry);
  if (!testOnly && !PathIsSafe(entry, path.empty() ? std::string(".") : path)) {
    Message("Unsafe path " + shownName + ": it would be written outside " +
            (destDir_.empty() ? std::string("the current directory") : destDir_) +
            "; entry skipped");
    Skip(TSkipReason::srCreateError, shownName, index);
    return false;
  }
  // A symbolic link below DestDir that leads outside it is never written
  // through. A file directly in DestDir is checked only when its name exists:
  // a file made new (create-new, which never follows a link) cannot be one.
  const auto linkLeadsOutside = [&](const std::string& target) {
    if (platform::LinksStayWithin(target.empty() ? std::string(".") : target,
                                  destDir_.empty() ? std::string(".") : destDir_)) {
      return false;
    }
    Message("Unsafe path " + shownName + ": a symbolic link in " +
            (destDir_.empty() ? std::string("the current directory") : destDir_) +
            " leads outside it; entry skipped");
    Skip(TSkipReason::srCreateError, shownName, index);
    return true;
  };
  const bool directlyInDestDir =
      !entry.IsDirectoryEntry() &&
      ExtractFilePath(path) == (destDir_.empty() ? std::string() : destDir_ + "\\");
  if (!testOnly && !directlyInDestDir && linkLeadsOutside(path)) return false;
  if (entry.IsDirectoryEntry()) {
    if (!testOnly && RecreateDirs && !path.empty() && !DirExists(path)) ForceDirectories(path);
    ++count;
    return false;
  }
  if (!testOnly) {
    bool skip = false;
    if (OnStartUnZip) OnStartUnZip(index, path, skip);
    if (skip) return false;
    const std::string outDir = ExtractFilePath(path);
    if (!outDir.empty()) EnsureDirectory(outDir);
  }

  // The password header of an encrypted entry.
  std::unique_ptr<TZipCrypt> crypt;
  std::int64_t stored = static_cast<std::uint32_t>(entry.CompressedSize);
  if (entry.Encrypted() && stored < kEncryptionHeaderSize) {
    // Its data would be read from whatever follows it.
    Message("Entry " + shownName + " is damaged: its compressed size (" + std::to_string(stored) +
            ") cannot hold its encryption header");
    if (OnBadCRC) OnBadCRC(~kCrc32Initial, entry.CRC32, index);
    return false;
  }
  if (entry.Encrypted()) {
    std::array<std::uint8_t, kEncryptionHeaderSize> header{};
    if (!archive_->ReadExact(header.data(), kEncryptionHeaderSize)) {
      throw EFatalUnzipError(kMsgPrematureEnd);
    }
    const auto check = static_cast<std::uint8_t>(
        entry.HasDataDescriptor() ? (entry.LastModFileDate >> 8) & 0xFF : entry.CRC32 >> 24);
    crypt = std::make_unique<TZipCrypt>(Password);
    if (!crypt->CheckHeader(header.data(), check)) {
      std::string newPassword;
      if (OnBadPassword) OnBadPassword(index, newPassword);
      if (!newPassword.empty()) {
        Password = newPassword;
        return true;
      }
      Message("Wrong password for " + shownName + ": entry skipped");
      Skip(TSkipReason::srBadPassword, shownName, index);
      return false;
    }
    stored -= kEncryptionHeaderSize;
  }

  // The output file. Unless every existing file is replaced, a new one is
  // made at once (one look-up of the name); only a name that exists goes the
  // way of the question.
  std::unique_ptr<TLFNFileStream> out;
  const std::int32_t bufferSize =
      OutputBufferSize(static_cast<std::uint32_t>(entry.UncompressedSize));
  if (!testOnly && OverwriteMode != TUZOverwriteMode::Always) {
    try {
      out = std::make_unique<TLFNFileStream>(path, bufferSize, FlushFilesOnClose,
                                             TFileMode::kCreateNew);
    } catch (const EFOpenError&) {
      // Exists, or cannot be made: decided below as before.
    }
  }
  if (!testOnly && !out) {
    if (directlyInDestDir && linkLeadsOutside(path)) return false;
    if (OverwriteMode != TUZOverwriteMode::Always && platform::FileExists(path)) {
      bool overwrite = false;
      switch (OverwriteMode) {
        case TUZOverwriteMode::Prompt:
          if (OnPromptForOverwrite) {
            OnPromptForOverwrite(overwrite, index, path);
          } else {
            overwrite = platform::Ui().MessageBox(
                            "Replace existing file " + entry.FileName() + "?", "File Exists Alert",
                            platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                            platform::MsgResult::No) == platform::MsgResult::Yes;
          }
          break;
        case TUZOverwriteMode::ifNewer:
        case TUZOverwriteMode::ifOlder: {
          const auto existing = FileDosDateTime(path);
          const std::int64_t mine = DosDateTimeToTime(entry.LastModFileDate);
          const std::int64_t theirs = existing ? DosDateTimeToTime(*existing) : 0;
          overwrite = OverwriteMode == TUZOverwriteMode::ifNewer ? mine > theirs : mine < theirs;
          break;
        }
        default:
          break;
      }
      if (!overwrite) {
        Skip(TSkipReason::srNoOverwrite, path, index);
        return false;
      }
    }
    bool retriedDirectory = false;
    bool retriedReadOnly = false;
    while (!out) {
      try {
        out = std::make_unique<TLFNFileStream>(path, bufferSize, FlushFilesOnClose,
                                               TFileMode::kCreate);
      } catch (const EFOpenError& e) {
        const std::uint32_t attributes = platform::GetFileAttributes(path);
        if (!retriedReadOnly && ReplaceReadOnly && attributes != platform::kInvalidFileAttributes &&
            (attributes & platform::kAttrReadOnly) != 0) {
          retriedReadOnly = true;
          platform::SetFileAttributes(path, attributes & ~platform::kAttrReadOnly);
          continue;
        }
        // A directory taken as existing may have gone or been replaced
        // since: test (and make) it again, once.
        const std::string outDir = ExtractFilePath(path);
        if (!retriedDirectory && KnownDirectories != nullptr && !outDir.empty() &&
            KnownDirectories->Forget(outDir)) {
          retriedDirectory = true;
          EnsureDirectory(outDir);
          continue;
        }
        Message(std::string(e.what()) + ": entry " + shownName + " skipped");
        Skip(TSkipReason::srCreateError, path, index);
        return false;
      }
    }
  }

  // Decode.
  crc_ = kCrc32Initial;
  std::int64_t fileDone = 0;
  const std::int64_t fileTotal = static_cast<std::uint32_t>(entry.UncompressedSize);
  auto progress = [&](std::int64_t n) {
    fileDone += n;
    totalDone_ += n;
    if (OnFilePercentDone) OnFilePercentDone(Percent(fileDone, fileTotal));
    if (OnTotalPercentDone) OnTotalPercentDone(Percent(totalDone_, totalBytes_));
  };
  const bool deflated = entry.CompressionMethod == kMethodDeflated;
  EntryInput input(*archive_, stored, crypt.get(), !deflated, [this] { CheckCancel(); });
  EntryOutput output(out.get(), static_cast<std::uint32_t>(entry.UncompressedSize), crc_, progress);
  bool completed = true;
  bool failed = false;
  if (!IsSupportedMethod(entry.CompressionMethod)) {
    platform::Ui().MessageBox("Unknown Compression Method", "Zip Error", platform::MsgButtons::Ok,
                              platform::MsgIcon::Error, platform::MsgResult::Ok);
    Message("Unknown compression method " + std::to_string(entry.CompressionMethod) + " in " +
            shownName);
    failed = true;
  } else {
    DecodeParams params;
    params.method = entry.CompressionMethod;
    params.flagBits = entry.Flag;
    params.uncompressedSize = static_cast<std::uint32_t>(entry.UncompressedSize);
    try {
      failed = decoder_->Decode(params, input, output) != DecodeStatus::kOk;
    } catch (const EBiggerThanUncompressed&) {
      completed = false;
    } catch (const EUserCanceled&) {
      out.reset();
      if (!testOnly) platform::DeleteFile(path);
      throw;
    } catch (const EZipError&) {
      if (!deflated) {
        // The output is incomplete: do not leave it behind.
        out.reset();
        if (!testOnly) platform::DeleteFile(path);
        throw;
      }
      failed = true;  // inside a deflate stream the damage just ends decoding
    }
  }
  if (out && !out->FlushBuffer()) failed = true;
  // Less output than declared is damage as much as more (which raised above).
  const bool shortOutput = completed && !failed && IsSupportedMethod(entry.CompressionMethod) &&
                           output.Written() != static_cast<std::uint32_t>(entry.UncompressedSize);
  if (shortOutput) failed = true;

  const std::uint32_t calculated = ~crc_;
  if (completed && !failed && calculated == entry.CRC32) {
    if (!testOnly) {
      // Time and attributes through the open handle, after the last write.
      platform::File& file = out->File().Handle();
      file.SetDosTime(ValidateDosDateTime(entry.LastModFileDate));
      if (RetainAttributes) {
        file.SetAttributes(entry.ExternalFileAttributes & 0xFF & ~kZipAttrDirectory);
      }
      out.reset();
      if (OnEndUnZip) OnEndUnZip(index, path);
    }
    ++count;
    return false;
  }
  out.reset();
  if (!testOnly) platform::DeleteFile(path);
  if (shortOutput) {
    // The password was right (its header checked): this is damage.
    Message("Entry " + shownName + " is damaged: it decodes to " +
            std::to_string(output.Written()) + " bytes, not its declared " +
            std::to_string(static_cast<std::uint32_t>(entry.UncompressedSize)));
    if (OnBadCRC) OnBadCRC(calculated, entry.CRC32, index);
    return false;
  }
  if (entry.Encrypted() && OnBadPassword) {
    std::string newPassword;
    OnBadPassword(index, newPassword);
    if (!newPassword.empty()) {
      Password = newPassword;
      return true;
    }
  }
  if (entry.Encrypted()) {
    Skip(TSkipReason::srBadPassword, shownName, index);
    return false;
  }
  if (!completed) {
    Message("Entry " + shownName + " is damaged: it is larger than its declared size");
  } else if (failed && IsSupportedMethod(entry.CompressionMethod)) {
    Message("Entry " + shownName + " has damaged data");
  }
  if (OnBadCRC) OnBadCRC(calculated, entry.CRC32, index);
  return false;
}

}  // namespace zip
