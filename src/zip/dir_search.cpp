// Directory search; see dir_search.h for the order of results.
#include "zip/dir_search.h"

#include "platform/file_ops.h"
#include "zip/wildcard.h"

namespace zip {
namespace {

// Every attribute bit a listing asks for: read-only, hidden, system, volume,
// directory and archive (0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x20).
constexpr std::uint32_t kAllAttributes = 63;

bool IsDirectory(const platform::FindData& data) {
  return (data.attributes & platform::kAttrDirectory) != 0;
}

}  // namespace

TDirSearch::TDirSearch(std::string_view startDirectory, bool recurse, std::string_view filePattern)
    : filePattern_(filePattern), recurse_(recurse) {
  std::string start(startDirectory);
  if (start.empty() || start.back() != '\\') start += '\\';
  const std::size_t wild = start.find_first_of("*<>?|");
  if (wild != std::string::npos) {
    const std::size_t cut = start.rfind('\\', wild);
    std::string rest = start.substr(cut == std::string::npos ? 0 : cut + 1);
    start = cut == std::string::npos ? std::string() : start.substr(0, cut + 1);
    std::size_t from = 0;
    while (from < rest.size()) {
      std::size_t slash = rest.find('\\', from);
      if (slash == std::string::npos) slash = rest.size();
      if (slash > from) wildDirs_.push_back(rest.substr(from, slash - from));
      from = slash + 1;
    }
  }
  Push(start, 0);
}

const std::string& TDirSearch::PatternFor(std::size_t level) const {
  return level < wildDirs_.size() ? wildDirs_[level] : filePattern_;
}

void TDirSearch::Push(const std::string& directory, std::size_t level) {
  auto listing = std::make_unique<TSearchData>();
  listing->directory = directory;
  listing->level = level;
  listing->pattern = PatternFor(level);
  listing->exhausted = !listing->search.First(directory + "*.*", kAllAttributes, listing->current);
  stack_.push_back(std::move(listing));
}

void TDirSearch::Advance(TSearchData& listing) {
  if (!listing.exhausted) listing.exhausted = !listing.search.Next(listing.current);
}

std::string TDirSearch::Next() {
  lastSize_ = 0;
  while (!stack_.empty()) {
    TSearchData& top = *stack_.back();
    if (top.exhausted) {
      stack_.pop_back();
      if (stack_.empty()) break;
      Advance(*stack_.back());
      continue;
    }
    const platform::FindData& entry = top.current;
    const bool dotName = !entry.name.empty() && entry.name[0] == '.';
    if (top.level < wildDirs_.size()) {
      // A wildcard directory level: enter each matching directory.
      if (IsDirectory(entry) && !dotName && WildcardMatch(top.pattern, entry.name)) {
        Push(top.directory + entry.name + "\\", top.level + 1);
      } else {
        Advance(top);
      }
      continue;
    }
    if (IsDirectory(entry)) {
      if (recurse_ && !dotName) {
        const std::string path = top.directory + entry.name + "\\";
        Push(path, top.level);
        return path;
      }
      Advance(top);
      continue;
    }
    std::string compared = entry.name;
    if (compared.find('.') == std::string::npos) compared += '.';
    if (WildcardMatch(top.pattern, compared)) {
      std::string path = top.directory + entry.name;
      lastSize_ = entry.size;
      Advance(top);
      return path;
    }
    Advance(top);
  }
  return std::string();
}

}  // namespace zip
