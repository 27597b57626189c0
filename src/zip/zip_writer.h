// TOrvZip: the writing component. Given full paths (or wildcard lines) in
// FilesList, Zip() creates the archive ZipName, or updates the existing one,
// compressing each file with deflate (or storing it).
//
// New archive: written directly under ZipName. Existing archive: a new archive
// is written to a temporary file ("ZTF....tmp" in TempPath, else the system's
// temporary directory), the old entries are copied over (or replaced by newer
// files), and the temporary archive then replaces ZipName; the old archive is
// never touched before the new one is complete. On any failure the file being
// written is deleted and the exception propagates. With OverwriteArchive an
// existing archive is not updated: its file is written over from the start
// and cut to the new archive's length, its old entries dropped.
//
// Entry layout: local header with placeholder CRC and sizes, the data (12-byte
// encryption header first when a password is set), then the local header is
// rewritten in place with the final values; no data descriptor is written.
// After all entries come the central directory (in physical order) and the
// end record.
//
// Stored name of C:\dir\sub\file.txt: "file.txt" by default; "dir\sub\" +
// "file.txt" with StorePaths; relative to RootDir with RelativePaths; with the
// drive kept with StoreVolumes.
//
// ZipToMemory writes a new archive into memory instead of ZipName: the same
// bytes Zip() would write into a new file, and no file is touched but the
// sources. A writer whose events and settings are its own may run on a
// worker thread this way, with DoProcessMessages off (StopSignal stops it).
//
// Multi-disk volumes, updating memory archives and self-extracting prefixes
// are not supported: a MultiZipInfo mode other than mmNone raises
// EZipNotSupported.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zip/unzip_reader.h"

namespace zip {

class DeflateCompressor;

enum class TZipAction { zaUpdate = 0, zaReplace = 1, zaFreshen = 2 };
enum class TMultiMode { mmNone = 0, mmSpan = 1, mmBlocks = 2 };

struct TMultiZipInfo {
  std::int32_t BlockSize = 1457600;       // bytes per volume (a 1.44 MB diskette)
  std::int32_t FirstBlockSize = 1457600;  // bytes on the first volume
  std::int32_t SaveOnFirstDisk = 0;       // bytes kept free on the first disk
  bool SaveZipInfoOnFirstDisk = false;
  TMultiMode MultiMode = TMultiMode::mmNone;
  bool CheckDiskLabels = true;
  bool WriteDiskLabels = true;
};

// What OnUpdate reports for an existing entry that matched a file.
enum TUpdateAction { kUpdateReplacing = 0, kUpdateKeeping = 1 };

class TOrvZip : public TOrvUnZip {
 public:
  static constexpr int kDefaultPackLevel = 6;
  static constexpr int kMaxPackLevel = 9;

  TOrvZip();
  ~TOrvZip() override;

  // Saves a pending comment change of the current archive first.
  void SetZipName(std::string_view name) override;

  // ---- Properties ----
  int PackLevel() const { return packLevel_; }
  void SetPackLevel(int level);  // std::invalid_argument outside 0-9
  bool StorePaths() const { return storePaths_; }
  void SetStorePaths(bool value);  // False also clears StoreVolumes and RelativePaths
  bool StoreVolumes() const { return storeVolumes_; }
  void SetStoreVolumes(bool value);  // True also sets StorePaths
  bool RelativePaths() const { return relativePaths_; }
  void SetRelativePaths(bool value);  // True also sets StorePaths and Recurse

  bool Recurse = false;
  bool Dispose = false;
  TZipAction ZipAction = TZipAction::zaUpdate;
  TMultiZipInfo MultiZipInfo;
  bool Store83Names = false;
  std::string TempPath;
  bool SkipIfArchiveBitNotSet = false;
  bool ResetArchiveBitOnZip = false;
  std::vector<std::string> ExcludeList;
  std::vector<std::string> NoCompressList;
  bool AddDirEntriesOnRecurse = false;
  // Writes over an existing archive instead of updating it. The file is
  // reused rather than deleted and created anew, which spares the file
  // system freeing and allocating it for a scratch archive written per file.
  bool OverwriteArchive = false;

  // ---- Events ----
  std::function<void(int numFiles, std::int64_t totalBytes, TEndCentral& endCentral, bool& stopNow)>
      OnStartZipInfo;
  std::function<void(const std::string& fileName, TZipHeaderInfo& header, bool& skip)> OnStartZip;
  std::function<void(const std::string& fileName, std::int32_t uncompressedSize,
                     std::int32_t compressedSize, std::int32_t currentZipSize)>
      OnEndZip;
  std::function<void(int fileCount)> OnZipComplete;
  std::function<void(const std::string& fileName)> OnNoSuchFile;
  std::function<void(const std::string& fileName)> OnRecursingFile;
  std::function<void(int action, int fileIndex)> OnUpdate;
  std::function<void(const std::string& fileName, bool& skip)> OnDisposeFile;

  // ---- Operations ----
  // Adds FilesList to ZipName; returns the number of files added (entries kept
  // from an existing archive do not count). Clears FilesList.
  int Zip();
  // Writes FilesList as a new archive into `archive` (replacing its bytes,
  // writing into its capacity first); returns the number of files added.
  // ZipName is neither read nor written.
  int ZipToMemory(std::vector<std::uint8_t>& archive);

  // The stored name (directory part, file name part) of a file path under the
  // current settings.
  std::pair<std::string, std::string> StoredNameParts(std::string_view path) const;

 private:
  struct Run;
  void ExpandFilesList(Run& run);
  bool Excluded(const std::string& path) const;
  bool NoCompress(const std::string& path) const;
  bool AddFile(Run& run, const std::string& line, TZipHeaderInfo& header);
  void CopyEntry(Run& run, const TZipHeaderInfo& old, TZipHeaderInfo& header);
  void CarryOverEntries(Run& run);
  void AddToLists(Run& run, std::unique_ptr<TZipHeaderInfo> header);

  TStream* memoryOut_ = nullptr;  // set while ZipToMemory runs
  int packLevel_ = kDefaultPackLevel;
  bool storePaths_ = false;
  bool storeVolumes_ = false;
  bool relativePaths_ = false;
};

}  // namespace zip
