// TDataSession: settings, passwords and the open directories.
#include "engine/table/data_session.h"

#include <algorithm>

#include "engine/errors.h"
#include "engine/files/table_names.h"
#include "engine/table/data_directory.h"
#include "platform/file_ops.h"
#include "platform/locale.h"
#include "platform/paths.h"

namespace engine {
namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// The network (universal) form of a directory, or the path itself when the
// system has none for it.
std::string UniversalPathOf(const std::string& path) {
  if (std::optional<std::string> universal = platform::UniversalName(path)) return *universal;
  return path;
}

// Whether the host's narrow code page is a multi-byte one (it is UTF-8 here).
constexpr bool kDoubleByteCharacterSets = true;

}  // namespace

TDataSession::TDataSession()
    // The host's narrow code page is UTF-8, a multi-byte character set, so the
    // system counts as one with double-byte character sets enabled: new tables
    // get language 0 (byte order, ASCII-only case mapping), which keeps
    // multi-byte names intact. Elsewhere they would get the user's language.
    : LanguageID(kDoubleByteCharacterSets ? 0 : platform::GetUserDefaultLangID()),
      FDefaultDirectory(IncludeTrailingBackslash(platform::GetCurrentDirectory())) {}

TDataSession::~TDataSession() {
  Guard guard(FMutex);
  FDirectories.clear();
}

TDataDirectory* TDataSession::OpenDirectory(const std::string& name, const std::string& path) {
  Guard guard(FMutex);
  if (SameText(Trim(name), kMemoryDirectory)) {
    for (const auto& directory : FDirectories) {
      if (directory->IsMemory()) {
        ++directory->FRefCount;
        return directory.get();
      }
    }
    FDirectories.push_back(std::make_unique<TDataDirectory>(this, kMemoryDirectory, "", ""));
    return FDirectories.back().get();
  }
  const std::string trimmed = Trim(path);
  const std::string directoryPath =
      trimmed.empty() ? FDefaultDirectory : IncludeTrailingBackslash(trimmed);
  const std::string universal = Trim(UniversalPathOf(directoryPath));
  for (const auto& directory : FDirectories) {
    if (!directory->IsMemory() && SameText(Trim(directory->UniversalPath()), universal)) {
      ++directory->FRefCount;
      return directory.get();
    }
  }
  FDirectories.push_back(std::make_unique<TDataDirectory>(
      this, Trim(name).empty() ? directoryPath : Trim(name), directoryPath, universal));
  return FDirectories.back().get();
}

int TDataSession::CloseDirectory(TDataDirectory* directory) {
  Guard guard(FMutex);
  auto it = std::find_if(FDirectories.begin(), FDirectories.end(),
                         [directory](const auto& entry) { return entry.get() == directory; });
  if (it == FDirectories.end() || (*it)->FRefCount <= 0) return -kErrAccessDenied;
  if (--(*it)->FRefCount == 0) FDirectories.erase(it);
  return 0;
}

int TDataSession::DirectoryCount() {
  Guard guard(FMutex);
  return static_cast<int>(FDirectories.size());
}

void TDataSession::AddPassword(const std::string& password) {
  if (password.empty()) return;
  const std::string kept = password.substr(0, std::min(password.size(), kMaxPasswordLength));
  if (!HasPassword(kept)) FPasswords.push_back(kept);
}

void TDataSession::RemovePassword(const std::string& password) {
  std::erase(FPasswords, password.substr(0, std::min(password.size(), kMaxPasswordLength)));
}

void TDataSession::RemoveAllPasswords() {
  FPasswords.clear();
}

bool TDataSession::HasPassword(const std::string& password) const {
  return std::find(FPasswords.begin(), FPasswords.end(), password) != FPasswords.end();
}

void TDataSession::SetPrivateDir(const std::string& path) {
  FPrivateDir = IncludeTrailingBackslash(path);
}

}  // namespace engine
