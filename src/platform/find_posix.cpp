// Directory search (find-first / find-next / find-close) and the Windows
// wildcard match of one name.
//
// Wildcards, as FindFirstFile applies them to long names. Letters compare
// without regard to case, non-ASCII letters included ("*.TXT" matches
// "über.txt", "Ä*" matches "äpfel"), and "*" and "*.*" match every name.
// Before matching, three pattern characters take their DOS meaning from what
// follows them, exactly as Windows rewrites a search pattern:
//
//   pattern  becomes   matches
//   *        star      any run of characters, dots included
//   * then . dos-star  any run of characters that does not go past the
//                      name's final dot
//   ?        dos-qm    one character (a whole UTF-8 sequence); at a dot or at
//                      the end of the name, a run of them matches nothing
//   . then ?, * or the end
//            dos-dot   a dot, or nothing at the end of the name
//
// Hence "*.txt" does not match "a.txt.bak", "Back?.Dat" matches "Back.Dat",
// "read.*" matches "read", and "*." matches exactly the names without a dot
// (a plain star could run to the end of "read.me" and let the dot match
// nothing there).
//
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "platform/dos_time.h"
#include "platform/file_ops.h"
#include "platform/find.h"
#include "platform/host_internal.h"
#include "platform/paths.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using internal::UpperCharAt;

// The attribute bits an entry may carry only when the mask asks for them.
constexpr std::uint32_t kMaskedAttributes = kAttrHidden | kAttrSystem | kAttrDirectory;

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

enum class Token : unsigned char { Literal, Star, DosStar, DosQm, DosDot };

struct PatternItem {
  Token token;
  std::int32_t literal;  // one character, upper-cased (UpperCharAt), for Token::Literal
};

std::vector<PatternItem> Compile(std::string_view pattern) {
  std::vector<PatternItem> items;
  items.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '*') {
      items.push_back({next == '.' ? Token::DosStar : Token::Star, 0});
    } else if (c == '?') {
      items.push_back({Token::DosQm, 0});
    } else if (c == '.' && (next == '?' || next == '*' || next == '\0')) {
      items.push_back({Token::DosDot, 0});
    } else {
      std::size_t end = i;
      items.push_back({Token::Literal, UpperCharAt(pattern, end)});
      i = end - 1;  // the loop steps past the rest of the character
    }
  }
  return items;
}

// Backtracking match with a memo of failed (item, position) pairs, so that
// the work is bounded by pattern length times name length.
class Matcher {
 public:
  Matcher(std::vector<PatternItem> items, std::string_view name)
      : items_(std::move(items)),
        name_(name),
        failed_((items_.size() + 1) * (name.size() + 1), false),
        finalDot_(name.rfind('.')) {}

  bool Match(std::size_t pi, std::size_t ti) {
    const std::size_t key = pi * (name_.size() + 1) + ti;
    if (failed_[key]) return false;
    const bool ok = Step(pi, ti);
    if (!ok) failed_[key] = true;
    return ok;
  }

 private:
  bool Step(std::size_t pi, std::size_t ti) {
    if (pi == items_.size()) return ti == name_.size();
    const PatternItem& item = items_[pi];
    const bool atEnd = ti == name_.size();
    switch (item.token) {
      case Token::Literal: {
        if (atEnd) return false;
        std::size_t next = ti;
        return UpperCharAt(name_, next) == item.literal && Match(pi + 1, next);
      }
      case Token::Star:
        for (std::size_t k = ti; k <= name_.size(); ++k) {
          if (Match(pi + 1, k)) return true;
        }
        return false;
      case Token::DosStar: {
        // Any run that does not go past the name's final dot.
        const bool dotAhead = finalDot_ != std::string_view::npos && finalDot_ >= ti;
        const std::size_t limit = dotAhead ? finalDot_ : name_.size();
        for (std::size_t k = ti; k <= limit; ++k) {
          if (Match(pi + 1, k)) return true;
        }
        return false;
      }
      case Token::DosQm: {
        if (atEnd || name_[ti] == '.') {
          std::size_t end = pi;
          while (end < items_.size() && items_[end].token == Token::DosQm) ++end;
          return Match(end, ti);
        }
        const std::size_t next = ti + SequenceLength(static_cast<unsigned char>(name_[ti]));
        return next <= name_.size() && Match(pi + 1, next);
      }
      case Token::DosDot:
        if (atEnd) return Match(pi + 1, ti);
        return name_[ti] == '.' && Match(pi + 1, ti + 1);
    }
    return false;
  }

