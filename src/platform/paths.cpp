// The drive map and the conversions between Windows and host paths.
//
// A Windows path is parsed into a root (a drive letter or a UNC share
// "\\server\share") and a list of components; "." and ".." are removed
// lexically, as GetFullPathName does, and a ".." at the root stays at the root.
// The root goes down to a host directory through the drive map; each component
// goes down through the private-use mapping (WindowsNameToHost) and is then
// matched against the disk without regard to case.
//
// The way up (ToWindowsPath) picks the mapped root with the most components that
// contains the host path; among roots of equal length, drive letters in
// alphabetical order come before shares. Every host path therefore has a Windows
// form, at worst under Z:.
//
// Private-use mapping of one name: a host byte c that Windows forbids in names
// (\ : * ? " < > | and 0x01..0x1F) becomes the code point U+F000 + c, whose
// UTF-8 form is EF, 80 | (c >> 6), 80 | (c & 3F). Example: "a:b" <-> "a" EF 80 BA
// "b". Only the code points that this mapping produces are converted back.
//
// Invariants: the drive map and the current directory are guarded by one
// mutex; the current directory is always an absolute Windows path.
#include "platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/host_internal.h"
#include "platform/win_error.h"

namespace platform {
namespace {

using internal::AsciiLower;
using internal::EqualsIgnoreCase;

constexpr char kDefaultRootDrive = 'Z';
constexpr const char* kDriveMapVariable = "BACKUP_DRIVES";
constexpr std::uint32_t kPrivateUseBase = 0xF000;  // U+F000 + forbidden byte
constexpr unsigned char kUtf8PrivateLead = 0xEF;   // first byte of U+F000..U+FFFF
constexpr unsigned char kFirstPrintable = 0x20;    // bytes below are control characters

bool IsForbiddenInWindowsName(unsigned char c) {
  switch (c) {
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return c != 0 && c < kFirstPrintable;
  }
}

// A parsed absolute Windows path.
struct WinPath {
  char letter = 0;    // 'A'..'Z' for a drive path, 0 for a UNC path
  std::string share;  // "\\server\share" as written, for a UNC path
  std::vector<std::string> parts;
  bool trailing = false;  // written with a trailing separator
};

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::vector<std::string> SplitWindows(std::string_view s) {
  std::vector<std::string> out;
  std::string current;
  for (char c : s) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

std::vector<std::string> SplitHost(std::string_view s) {
  std::vector<std::string> out;
  std::string current;
  for (char c : s) {
    if (c == '/') {
      if (!current.empty()) out.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

// Appends components to `parts`, applying "." and "..".
void AppendNormalized(std::vector<std::string>& parts, const std::vector<std::string>& more) {
  for (const std::string& p : more) {
    if (p == ".") continue;
    if (p == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(p);
  }
}

std::string ProcessWorkingDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return "/";
  return buffer;
}

// Absolute, lexically normalized host path ("/" joined, no trailing slash).
std::string NormalizeHost(std::string_view hostPath) {
  std::vector<std::string> parts;
  if (hostPath.empty() || hostPath[0] != '/') {
    AppendNormalized(parts, SplitHost(ProcessWorkingDirectory()));
  }
  AppendNormalized(parts, SplitHost(hostPath));
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

struct Root {
  char letter = 0;    // drive letter, or 0 for a share
  std::string share;  // "\\server\share" with the case first given
  std::string host;   // normalized host directory
};

// The drive map and the current directory.
struct State {
  std::mutex mutex;
  bool loaded = false;
  std::map<char, std::string> drives;  // upper-case letter -> host directory
  std::map<std::string, Root> shares;  // lower-case "\\server\share" -> root
  std::optional<WinPath> current;      // the current directory

  void EnsureLoaded() {
    if (!loaded) LoadDefaults();
  }

  void LoadDefaults() {
    loaded = true;
    drives.clear();
    shares.clear();
    drives[kDefaultRootDrive] = "/";
    const char* mapText = std::getenv(kDriveMapVariable);
    if (mapText == nullptr) return;
    std::string_view rest(mapText);
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const std::string_view entry = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      const auto eq = entry.find('=');
      if (eq == std::string_view::npos || eq + 1 >= entry.size()) continue;
      const std::string_view key = entry.substr(0, eq);
      const std::string_view host = entry.substr(eq + 1);
      if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]))) {
        drives[static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])))] =
            NormalizeHost(host);
      } else {
        AddShare(key, host);
      }
    }
  }

  bool AddShare(std::string_view unc, std::string_view host) {
    const std::vector<std::string> parts = SplitWindows(unc);
    if (parts.size() != 2 || unc.size() < 2 || (unc[0] != '\\' && unc[0] != '/')) return false;
    const std::string name = "\\\\" + parts[0] + "\\" + parts[1];
    shares[LowerAscii(name)] = Root{0, name, NormalizeHost(host)};
    return true;
  }

  std::optional<std::string> HostRoot(const WinPath& p) {
    if (p.letter != 0) {
      const auto it = drives.find(p.letter);
      if (it == drives.end()) return std::nullopt;
      return it->second;
    }
    const auto it = shares.find(LowerAscii(p.share));
    if (it == shares.end()) return std::nullopt;
    return it->second.host;
  }

  std::vector<Root> Roots() const {
    std::vector<Root> out;
    for (const auto& [letter, host] : drives) out.push_back(Root{letter, {}, host});
    for (const auto& [key, root] : shares) out.push_back(root);
    return out;
  }
};

