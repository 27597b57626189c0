// The source tree walk; see source_scan.h for the order it keeps.
#include "app/core/source_scan.h"

#include <algorithm>
#include <optional>

#include "platform/file_ops.h"
#include "platform/find.h"

namespace app {

namespace {

constexpr char kBackslash = '\\';
constexpr std::string_view kAllEntriesPattern = "\\*";

bool IsDotEntry(const std::string& name) {
  return name == "." || name == "..";
}

}  // namespace

void FreeFileList(std::unique_ptr<TFileList>& list) {
  if (!list) return;
  while (!list->empty()) list->pop_back();  // last to first
  list.reset();
}

void TreeScanner::ScanDirectory(const std::string& dir) {
  // The canonical name recognises a directory reached again through a link.
  std::optional<std::string> canonical = platform::UniversalName(dir);
  if (canonical) {
    if (std::find(ancestors_.begin(), ancestors_.end(), *canonical) != ancestors_.end()) return;
    ancestors_.push_back(*canonical);
  }

  platform::DirectorySearch search;
  platform::FindData entry;
  if (search.First(dir + std::string(kAllEntriesPattern), kScanListMask, entry)) {
    do {
      ScanEntry(entry, dir);
    } while (search.Next(entry));
    search.Close();
  }

  if (canonical) ancestors_.pop_back();
}

void TreeScanner::ScanEntry(const platform::FindData& entry, const std::string& dir) {
  if (exclude_ && !IsDotEntry(entry.name) && exclude_(dir + kBackslash + entry.name)) return;
  if ((entry.attributes & platform::kAttrDirectory) != 0) {
    if (!IsDotEntry(entry.name)) ScanDirectory(dir + kBackslash + entry.name);
    return;
  }
  AddFileData(entry, dir);
}

void TreeScanner::AddFileData(const platform::FindData& entry, const std::string& dir) {
  auto record = std::make_unique<TFileDatas>();
  record->Path = dir + kBackslash;
  record->Time = static_cast<std::int32_t>(entry.dosTime);
  record->Name = entry.name;
  list_.push_back(std::move(record));
}

void ScanTree(TFileList& list, const std::string& root,
              const std::function<bool(std::string_view)>& exclude) {
  TreeScanner scanner(list, exclude);
  scanner.ScanDirectory(root);
}

std::int32_t GetFileSize(std::string_view path) {
  platform::DirectorySearch search;
  platform::FindData entry;
  std::int32_t size = 0;
  if (search.First(path, kFileSizeSearchMask, entry)) {
    // The low 32 bits of the length, read as a signed 32-bit integer.
    size = static_cast<std::int32_t>(static_cast<std::uint32_t>(entry.size & 0xFFFFFFFFu));
  }
  search.Close();
  return size;
}

}  // namespace app