  std::vector<PatternItem> items_;
  std::string_view name_;
  std::vector<bool> failed_;
  std::size_t finalDot_;
};

FindData MakeFindData(const std::string& windowsName, const struct stat& st,
                      std::string_view hostName) {
  FindData d;
  d.name = windowsName;
  d.attributes = internal::AttributesFromStat(st, hostName);
  d.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  d.dosTime = DosDateTimeFromUnix(st.st_mtim.tv_sec);
  return d;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  return Matcher(Compile(pattern), name).Match(0, 0);
}

struct DirectorySearch::State {
  DIR* dir = nullptr;
  std::string hostDir;
  std::string pattern;
  std::uint32_t mask = 0;
  int dotsLeft = 0;  // "." and ".." still to report (0 at a root)

  ~State() {
    if (dir != nullptr) ::closedir(dir);
  }

  bool Accept(const FindData& d) const {
    return MatchesWildcard(pattern, d.name) && ((d.attributes & kMaskedAttributes) & ~mask) == 0;
  }

  // The next accepted entry; false at the end.
  bool Advance(FindData& found) {
    while (dotsLeft > 0) {
      const bool dot = dotsLeft == 2;
      --dotsLeft;
      const std::string name = dot ? "." : "..";
      struct stat st {};
      const std::string target = dot ? hostDir : internal::HostParent(hostDir);
      if (::stat(target.c_str(), &st) != 0) continue;
      FindData d = MakeFindData(name, st, name);
      if (Accept(d)) {
        found = std::move(d);
        return true;
      }
    }
    while (const dirent* e = ::readdir(dir)) {
      const std::string_view hostName(e->d_name);
      if (hostName == "." || hostName == "..") continue;
      const std::string windowsName = HostNameToWindows(hostName);
      if (!MatchesWildcard(pattern, windowsName)) continue;
      const std::string full = internal::JoinHost(hostDir, hostName);
      struct stat st {};
      if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;
      FindData d = MakeFindData(windowsName, st, hostName);
      if (Accept(d)) {
        found = std::move(d);
        return true;
      }
    }
    return false;
  }
};

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

bool DirectorySearch::First(std::string_view pattern, std::uint32_t attributeMask,
                            FindData& found) {
  Close();
  const auto sep = pattern.find_last_of("\\/");
  std::string dirPart;
  std::string namePart;
  if (sep != std::string_view::npos) {
    dirPart = std::string(pattern.substr(0, sep + 1));
    namePart = std::string(pattern.substr(sep + 1));
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    dirPart = std::string(pattern.substr(0, 2));  // "D:name": the drive's current directory
    namePart = std::string(pattern.substr(2));
  } else {
    dirPart = ".";
    namePart = std::string(pattern);
  }
  if (namePart.empty()) return internal::Fail(kErrorFileNotFound);

  const auto host = ToHostPath(dirPart);
  if (!host) return false;
  auto state = std::make_unique<State>();
  state->dir = ::opendir(host->c_str());
  if (state->dir == nullptr) {
    const int err = errno;
    return internal::Fail(err == ENOENT || err == ENOTDIR ? kErrorPathNotFound
                                                          : WinErrorFromErrno(err));
  }
  state->hostDir = *host;
  state->pattern = namePart;
  state->mask = attributeMask;
  state->dotsLeft = internal::IsRootPath(dirPart) ? 0 : 2;
  if (!state->Advance(found)) return internal::Fail(kErrorFileNotFound);
  state_ = std::move(state);
  return true;
}

bool DirectorySearch::Next(FindData& found) {
  if (!state_) return internal::Fail(kErrorNoMoreFiles);
  if (!state_->Advance(found)) return internal::Fail(kErrorNoMoreFiles);
  return true;
}

void DirectorySearch::Close() {
  state_.reset();
}

}  // namespace platform
