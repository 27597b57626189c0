// Statement and filter texts of the backup catalog; see catalog_texts.h.
#include "app/core/catalog_texts.h"

namespace app {

std::string QuoteInside(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}

std::string CreateBackupTableText(std::string_view path) {
  return std::string("CREATE TABLE \"") + QuoteInside(path) + ".dat\" " + " (                    " +
         "  FileName CHAR(250), " + "  FileTime integer,  " + "  isZip Char(1),    " +
         "  Path Char(250),    " + "  File BLOB(0,2),    " +
         "  PRIMARY KEY (FileName,FileTime,Path) " + " ) ";
}

std::string InsertStatementText(std::string_view target) {
  return std::string("Insert into \"") + QuoteInside(target) + "\" " +
         " (FileName,FileTime,isZip,Path,File) " + "values " +
         " (:pFileName,:pFileTime,:pisZip,:pPath,:pFile)";
}

std::string UpdateStatementText(std::string_view target) {
  return std::string("UpDate \"") + QuoteInside(target) + "\"" +
         " set FileTime=:pFileTime,isZip=:pisZip,Path =:pPath,File=:pFile " +
         "where FileName =:pFileName " + " and Path =:pWherePath";
}

std::string FileFilterText(std::string_view name, std::string_view path) {
  return std::string("FileName = \"") + QuoteInside(name) + "\"" + " and Path =\"" +
         QuoteInside(path) + "\"";
}

}  // namespace app
