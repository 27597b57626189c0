// TOrvZip: expanding FilesList and computing stored names.
//
// Expansion, line by line: a line ending in a backslash is a directory entry
// and stays; a line with wildcards (* < > ? |) is searched afterwards; any
// other line is made absolute against RootDir and kept unless ExcludeList
// matches it, the file does not exist (OnNoSuchFile), its archive attribute is
// clear (SkipIfArchiveBitNotSet) or, with zaFreshen, the archive has no entry
// of its stored name. A wildcard line may start with "|" (never recurse) or
// ">" (always recurse); its matches (the archive itself excepted) are
// appended in search order.
#include <set>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "zip/dir_search.h"
#include "zip/file_utils.h"
#include "zip/wildcard.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"
#include "zip/zip_writer_run.h"

namespace zip {
namespace {

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& path) {
  const std::string lowerPath = LowerAscii(path);
  const std::string lowerName = LowerAscii(ExtractFileName(path));
  for (const std::string& pattern : patterns) {
    const std::string p = LowerAscii(pattern);
    const bool whole = p.find('\\') != std::string::npos;
    if (WildcardMatch(p, whole ? lowerPath : lowerName)) return true;
  }
  return false;
}

bool HasDirectoryPart(const std::string& path) {
  return path.find_first_of("\\:") != std::string::npos;
}

}  // namespace

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool TOrvZip::Excluded(const std::string& path) const {
  return MatchesAny(ExcludeList, path);
}
bool TOrvZip::NoCompress(const std::string& path) const {
  return MatchesAny(NoCompressList, path);
}

std::pair<std::string, std::string> TOrvZip::StoredNameParts(std::string_view pathIn) const {
  std::string path(pathIn);
  std::string root = rootDir_;
  if (Store83Names) {
    path = ShortPathName(path);
    if (!root.empty()) root = ShortPathName(root);
  }
  path = OemRoundTrip(path);
  const std::size_t cut = path.rfind('\\');
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (cut == std::string::npos && path.size() >= 2 && path[1] == ':') name = path.substr(2);
  if (!storePaths_) return {std::string(), name};
  std::string directory = ExtractFilePath(path);
  while (directory.size() >= 2 && directory.back() == '\\' &&
         directory[directory.size() - 2] == '\\') {
    directory.pop_back();
  }
  if (!directory.empty() && directory.back() != '\\') directory += '\\';
  if (relativePaths_ && !root.empty() && StartsWithTextAscii(directory, root)) {
    directory.erase(0, root.size());
  }
  if (!storeVolumes_) {
    const std::string drive = ExtractFileDrive(directory);
    directory.erase(0, drive.size());
    if (!directory.empty() && directory[0] == '\\') directory.erase(0, 1);
  }
  return {directory, name};
}

void TOrvZip::ExpandFilesList(Run& run) {
  std::set<std::string> oldNames;
  if (ZipAction == TZipAction::zaFreshen && dir_.list) {
    for (int i = 0; i < dir_.list->Count(); ++i) {
      oldNames.insert(LowerAscii(dir_.list->Item(i)->FullName()));
    }
  }
  auto absentFromArchive = [&](const std::string& path) {
    if (ZipAction != TZipAction::zaFreshen) return false;
    const auto [d, n] = StoredNameParts(path);
    return oldNames.count(LowerAscii(d + n)) == 0;
  };
  auto archiveBitClear = [&](const std::string& path) {
    if (!SkipIfArchiveBitNotSet) return false;
    const std::uint32_t attributes = platform::GetFileAttributes(path);
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kAttrArchive) == 0;
  };
  const std::string archiveFull = LowerAscii(platform::FullPathName(zipName_));

  std::vector<std::string> kept;
  std::vector<std::string> wildLines;
  for (std::string line : FilesList) {
    if (line.empty()) continue;
    if (line.back() == '\\') {
      kept.push_back(line);
      continue;
    }
    if (HasWildcards(line)) {
      wildLines.push_back(line);
      continue;
    }
    if (!HasDirectoryPart(line)) line = rootDir_ + line;
    if (Excluded(line)) continue;
    if (!platform::FileExists(line) && !platform::DirectoryExists(line)) {
      if (OnNoSuchFile) OnNoSuchFile(line);
      continue;
    }
    if (archiveBitClear(line) || absentFromArchive(line)) continue;
    run.totalBytes += static_cast<std::int64_t>(platform::GetFileSize(line).value_or(0));
    kept.push_back(line);
  }
  for (std::string line : wildLines) {
    bool recurse = Recurse;
    if (line[0] == '|' || line[0] == '>') {
      recurse = line[0] == '>';
      line.erase(0, 1);
    }
    std::string directory = ExtractFilePath(line);
    if (directory.empty()) directory = rootDir_;
    if (directory.empty()) directory = CurrentDirectory();
    if (!HasWildcards(directory) && !DirExists(directory)) continue;
    std::string pattern = ExtractFileName(line);
    if (pattern == "*.*") pattern = "*";
    TDirSearch search(directory, recurse, pattern);
    for (std::string found = search.Next(); !found.empty(); found = search.Next()) {
      if (OnRecursingFile) OnRecursingFile(found);
      if (found.back() == '\\') {
        if (recurse && AddDirEntriesOnRecurse) kept.push_back(found);
        continue;
      }
      if (Excluded(found) || LowerAscii(platform::FullPathName(found)) == archiveFull ||
          archiveBitClear(found) || absentFromArchive(found)) {
        continue;
      }
      kept.push_back(found);
      run.totalBytes += static_cast<std::int64_t>(search.LastSize());
      CheckCancel();
    }
  }
  FilesList = std::move(kept);
}

}  // namespace zip
