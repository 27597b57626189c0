// TOrvUnZip: the reading component. It names an archive (ZipName), loads its
// directory (ReadZip; see dir_load.h), selects entries by the wildcard
// patterns in FilesList and extracts them below DestDir (UnZip), checking
// each entry's CRC-32 and restoring its date-time and attributes.
//
// A problem with one entry (the output file exists, cannot be created, has a
// wrong CRC, a wrong password, an unsafe name) is reported through an event
// and the entry is skipped; whole-operation failures raise the exceptions of
// zip_errors.h. Everything runs on the calling thread; with DoProcessMessages
// the user interface processes its messages while a run is busy
// (platform::Ui()), which is how a cancel request arrives.
//
// Safety: an entry whose output path would lie outside DestDir (a ".."
// component, an absolute or drive path where DestDir is empty, a ':' inside a
// name) is never written; it is skipped with reason 3 and reported through
// OnZipMessage.
//
// Invariants between operations: the directory is either not loaded (null) or
// holds the archive as it was when its file date-time and size were recorded;
// the archive file is closed unless KeepZipOpen is set.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/known_directories.h"
#include "zip/buffered_stream.h"
#include "zip/dir_load.h"
#include "zip/sorted_zip.h"
#include "zip/zip_records.h"

namespace zip {

class EntryDecoder;

enum class TUZOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };

// Why an entry or a file was skipped.
enum class TSkipReason {
  srBadPassword = 0,    // wrong password for an encrypted entry
  srNoOverwrite = 1,    // output file not replaced; (writer) name already in the archive
  srFileOpenError = 2,  // (writer) source file cannot be opened
  srCreateError = 3,    // output file cannot be created, or its path is unsafe
  srUnsupported = 4,    // the entry's data cannot be read (no local header, zip64 entry)
};

class TOrvUnZip {
 public:
  static constexpr int kThisVersion = 222;

  TOrvUnZip();
  virtual ~TOrvUnZip();
  TOrvUnZip(const TOrvUnZip&) = delete;
  TOrvUnZip& operator=(const TOrvUnZip&) = delete;

  // ---- Properties ----
  int ThisVersion() const { return kThisVersion; }
  const std::string& ZipName() const { return zipName_; }
  // A name equal to the current one (ignoring case) changes nothing; any
  // other resets the reader (directory dropped, archive closed).
  virtual void SetZipName(std::string_view name);
  const std::string& DestDir() const { return destDir_; }
  void SetDestDir(std::string_view dir);  // kept without a trailing backslash
  const std::string& RootDir() const { return rootDir_; }
  void SetRootDir(std::string_view dir);  // kept with a trailing backslash
  TZipSortMode SortMode() const { return sortMode_; }
  void SetSortMode(TZipSortMode mode);

  bool RecreateDirs = false;
  TUZOverwriteMode OverwriteMode = TUZOverwriteMode::Prompt;
  // Patterns selecting entries (reader) or files to add (writer).
  std::vector<std::string> FilesList;
  bool DoAll = false;
  TIncompleteZipMode IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
  bool KeepZipOpen = false;
  bool DoProcessMessages = true;
  // Another thread asks a run on a worker thread (DoProcessMessages off) to
  // stop: checked at every point a cancel is, it raises EUserCanceled too.
  const std::atomic<bool>* StopSignal = nullptr;
  bool RetainAttributes = true;
  bool ReplaceReadOnly = false;
  bool FlushFilesOnClose = false;
  // Directories that extraction may take as existing (made or found earlier
  // by the owner of the set, which decides how long it lives; see
  // platform/known_directories.h). Extraction adds the directories it makes
  // or finds, and forgets one in which an output file cannot be created
  // before trying again. Null: every extraction tests its directories.
  platform::KnownDirectories* KnownDirectories = nullptr;
  // Password of traditional zip encryption (empty: none).
  std::string Password;

