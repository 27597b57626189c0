// File-system helpers; see file_utils.h.
#include "zip/file_utils.h"

#include <vector>

#include "platform/dos_time.h"
#include "platform/file.h"
#include "platform/file_ops.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "platform/ui_services.h"
#include "zip/zip_records.h"

namespace zip {
namespace {

constexpr std::size_t kCopyPieceBytes = 32768;
constexpr const char* kAsideSuffix = "$$$";
constexpr const char* kTempPrefix = "ZTF";

bool CopyBytes(std::string_view source, std::string_view destination) {
  platform::File in;
  if (!in.Open(source, platform::Access::Read, platform::Share::ReadWrite,
               platform::Disposition::OpenExisting)) {
    return false;
  }
  platform::File out;
  if (!out.Open(destination, platform::Access::ReadWrite, platform::Share::None,
                platform::Disposition::CreateAlways)) {
    return false;
  }
  std::vector<char> buffer(kCopyPieceBytes);
  while (true) {
    std::uint32_t got = 0;
    if (!in.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), got)) return false;
    if (got == 0) break;
    std::uint32_t put = 0;
    if (!out.Write(buffer.data(), got, put) || put != got) return false;
  }
  return out.Flush();
}

}  // namespace

bool ReplaceFileWith(std::string_view source, std::string_view destination) {
  bool moved = false;
  if (SameTextAscii(ExtractFileDrive(platform::FullPathName(source)),
                    ExtractFileDrive(platform::FullPathName(destination)))) {
    const std::string aside = std::string(destination) + kAsideSuffix;
    const bool hadDestination = platform::FileExists(destination);
    bool asideOk = true;
    if (hadDestination) {
      platform::DeleteFile(aside);
      asideOk = platform::MoveFile(destination, aside);
    }
    if (asideOk) {
      moved = platform::MoveFile(source, destination);
      if (moved) {
        if (hadDestination) platform::DeleteFile(aside);
      } else if (hadDestination) {
        platform::MoveFile(aside, destination);
      }
    }
  }
  if (moved) return true;
  if (CopyBytes(source, destination)) return true;
  platform::Ui().MessageBox(
      "Could not copy from " + std::string(source) + " -> " + std::string(destination), "Error",
      platform::MsgButtons::Ok, platform::MsgIcon::Error, platform::MsgResult::Ok);
  return false;
}

std::optional<std::string> ZipTempFileName(std::string_view directory) {
  return platform::GetTempFileName(directory, kTempPrefix);
}

bool SetVolumeLabel(std::string_view, std::string_view) {
  return false;
}

std::optional<std::string> GetVolumeLabel(std::string_view root) {
  std::string label;
  if (!platform::GetVolumeLabel(root, label)) return std::nullopt;
  return label;
}

namespace {

// Splits a path into its leading part that stays (drive, leading backslash)
// and its components; `trailing` tells whether it ended in a backslash.
std::string ConvertPath(std::string_view path, bool toShort) {
  std::string prefix = ExtractFileDrive(path);
  std::string_view rest = path.substr(prefix.size());
  if (!rest.empty() && rest.front() == '\\') {
    prefix += '\\';
    rest.remove_prefix(1);
  }
  const bool trailing = !rest.empty() && rest.back() == '\\';
  if (trailing) rest.remove_suffix(1);
  std::string built = prefix;
  std::size_t from = 0;
  bool first = true;
  while (from <= rest.size() && !rest.empty()) {
    std::size_t slash = rest.find('\\', from);
    if (slash == std::string_view::npos) slash = rest.size();
    std::string component(rest.substr(from, slash - from));
    if (component != "." && component != ".." && !component.empty()) {
      platform::DirectorySearch search;
      platform::FindData found;
      const std::string probe = built + (first ? "" : "\\") + component;
      if (search.First(probe, 0x37, found)) {
        component = toShort ? platform::GetShortPathName(probe) : found.name;
        if (toShort) component = ExtractFileName(component);
      }
    }
    built += (first ? "" : "\\") + component;
    first = false;
    from = slash + 1;
    if (slash >= rest.size()) break;
  }
  if (trailing) built += '\\';
  return built;
}

}  // namespace

std::string ShortPathName(std::string_view path) {
  return ConvertPath(path, true);
}
std::string LongPathName(std::string_view path) {
  return ConvertPath(path, false);
}

std::optional<std::uint32_t> FileDosDateTime(std::string_view path) {
  std::uint32_t dos = 0;
  if (!platform::GetFileDosTime(path, dos)) return std::nullopt;
  return ValidateDosDateTime(dos);
}

std::time_t DosDateTimeToTime(std::uint32_t dosDateTime) {
  const std::time_t t = platform::UnixFromDosDateTime(ValidateDosDateTime(dosDateTime));
  return t == static_cast<std::time_t>(-1) ? std::time(nullptr) : t;
}

std::string OemRoundTrip(std::string_view path) {
  return std::string(path);
}

bool DirExists(std::string_view path) {
  return platform::DirectoryExists(path);
}
bool FileExists(std::string_view path) {
  return platform::FileExists(path);
}

bool ForceDirectories(std::string_view path) {
  std::string dir(path);
  while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
  if (dir.empty()) return false;
  return platform::CreateDirectoryPath(dir);
}

std::string CurrentDirectory() {
  return platform::GetCurrentDirectory();
}

std::string ExtractFileName(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string ExtractFilePath(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\:");
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string ExtractFileDrive(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    // "\\server\share": up to (not including) the backslash after the share.
    const std::size_t server = path.find('\\', 2);
    if (server == std::string_view::npos) return std::string(path);
    const std::size_t share = path.find('\\', server + 1);
    return std::string(share == std::string_view::npos ? path : path.substr(0, share));
  }
  return std::string();
}

std::string ExtractFileExt(std::string_view path) {
  const std::size_t cut = path.find_last_of(".\\:");
  if (cut == std::string_view::npos || path[cut] != '.') return std::string();
  return std::string(path.substr(cut));
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
  const std::string la = LowerAscii(a);
  const std::string lb = LowerAscii(b);
  const int c = la.compare(lb);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextAscii(a, b) == 0;
}

bool StartsWithTextAscii(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

}  // namespace zip