State& GetState() {
  static State state;
  return state;
}

std::string FormatWinPath(const WinPath& p, bool keepTrailing) {
  std::string out = p.letter != 0 ? std::string(1, p.letter) + ":" : p.share;
  if (p.parts.empty()) return out + "\\";
  for (const std::string& part : p.parts) out += "\\" + part;
  if (keepTrailing && p.trailing) out += "\\";
  return out;
}

// Windows form of a normalized host path through the given roots.
std::string WindowsFormThrough(const std::vector<Root>& roots, const std::string& host,
                               bool trailing) {
  const std::vector<std::string> hostParts = SplitHost(host);
  const Root* best = nullptr;
  std::size_t bestLength = 0;
  for (const Root& root : roots) {
    const std::vector<std::string> rootParts = SplitHost(root.host);
    if (rootParts.size() > hostParts.size()) continue;
    if (best != nullptr && rootParts.size() <= bestLength) continue;
    bool contains = true;
    for (std::size_t i = 0; i < rootParts.size() && contains; ++i) {
      contains = rootParts[i] == hostParts[i];
    }
    if (!contains) continue;
    best = &root;
    bestLength = rootParts.size();
  }
  WinPath p;
  if (best == nullptr) {
    p.letter = kDefaultRootDrive;  // no root contains it: the whole host tree is Z:
    bestLength = 0;
  } else {
    p.letter = best->letter;
    p.share = best->share;
  }
  for (std::size_t i = bestLength; i < hostParts.size(); ++i) {
    p.parts.push_back(HostNameToWindows(hostParts[i]));
  }
  p.trailing = trailing;
  return FormatWinPath(p, true);
}

// Parses any Windows path into an absolute one against `current`.
// False for a malformed UNC root ("\\server" without a share).
bool ParseAbsolute(std::string_view input, const WinPath& current, WinPath& out) {
  std::string s(input);
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  out = WinPath{};
  out.trailing = !s.empty() && s.back() == '\\';
  std::string_view rest(s);
  if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
    std::vector<std::string> parts = SplitWindows(s);
    if (parts.size() < 2) return false;
    out.share = "\\\\" + parts[0] + "\\" + parts[1];
    parts.erase(parts.begin(), parts.begin() + 2);
    AppendNormalized(out.parts, parts);
    if (out.parts.empty()) out.trailing = false;
    return true;
  }
  if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
    out.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    rest = rest.substr(2);
    const bool absolute = !rest.empty() && rest[0] == '\\';
    if (!absolute && current.letter == out.letter) out.parts = current.parts;
  } else if (!rest.empty() && rest[0] == '\\') {
    out.letter = current.letter;
    out.share = current.share;
  } else {
    out.letter = current.letter;
    out.share = current.share;
    out.parts = current.parts;
  }
  AppendNormalized(out.parts, SplitWindows(rest));
  if (out.parts.empty()) out.trailing = false;
  return true;
}

