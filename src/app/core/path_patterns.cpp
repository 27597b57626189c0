// Path patterns; see path_patterns.h for the three kinds.
#include "app/core/path_patterns.h"

#include "platform/paths.h"
#include "zip/wildcard.h"

namespace app {

namespace {

constexpr char kBackslash = '\\';
constexpr char kSlash = '/';
constexpr std::string_view kWildcardChars = "*?<";

bool HasSeparator(std::string_view text) {
  return text.find_first_of("\\/") != std::string_view::npos;
}

// "D:..." or "\..." (a root or a network name).
bool IsWindowsAbsolute(std::string_view text) {
  return (text.size() >= 2 && text[1] == ':') || (!text.empty() && text[0] == kBackslash);
}

std::string Backslashed(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == kSlash) c = kBackslash;
  return out;
}

// A host-form pattern: its directory part without wildcards goes through the
// drive map, the rest stays as written.
std::string HostPatternToWindows(std::string_view pattern) {
  const std::size_t wild = pattern.find_first_of(kWildcardChars);
  const std::size_t cut = pattern.substr(0, wild).rfind(kSlash);
  std::string dir = platform::ToWindowsPath(cut == 0 ? "/" : pattern.substr(0, cut));
  if (!dir.empty() && dir.back() == kBackslash) dir.pop_back();
  return dir + Backslashed(pattern.substr(cut));
}

}  // namespace

PathPatterns::PathPatterns(const std::vector<std::string>& userPatterns) {
  for (const std::string& p : userPatterns) Add(p);
}

void PathPatterns::Add(std::string_view userPattern) {
  if (userPattern.empty()) return;
  if (!HasSeparator(userPattern)) {
    patterns_.push_back({Kind::Name, std::string(userPattern)});
  } else if (userPattern[0] == kSlash && (userPattern.size() < 2 || userPattern[1] != kSlash)) {
    patterns_.push_back({Kind::Absolute, HostPatternToWindows(userPattern)});
  } else {
    std::string text = Backslashed(userPattern);
    const Kind kind = IsWindowsAbsolute(text) ? Kind::Absolute : Kind::Relative;
    if (kind == Kind::Relative) text = "*\\" + text;
    patterns_.push_back({kind, std::move(text)});
  }
}

bool PathPatterns::Matches(const Pattern& p, std::string_view path) const {
  if (p.kind != Kind::Name) return zip::WildcardMatch(p.text, path);
  const std::size_t cut = path.rfind(kBackslash);
  return zip::WildcardMatch(p.text, cut == std::string_view::npos ? path : path.substr(cut + 1));
}

bool PathPatterns::MatchesEntry(std::string_view path) const {
  for (const Pattern& p : patterns_)
    if (Matches(p, path)) return true;
  return false;
}

bool PathPatterns::MatchesRow(std::string_view path) const {
  // The row, then each directory above it, innermost first.
  for (std::string_view at = path;;) {
    if (MatchesEntry(at)) return true;
    const std::size_t cut = at.rfind(kBackslash);
    if (cut == std::string_view::npos || cut == 0) return false;
    at = at.substr(0, cut);
    if (!at.empty() && at.back() == ':') return false;  // the drive itself
  }
}

}  // namespace app
