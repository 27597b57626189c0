// Every text the backup application shows to its user, in one place.
//
// The window speaks Traditional Chinese; the texts are UTF-8 and are used
// exactly as they stand (trailing blanks included) by both the window and the
// application core, so that a caption and the test that checks it cannot drift
// apart.
#pragma once

#include <string_view>

namespace app::texts {

// Main window.
inline constexpr std::string_view kWindowCaption = "備份程式";
inline constexpr std::string_view kPageBackup = "備份";
inline constexpr std::string_view kPageRestore = "回覆";
inline constexpr std::string_view kPageHelp = "說明";
inline constexpr std::string_view kSetButton = "設定";
inline constexpr std::string_view kSourceDirLabel = "備份目錄";
inline constexpr std::string_view kSizeLimitLabel = "設定備份檔案大小";
inline constexpr std::string_view kTargetFileLabel = "指定備份檔案";
inline constexpr std::string_view kCompressCheck = "使用壓縮備份";
inline constexpr std::string_view kBackNewFileCheck = "將有異動的檔案備份至新檔";
inline constexpr std::string_view kBackFileNameLabel = "指定備份檔名";
inline constexpr std::string_view kNewBackupDirLabel = "備份檔案存放位置";
inline constexpr std::string_view kStartButton = "執行備份";
inline constexpr std::string_view kRestoreButton = "執行回覆";
inline constexpr std::string_view kRestoreDirLabel = "回寫目錄";
inline constexpr std::string_view kBlankStatus = "   ";

// Values shown for settings.
inline constexpr std::string_view kNoSizeLimit = "不限定";
inline constexpr std::string_view kMegabyteSuffix = " MB";
inline constexpr std::string_view kNoTargetFile = "不指定";
inline constexpr std::string_view kDefaultBackFileName = "Back";
inline constexpr std::string_view kEmptyBackFileName = "BACK";

// The file-open dialog: one entry that shows and matches .dat files.
inline constexpr std::string_view kBackupFileFilter = "*.dat|*.dat";

// Run frame.
inline constexpr std::string_view kElapsedPrefix = "共費時 : ";
inline constexpr std::string_view kUnknownError = "發生不明的錯誤。";

// Backup run (the trailing blanks belong to the texts).
inline constexpr std::string_view kBackupProcessing = "正在處理: ";
inline constexpr std::string_view kBackupWriting = " 寫入中 ";
inline constexpr std::string_view kBackupCompressing = " 正在壓縮檔案 ";
inline constexpr std::string_view kBackupDone = "完成了,萬歲!!";
inline constexpr std::string_view kBackupDoneCountPrefix = "完成了,萬歲!! 共更新 ";
inline constexpr std::string_view kBackupDoneCountSuffix = " 個檔";
inline constexpr std::string_view kBackupFailed = "過程中發生錯誤沒有成功!!!";
// Errors of one file that the engine would not report as such.
inline constexpr std::string_view kNameTooLong = "名稱超過 250 個字元,無法備份: ";
inline constexpr std::string_view kFileTooLarge = "檔案大於 2 GB,無法備份: ";
inline constexpr std::string_view kFileVanished = "檔案已不存在,無法備份: ";
inline constexpr std::string_view kCannotRead = "無法讀取檔案: ";
inline constexpr std::string_view kBackupFileLocked = "備份檔案正由其他程式使用中: ";

// Restore run.
inline constexpr std::string_view kCountSeparator = " / ";
inline constexpr std::string_view kRestoreProcessing = " 回存處理: ";
inline constexpr std::string_view kRestoreWriting = " 回寫中.. ";
inline constexpr std::string_view kRestoreExpanding = " 解壓縮中 : ";
inline constexpr std::string_view kRestoreExpanded = "回寫中.. ";
inline constexpr std::string_view kRestoreDonePrefix = "完成了你成功了~~恭喜 共: ";
inline constexpr std::string_view kRestoreDoneSuffix = "筆";
inline constexpr std::string_view kRestoreDamaged = "備份資料已損壞,無法回存: ";
inline constexpr std::string_view kRestoreNotReplaced = "檔案已存在,沒有覆蓋: ";
inline constexpr std::string_view kRestoreNoDirectory = "無法建立目錄: ";
inline constexpr std::string_view kCannotWrite = "無法寫入檔案: ";
inline constexpr std::string_view kRestoreBadPath = "備份資料的路徑無效,無法回存: ";

// Size dialog.
inline constexpr std::string_view kSizeDialogCaption = "檔案大小設定";
inline constexpr std::string_view kSizePresetNone = "不限定";
inline constexpr std::string_view kSizePreset640 = "640MB";
inline constexpr std::string_view kSizePreset700 = "700MB";
inline constexpr std::string_view kSizePresetCustom = "自行設定";
inline constexpr std::string_view kSizeDialogOk = "確 定";

// Directory dialog.
inline constexpr std::string_view kDirDialogCaption = "設定目錄";
inline constexpr std::string_view kDirDialogOk = "確  定";

}  // namespace app::texts