// The current directory; the caller holds the state's mutex.
const WinPath& CurrentLocked(State& state) {
  if (!state.current) {
    WinPath p;
    const std::string windows =
        WindowsFormThrough(state.Roots(), NormalizeHost(ProcessWorkingDirectory()), false);
    ParseAbsolute(windows, WinPath{kDefaultRootDrive, {}, {}, false}, p);
    state.current = p;
  }
  return *state.current;
}

// Parses against the current directory and finds the host root.
bool ParseAndRoot(std::string_view windowsPath, WinPath& parsed, std::string& hostRoot) {
  // A NUL would silently cut the host path short ("..\0x" would become ".."):
  // Windows refuses such a name, and so do we.
  if (windowsPath.find('\0') != std::string_view::npos) {
    SetLastError(kErrorInvalidName);
    return false;
  }
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  if (!ParseAbsolute(windowsPath, CurrentLocked(state), parsed)) {
    SetLastError(kErrorBadPathName);
    return false;
  }
  const auto root = state.HostRoot(parsed);
  if (!root) {
    SetLastError(kErrorPathNotFound);
    return false;
  }
  hostRoot = *root;
  return true;
}

bool Probe(const char* hostPath) {
  internal::Counters().probes.fetch_add(1, std::memory_order_relaxed);
  struct stat st {};
  return ::lstat(hostPath, &st) == 0;
}

// Resolves components below a host root, each first as written and then
// ignoring case; `resolveLast` false keeps the last component as written.
// Nullopt (error 206) when the host path would be longer than the system takes.
//
// Cost, for a path of n components: the host path is built once. When it does
// not exist as written, a binary search over its prefixes finds the longest one
// that does (the prefixes that exist as written are closed under shortening),
// and only the components after it are looked up ignoring case, one probe and
// one lookup each, until one is missing. Resolving a path below a directory
// that was just created therefore costs O(log n) probes, not O(n).
std::optional<std::string> Resolve(const std::string& hostRoot,
                                   const std::vector<std::string>& parts, bool resolveLast) {
  std::string path = hostRoot;
  std::vector<std::size_t> starts;  // where each component begins in `path`
  starts.reserve(parts.size());
  for (const std::string& part : parts) {
    if (path.empty() || path.back() != '/') path += '/';
    starts.push_back(path.size());
    path += WindowsNameToHost(part);
  }
  if (path.size() >= internal::kHostPathLimit) {
    SetLastError(kErrorFilenameExcedRange);
    return std::nullopt;
  }
  if (Probe(path.c_str())) return path;

  // The number of leading components that exist as written: exists(lo) holds
  // (0 components is the root), exists(hi) does not.
  const std::size_t n = parts.size();
  std::size_t lo = 0;
  std::size_t hi = n;
  auto prefixExists = [&](std::size_t k) {
    const std::size_t cut = starts[k] - 1;  // the '/' after component k-1
    path[cut] = '\0';
    const bool exists = Probe(path.c_str());
    path[cut] = '/';
    return exists;
  };
  // The common case first: only the last component is new.
  if (n > 1) (prefixExists(n - 1) ? lo : hi) = n - 1;
  while (hi - lo > 1) {
    const std::size_t mid = lo + (hi - lo) / 2;
    (prefixExists(mid) ? lo : hi) = mid;
  }

  auto end = [&](std::size_t i) { return i + 1 < n ? starts[i + 1] - 1 : path.size(); };
  std::string out = lo == 0 ? hostRoot : path.substr(0, end(lo - 1));
  for (std::size_t i = lo; i < n; ++i) {
    const std::string_view name(path.data() + starts[i], end(i) - starts[i]);
    const bool last = i + 1 == n;
    std::string candidate = internal::JoinHost(out, name);
    if ((last && !resolveLast) || (i > lo && Probe(candidate.c_str()))) {
      out = std::move(candidate);
      continue;
    }
    if (const auto real = internal::FindNameIgnoringCase(out, name)) {
      out = internal::JoinHost(out, *real);
      continue;
    }
    // Missing: the rest stays as written.
    out = std::move(candidate);
    if (!last) out.append(path, end(i), std::string::npos);
    break;
  }
  return out;
}

