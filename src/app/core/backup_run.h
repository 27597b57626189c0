// The backup run behind btnStart: one catalog row per scanned file, in one of
// three modes fixed by the settings.
//
//   new backup files   FNewBackupDir set: every file is inserted into
//                      Back.Dat, continuing into Back1.Dat, ... when the size
//                      limit is passed;
//   in place           FTargetFile set: files missing from the backup file
//                      are inserted, files newer than their row replace it;
//   to a dated file    FTargetFile set and BackNewFile: a new dated backup
//                      file receives new and changed files and a row without
//                      content for every unchanged one.
//
// With compression into new backup files, worker threads compress the next
// files into archives in memory ahead of the run (compress_pipeline.h); the
// run takes them in list order and does everything else as it would without
// them, at the same points.
//
// Work is grouped into transactions on DBDatabase: a commit after the 1st,
// 11th, 21st, ... file, or when more than 20 MB were counted since the last
// one. An error ends the run: the open transaction is rolled back, rows
// committed before stay, and the failure message names the error.
//
// Sizes and totals are 64-bit. A file of 2 GiB or more cannot be a BLOB, and
// a FileName or Path longer than the catalog's 250 bytes would be cut by the
// engine: both are errors naming the file, never a damaged row.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/core/backup_application.h"
#include "app/core/catalog.h"
#include "app/core/compress_pipeline.h"
#include "app/core/compressed_storage.h"

namespace app {

// Commit cadence: every kCommitEveryFiles files (from the first), or after
// more than kCommitAfterMegabytes counted since the last commit.
inline constexpr int kCommitEveryFiles = 10;
inline constexpr double kCommitAfterMegabytes = 20.0;
inline constexpr double kBytesPerMegabyte = 1048576.0;
// A size limit switches files kLimitMarginMB before it; a limit below the
// margin switches after kSmallLimitThresholdMB.
inline constexpr std::int32_t kLimitMarginMB = 5;
inline constexpr std::int32_t kSmallLimitThresholdMB = 2;
// A BLOB holds less than 2 GiB.
inline constexpr std::uint64_t kMaxBlobBytes = 0x7FFFFFFFu;
// stStat: one line up to kOneLineStatusBytes bytes of the single-byte code
// page, two lines above that.
inline constexpr std::size_t kOneLineStatusBytes = 56;
inline constexpr int kStatusOneLineHeight = 24;
inline constexpr int kStatusTwoLineHeight = 35;
// How often a run waiting for another program's write lock tries again.
inline constexpr int kLockPollMilliseconds = 50;

// The width of a text in the single-byte code page the window was designed
// for: one byte per ASCII character, two per other character.
std::size_t CodePageWidth(std::string_view text);
// The switch threshold of a limit in megabytes.
std::int32_t SwitchThreshold(std::int32_t limitMB);

class TBackupRun {
 public:
  TBackupRun(MainState& state, MainView& view, TDataModuleRx& rx, TCompressedStorage& storage)
      : state_(state), view_(view), rx_(rx), storage_(storage) {}
  // Runs over the scanned list (not empty); true when the last commit ran.
  bool Execute();

 private:
  void BeginTransaction();
  void CommitAndRestart();
  void StoreFile(int i);
  bool WriteFile(int i, const TFileDatas& file, const std::string& source);
  // Takes the archive of file i from the workers into archive_, raising the
  // file's error where compressing it would have raised it; its size.
  std::uint64_t TakeArchive(int i, const std::string& source);
  // A file about to be stored must still exist and be below 2 GiB.
  void CheckStorable(const std::string& source, const std::string& stored);
  void ShowResult(bool ok, const std::string& error);

  MainState& state_;
  MainView& view_;
  TDataModuleRx& rx_;
  TCompressedStorage& storage_;
  int n_ = 0;
  std::int32_t threshold_ = 0;
  std::uint64_t sinceSwitch_ = 0;
  std::uint64_t sinceCommit_ = 0;
  std::int64_t written_ = 0;
  std::unique_ptr<TCompressPipeline> pipeline_;  // compressing ahead, when it does
  std::vector<std::uint8_t> archive_;            // the archive taken for the current file
};

}  // namespace app
