// The texts the application sends to the table engine about a backup file:
// the statements, built by concatenating their fragments exactly (blanks
// included), and the filter that finds one file's row.
//
// A value placed between double quotes has each double quote inside it
// doubled, which the lexer reads back as one: a file named  a"b.txt  is then
// backed up and found again instead of breaking the text.
#pragma once

#include <string>
#include <string_view>

namespace app {

// The engine's width of FileName and Path: a longer value would be cut.
inline constexpr std::size_t kCatalogNameWidth = 250;

// `value` with every double quote doubled.
std::string QuoteInside(std::string_view value);

// CREATE TABLE of a backup file at `path`, given without its extension.
std::string CreateBackupTableText(std::string_view path);
// INSERT of one row into the backup file at full path `target`.
std::string InsertStatementText(std::string_view target);
// UPDATE of the row of one name in one directory of the backup file `target`.
std::string UpdateStatementText(std::string_view target);
// The filter that selects the row of file `name` in directory `path`.
std::string FileFilterText(std::string_view name, std::string_view path);

}  // namespace app