bool LooksLikeWindowsPath(std::string_view path) {
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    return true;
  }
  if (!path.empty() && path[0] == '\\') return true;
  return path.find('\\') != std::string_view::npos && path.find('/') == std::string_view::npos;
}

}  // namespace

// ---- The drive map -----------------------------------------------------------

void SetDrive(char letter, std::string_view hostRoot) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  state.drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] =
      NormalizeHost(hostRoot);
}

void RemoveDrive(char letter) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  state.drives.erase(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

void SetShare(std::string_view unc, std::string_view hostRoot) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  state.AddShare(unc, hostRoot);
}

void ResetDriveMap() {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.LoadDefaults();
  state.current.reset();
}

std::vector<char> MappedDrives() {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  std::vector<char> out;
  for (const auto& [letter, host] : state.drives) out.push_back(letter);
  return out;
}

std::optional<std::string> DriveRoot(char letter) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  const auto it =
      state.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  if (it == state.drives.end()) return std::nullopt;
  return it->second;
}

// ---- Conversions -------------------------------------------------------------

std::optional<std::string> ToHostPath(std::string_view windowsPath) {
  WinPath parsed;
  std::string hostRoot;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return std::nullopt;
  return Resolve(hostRoot, parsed.parts, true);
}

std::string ToWindowsPath(std::string_view hostPath) {
  const bool trailing = hostPath.size() > 1 && hostPath.back() == '/';
  const std::string host = NormalizeHost(hostPath);
  State& state = GetState();
  std::vector<Root> roots;
  {
    std::lock_guard lock(state.mutex);
    state.EnsureLoaded();
    roots = state.Roots();
  }
  return WindowsFormThrough(roots, host, trailing && host != "/");
}

std::string FromUserPath(std::string_view path) {
  if (path.empty()) return GetCurrentDirectory();
  if (path[0] != '/' && LooksLikeWindowsPath(path)) {
    std::string out(path);
    for (char& c : out) {
      if (c == '/') c = '\\';
    }
    return out;
  }
  return ToWindowsPath(path);
}

std::string FullPathName(std::string_view windowsPath) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  WinPath parsed;
  if (!ParseAbsolute(windowsPath, CurrentLocked(state), parsed)) {
    std::string out(windowsPath);
    for (char& c : out) {
      if (c == '/') c = '\\';
    }
    return out;
  }
  return FormatWinPath(parsed, true);
}

