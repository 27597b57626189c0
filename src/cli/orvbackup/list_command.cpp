// orvbackup list: one line per row of a backup file, or one JSON array.
//
//   2026-12-10T14:03:22  zip        20000  D:\Data\a.txt
//   2026-12-10T14:03:22  raw    unchanged  D:\Data\b.txt
// With --long the stored BLOB size and the CRC-32 stand before the path.
#include <cstdio>
#include <iostream>

#include "app/core/backup_list.h"
#include "app/core/path_patterns.h"
#include "commands.h"

namespace orvbackup {

namespace {

constexpr char kUnchanged[] = "unchanged";
constexpr char kNotKnown[] = "-";

std::string Kind(const app::CatalogRow& row) {
  return row.zipped ? "zip" : "raw";
}

std::string Crc(const app::CatalogRow& row) {
  if (!row.crcKnown) return kNotKnown;
  char text[9];
  std::snprintf(text, sizeof text, "%08x", row.crc);
  return text;
}

void PrintLine(const app::CatalogRow& row, bool longList) {
  const std::string size =
      row.contentless ? kUnchanged : (row.size < 0 ? kNotKnown : std::to_string(row.size));
  std::string line = app::DosTimeIso(row.time) + "  " + Kind(row) + "  ";
  char field[32];
  std::snprintf(field, sizeof field, "%12s", size.c_str());
  line += field;
  if (longList) {
    std::snprintf(field, sizeof field, "  %12s  %8s",
                  row.contentless ? kNotKnown : std::to_string(row.storedSize).c_str(),
                  Crc(row).c_str());
    line += field;
  }
  line += "  " + row.path + row.name + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
}

void PrintJson(const app::CatalogRow& row, bool first) {
  std::string text = first ? "\n  {" : ",\n  {";
  text += "\"path\": " + JsonString(row.path) + ", \"name\": " + JsonString(row.name);
  text += ", \"size\": " + (row.contentless || row.size < 0 ? "null" : std::to_string(row.size));
  text += ", \"time\": " + JsonString(app::DosTimeIso(row.time));
  text += ", \"kind\": " + JsonString(Kind(row));
  text += std::string(", \"unchanged\": ") + (row.contentless ? "true" : "false");
  text += ", \"stored\": " + (row.contentless ? "null" : std::to_string(row.storedSize));
  text += ", \"crc\": " + (row.crcKnown ? JsonString(Crc(row)) : "null");
  if (!row.problem.empty()) text += ", \"problem\": " + JsonString(row.problem);
  text += "}";
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

int ListCommand(const Options& o) {
  const app::PathPatterns patterns(o.patterns);
  bool failed = false;
  try {
    app::CatalogReader reader(o.backupFile);
    bool first = true;
    if (o.json) std::fputs("[", stdout);
    reader.ForEach(o.longList ? app::RowDetail::SizesAndCrc : app::RowDetail::Sizes,
                   [&](const app::CatalogRow& row) {
                     if (!patterns.Empty() && !patterns.MatchesRow(row.path + row.name)) return;
                     if (!row.problem.empty()) {
                       failed = true;
                       std::fprintf(stderr, "orvbackup: %s%s: %s\n", row.path.c_str(),
                                    row.name.c_str(), row.problem.c_str());
                     }
                     if (o.json) {
                       PrintJson(row, first);
                     } else {
                       PrintLine(row, o.longList);
                     }
                     first = false;
                   });
    if (o.json) std::fputs(first ? "]\n" : "\n]\n", stdout);
  } catch (const app::BackupOpenError& e) {
    std::fprintf(stderr, "orvbackup: %s\n", e.what());
    return kExitCannotOpen;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvbackup: reading the rows stopped: %s\n", e.what());
    return kExitFailed;
  }
  return failed ? kExitFailed : kExitOk;
}

}  // namespace orvbackup