  // ---- Events ----
  std::function<void(int numFiles, std::int64_t totalBytes, bool& stopNow)> OnStartUnZipInfo;
  std::function<void(int fileIndex, std::string& fileName, bool& skip)> OnStartUnZip;
  std::function<void(int fileIndex, const std::string& fileName)> OnEndUnZip;
  std::function<void(int fileCount)> OnUnZipComplete;
  std::function<void(bool& overwriteIt, int fileIndex, std::string& fileName)> OnPromptForOverwrite;
  std::function<void(TSkipReason reason, const std::string& fileName, int fileIndex, bool& retry)>
      OnSkippingFile;
  std::function<void(int fileIndex, std::string& newPassword)> OnBadPassword;
  std::function<void(std::uint32_t calcCrc, std::uint32_t storedCrc, int fileIndex)> OnBadCRC;
  std::function<void(TIncompleteZipMode& mode)> OnInCompleteZip;
  std::function<void(int percent)> OnFilePercentDone;
  std::function<void(int percent)> OnTotalPercentDone;
  // Explanations of skipped entries and other notices, in English.
  std::function<void(const std::string& message)> OnZipMessage;

  // ---- Operations ----
  // Loads the directory. An archive without an end record leaves an empty
  // directory (unless OnInCompleteZip changes the mode); other failures reset
  // the reader, clear ZipName and propagate.
  void ReadZip();
  // Extracts the selected entries; returns the number extracted.
  int UnZip();
  // Decodes every entry (all, or those FilesList selects) and checks its CRC
  // without writing anything; returns the number that passed.
  int TestZip();
  // Reads the archive from memory instead of a file (ZipName becomes
  // "(memory)"; setting ZipName returns to files). The writer writes new
  // archives into memory with ZipToMemory, never updates one held there.
  void UseMemoryArchive(std::vector<std::uint8_t> bytes);
  // Asks the running operation to stop at its next check (EUserCanceled).
  void Cancel() { cancelRequested_ = true; }

  // Number of entries in the loaded directory (0 when none is loaded).
  int Count() const;
  // Entry i of the current view; EListError "Index %d is out of range".
  const TZipHeaderInfo& Entry(int index) const;
  std::string FileName(int index) const;  // directory part + file name part
  std::uint32_t DosDateTime(int index) const;
  std::time_t DateTime(int index) const;
  std::string FileComment(int index);
  std::string ZipComment();
  void SetZipComment(std::string_view comment);

  // Opens the archive (loading the directory when needed) and closes it.
  void Open();
  void Close();
  bool Busy() const { return busy_; }

 protected:
  // The entries in the view's order (the directory itself for ByNone).
  TSortedZip* View() const;
  void RebuildView();
  // Drops the directory, closes the archive and clears the end record.
  void Reset();
  void CloseArchive();
  void CreateArchiveStream();
  // Processes pending messages and raises EUserCanceled on a cancel request.
  void CheckCancel();
  void Message(const std::string& text);
  bool Skip(TSkipReason reason, const std::string& name, int index);
  void RecordArchiveStamp();
  bool ArchiveChanged() const;
  // Loads the comment of an entry from the archive when not yet loaded.
  void LoadEntryComment(TZipHeaderInfo& entry);
  // The archive stream positioned at the entry's data (behind its local
  // header); false when no local header is where the directory says.
  bool SeekEntryData(const TZipHeaderInfo& entry);

  std::string zipName_;
  std::string destDir_;
  std::string rootDir_;
  TZipSortMode sortMode_ = TZipSortMode::ByNone;
  TZipDirectory dir_;
  std::unique_ptr<TSortedZip> view_;  // non-owning; null for ByNone
  std::unique_ptr<TStream> archive_;  // buffered file, or the memory archive
  std::optional<std::vector<std::uint8_t>> memoryArchive_;
  std::optional<std::pair<std::uint32_t, std::uint64_t>> stamp_;  // date-time, size
  bool busy_ = false;
  bool cancelRequested_ = false;
  std::uint32_t crc_ = 0xFFFFFFFF;  // the running CRC register

 private:
  int Run(bool testOnly);
  // Extracts entry `index` of the view; true when it should be tried again
  // (a new password was given).
  bool ExtractEntry(int index, bool testOnly, int& count);
  std::string OutputPath(const TZipHeaderInfo& entry) const;
  bool PathIsSafe(const TZipHeaderInfo& entry, const std::string& path) const;
  bool SelectEntry(const TZipHeaderInfo& entry) const;
  // Makes sure the output directory exists (see KnownDirectories).
  void EnsureDirectory(const std::string& dir);

  std::unique_ptr<EntryDecoder> decoder_;
  std::int64_t totalBytes_ = 0;
  std::int64_t totalDone_ = 0;
};

}  // namespace zip