std::string HostNameToWindows(std::string_view hostName) {
  std::string out;
  out.reserve(hostName.size());
  for (char ch : hostName) {
    const auto c = static_cast<unsigned char>(ch);
    if (!IsForbiddenInWindowsName(c)) {
      out += ch;
      continue;
    }
    const std::uint32_t cp = kPrivateUseBase + c;
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

std::string WindowsNameToHost(std::string_view windowsName) {
  std::string out;
  out.reserve(windowsName.size());
  for (std::size_t i = 0; i < windowsName.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(windowsName[i]);
    if (b0 == kUtf8PrivateLead && i + 2 < windowsName.size()) {
      const auto b1 = static_cast<unsigned char>(windowsName[i + 1]);
      const auto b2 = static_cast<unsigned char>(windowsName[i + 2]);
      if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
        const std::uint32_t cp = (0x0Fu << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
        if (cp >= kPrivateUseBase && cp < kPrivateUseBase + 0x80 &&
            IsForbiddenInWindowsName(static_cast<unsigned char>(cp - kPrivateUseBase))) {
          out += static_cast<char>(cp - kPrivateUseBase);
          i += 2;
          continue;
        }
      }
    }
    out += windowsName[i];
  }
  return out;
}

std::string GetCurrentDirectory() {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  return FormatWinPath(CurrentLocked(state), false);
}

bool SetCurrentDirectory(std::string_view windowsPath) {
  WinPath parsed;
  std::string hostRoot;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return false;
  const auto resolved = Resolve(hostRoot, parsed.parts, true);
  if (!resolved) return false;
  const std::string& host = *resolved;
  struct stat st {};
  if (::stat(host.c_str(), &st) != 0) return internal::FailPath(host, errno);
  if (!S_ISDIR(st.st_mode)) return internal::Fail(kErrorDirectory);
  parsed.trailing = false;
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.current = parsed;
  return true;
}

// ---- Internal helpers for the other host files ------------------------------

namespace internal {

std::optional<std::string> ToHostPathKeepingName(std::string_view windowsPath) {
  WinPath parsed;
  std::string hostRoot;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return std::nullopt;
  return Resolve(hostRoot, parsed.parts, false);
}

std::optional<std::string> ToHostPathForCreate(std::string_view windowsPath, bool& absent) {
  absent = false;
  WinPath parsed;
  std::string hostRoot;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return std::nullopt;
  if (parsed.parts.empty()) return Resolve(hostRoot, parsed.parts, true);

  // The parent as written; one probe tells whether it is a directory and
  // which one, and its cache (when it has one) answers for the last name.
  std::string dir = hostRoot;
  for (std::size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
    if (dir.back() != '/') dir += '/';
    dir += WindowsNameToHost(parsed.parts[i]);
  }
  const std::string name = WindowsNameToHost(parsed.parts.back());
  if (dir.size() + 1 + name.size() < internal::kHostPathLimit) {
    internal::Counters().probes.fetch_add(1, std::memory_order_relaxed);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (const auto cached = internal::FindNameInCachedDirectory(st, name)) {
        absent = !cached->has_value();
        return internal::JoinHost(dir, absent ? name : **cached);
      }
    }
  }
  // Not cached (or reached through a link, or spelt in another case): the
  // general resolution, which probes the name first.
  return Resolve(hostRoot, parsed.parts, true);
}

std::optional<std::string> ToHostPathAsWritten(std::string_view windowsPath) {
  WinPath parsed;
  std::string hostRoot;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return std::nullopt;
  std::string path = hostRoot;
  for (const std::string& part : parsed.parts) {
    if (path.empty() || path.back() != '/') path += '/';
    path += WindowsNameToHost(part);
  }
  if (path.size() >= internal::kHostPathLimit) {
    SetLastError(kErrorFilenameExcedRange);
    return std::nullopt;
  }
  return path;
}

bool HostRootAndNames(std::string_view windowsPath, std::string& hostRoot,
                      std::vector<std::string>& hostNames) {
  WinPath parsed;
  if (!ParseAndRoot(windowsPath, parsed, hostRoot)) return false;
  hostNames.clear();
  hostNames.reserve(parsed.parts.size());
  std::size_t length = hostRoot.size();
  for (const std::string& part : parsed.parts) {
    hostNames.push_back(WindowsNameToHost(part));
    length += 1 + hostNames.back().size();
  }
  if (length >= kHostPathLimit) return Fail(kErrorFilenameExcedRange);
  return true;
}

std::string CanonicalWindowsForm(std::string_view canonicalHostPath) {
  State& state = GetState();
  std::vector<Root> roots;
  {
    std::lock_guard lock(state.mutex);
    state.EnsureLoaded();
    roots = state.Roots();
  }
  for (Root& root : roots) {
    if (char* real = ::realpath(root.host.c_str(), nullptr)) {
      root.host = real;
      std::free(real);
    }
  }
  return WindowsFormThrough(roots, NormalizeHost(canonicalHostPath), false);
}

bool IsRootPath(std::string_view windowsPath) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  WinPath parsed;
  return ParseAbsolute(windowsPath, CurrentLocked(state), parsed) && parsed.parts.empty();
}

bool IsMappedRoot(std::string_view windowsPath) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.EnsureLoaded();
  WinPath parsed;
  return ParseAbsolute(windowsPath, CurrentLocked(state), parsed) &&
         state.HostRoot(parsed).has_value();
}

}  // namespace internal
}  // namespace platform
