// One shell session (shell.h).
#include "shell.h"

#include <cctype>
#include <exception>
#include <string_view>

#include "engine/components/field_types.h"
#include "engine/components/zorvad_database.h"
#include "engine/components/zorvad_query.h"
#include "engine/components/zorvad_session.h"
#include "engine/errors.h"
#include "engine/sql/sql_result_text.h"
#include "engine/table/data_cursor.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace orvsql {

namespace {

constexpr const char* kDatabaseName = "orvsql";

void PrintResult(engine::TDataCursor& cursor, std::FILE* out) {
  std::string line;
  for (std::uint32_t f = 1; f <= cursor.FieldCount(); ++f) {
    if (f > 1) line += '\t';
    line += engine::EscapeText(cursor.Fields()[f - 1].Name());
  }
  std::fprintf(out, "%s\n", line.c_str());
  engine::TDataCursor::TRecordBuffer record(cursor.RecordSize());
  cursor.First();
  while (cursor.Next(&record) == engine::kNavOk) {
    line.clear();
    for (std::uint32_t f = 1; f <= cursor.FieldCount(); ++f) {
      if (f > 1) line += '\t';
      line += engine::FormatFieldText(cursor, record, f);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
}

// Rows as they are produced: the same lines as PrintResult prints for the
// statement's result table.
void PrintRows(engine::TRowStream& rows, std::FILE* out) {
  std::string line;
  for (std::size_t i = 0; i < rows.ColumnCount(); ++i) {
    if (i > 0) line += '\t';
    line += engine::EscapeText(rows.ColumnName(i));
  }
  std::fprintf(out, "%s\n", line.c_str());
  while (rows.Next()) {
    line.clear();
    for (std::size_t i = 0; i < rows.ColumnCount(); ++i) {
      if (i > 0) line += '\t';
      line += engine::FormatValueText(*rows.Value(i));
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
}

// The statement's first keyword, upper-cased, after blanks and /* */
// comments: it tells a SELECT (opened for its rows) and the data definition
// statements (which print OK) from the rest.
std::string FirstKeyword(std::string_view text) {
  std::size_t i = 0;
  for (;;) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    if (text.substr(i, 2) != "/*") break;
    const std::size_t end = text.find("*/", i + 2);
    if (end == std::string_view::npos) return {};
    i = end + 2;
  }
  std::string word;
  while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])) != 0)
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
  return word;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = std::toupper(static_cast<unsigned char>(a[i]));
    const int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Shell::Shell(const std::string& directory, ParamValues params) : params_(std::move(params)) {
  const std::string path =
      directory.empty() ? platform::GetCurrentDirectory() : platform::FromUserPath(directory);
  engine::TZORVADSession& session = engine::Sessions().DefaultSession();
  // Result tables of SELECT live in the temporary directory while printed.
  session.SetPrivateDir(platform::GetTempPath());
  database_ = std::make_unique<engine::TZORVADDatabase>();
  database_->SetDatabaseName(kDatabaseName);
  database_->SetDirectory(path);
  database_->Open();
}

Shell::~Shell() {
  try {
    database_->Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the shell ends anyway
  }
}

bool Shell::Run(const std::string& statement, std::FILE* out, std::FILE* err) {
  try {
    engine::TZORVADQuery query;
    query.SetDatabaseName(kDatabaseName);
    query.SetSQLText(statement);
    for (int i = 0; i < query.Params().Count(); ++i) {
      engine::TZORVADParam& param = query.Params()[i];
      const auto given = params_.find(param.Name());
      if (given == params_.end()) continue;
      if (given->second.fromFile) {
        param.LoadFromFile(platform::FromUserPath(given->second.text), engine::ftBlob);
      } else {
        param.SetAsString(given->second.text);
      }
    }
    const std::string keyword = FirstKeyword(statement);
    if (keyword == "SELECT") {
      if (std::unique_ptr<engine::TRowStream> rows = query.OpenRows()) {
        PrintRows(*rows, out);
      } else {
        query.Open();
        PrintResult(*query.Handle(), out);
        query.Close();
      }
    } else {
      query.ExecSQL();
      if (keyword == "CREATE" || keyword == "ALTER" || keyword == "DROP") {
        std::fprintf(out, "OK\n");
      } else {
        std::fprintf(out, "%lld rows affected\n", static_cast<long long>(query.RowsAffected()));
      }
    }
    std::fflush(out);
    return true;
  } catch (const engine::EZORVADEngineError& e) {
    std::string text = e.Errors(0).Message();
    for (int i = 1; i < e.ErrorCount(); ++i) text += "; " + e.Errors(i).Message();
    std::fprintf(err, "error %d: %s\n", static_cast<int>(static_cast<std::uint16_t>(e.ErrorCode())),
                 text.c_str());
  } catch (const engine::EDatabaseError& e) {
    std::fprintf(err, "error 0: %s\n", e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(err, "error 0: %s\n", e.what());
  }
  std::fflush(out);
  std::fflush(err);
  return false;
}

}  // namespace orvsql
