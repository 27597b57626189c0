// Name helpers and the naming of table sets (see table_names.h).
#include "engine/files/table_names.h"

#include <algorithm>

namespace engine {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/' || c == ':';
}

std::size_t NamePartStart(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    if (IsSeparator(name[i - 1])) return i;
  }
  return 0;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view ExtractFileExt(std::string_view name) {
  const std::size_t start = NamePartStart(name);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot < start) return {};
  return name.substr(dot);
}

std::string ChangeFileExt(std::string_view name, std::string_view ext) {
  const std::string_view current = ExtractFileExt(name);
  std::string out(name.substr(0, name.size() - current.size()));
  out += ext;
  return out;
}

std::string_view ExtractFileName(std::string_view name) {
  return name.substr(NamePartStart(name));
}

std::string_view ExtractFilePath(std::string_view name) {
  return name.substr(0, NamePartStart(name));
}

std::string BaseName(std::string_view name) {
  const std::string_view file = ExtractFileName(name);
  return Trim(file.substr(0, file.size() - ExtractFileExt(file).size()));
}

std::string IncludeTrailingBackslash(std::string_view path) {
  std::string out = Trim(path);
  if (!out.empty() && out.back() != '\\') out += '\\';
  return out;
}

bool HasPathChars(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return IsSeparator(c); });
}

std::string TableFileName(std::string_view directory, std::string_view name, std::string_view ext) {
  const std::string trimmed = Trim(name);
  std::string file = SameText(ExtractFileExt(trimmed), ext) ? trimmed : ChangeFileExt(trimmed, ext);
  std::string out(directory);
  out += file;
  return out;
}

TTableSetNames TableSetNames(std::string_view directory, std::string_view name, bool backup) {
  return TTableSetNames{TableFileName(directory, name, backup ? kDataBackupExt : kDataFileExt),
                        TableFileName(directory, name, backup ? kIndexBackupExt : kIndexFileExt),
                        TableFileName(directory, name, backup ? kBlobBackupExt : kBlobFileExt)};
}

}  // namespace engine
