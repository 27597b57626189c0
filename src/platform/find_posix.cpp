// Directory search (find-first / find-next / find-close) and the Windows
// wildcard match of one name.
//
// Wildcards, as FindFirstFile applies them to long names: letters compare
// without regard to ASCII case; '*' matches any run of characters, dots
// included; '?' matches exactly one character (a whole UTF-8 sequence);
// "*" and "*.*" match every name; a pattern ending in ".*" also matches the
// same stem without any extension ("read.*" matches "read"); a pattern ending
// in a single '.' matches names without a dot ("*." matches "readme").
//
// The listing: "." and ".." come first in every directory but the root of a
// drive or share, then the entries in the order the host lists them. An entry
// is returned when its name matches and each of its hidden, system and
// directory bits is also in the caller's attribute mask.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/dos_time.h"
#include "platform/file_ops.h"
#include "platform/find.h"
#include "platform/host_internal.h"
#include "platform/paths.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using internal::AsciiLower;

// The attribute bits an entry may carry only when the mask asks for them.
constexpr std::uint32_t kMaskedAttributes = kAttrHidden | kAttrSystem | kAttrDirectory;

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Plain glob: '*' any run, '?' one character. Iterative, with one backtrack
// point for the last star, so it is linear in practice and never recurses.
bool Glob(std::string_view p, std::string_view t) {
  std::size_t pi = 0, ti = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starT = ti;
      continue;
    }
    if (pi < p.size() && p[pi] == '?') {
      ++pi;
      ti += SequenceLength(static_cast<unsigned char>(t[ti]));
      continue;
    }
    if (pi < p.size() && AsciiLower(p[pi]) == AsciiLower(t[ti])) {
      ++pi;
      ++ti;
      continue;
    }
    if (starP == std::string_view::npos) return false;
    pi = starP + 1;
    ti = ++starT;
  }
  if (ti > t.size()) return false;  // a '?' ran over a truncated sequence
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

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
  if (Glob(pattern, name)) return true;
  const bool nameHasDot = name.find('.') != std::string_view::npos;
  if (nameHasDot) return false;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
    return Glob(pattern.substr(0, pattern.size() - 2), name);
  }
  if (!pattern.empty() && pattern.back() == '.') {
    return Glob(pattern.substr(0, pattern.size() - 1), name);
  }
  return false;
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
