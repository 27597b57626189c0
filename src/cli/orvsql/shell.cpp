// One shell session (shell.h).
#include "shell.h"

#include <exception>

#include "engine/database_error.h"
#include "engine/errors.h"
#include "engine/sql/sql_prepared.h"
#include "engine/sql/sql_result_text.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace orvsql {

namespace {

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

}  // namespace

Shell::Shell(const std::string& directory) : session_(std::make_unique<engine::TDataSession>()) {
  const std::string path =
      directory.empty() ? platform::GetCurrentDirectory() : platform::FromUserPath(directory);
  directory_ = session_->OpenDirectory("", path);
  // Result tables of SELECT live in the temporary directory while printed.
  session_->SetPrivateDir(platform::GetTempPath());
}

Shell::~Shell() = default;

bool Shell::Run(const std::string& statement, std::FILE* out, std::FILE* err) {
  try {
    engine::TPreparedStatement prepared(directory_, statement);
    engine::TDataCursor* result = prepared.Executor().Execute();
    if (result != nullptr) {
      PrintResult(*result, out);
    } else if (prepared.IsDataDefinition()) {
      std::fprintf(out, "OK\n");
    } else {
      std::fprintf(out, "%d rows affected\n", prepared.Executor().RowsAffected());
    }
    std::fflush(out);
    return true;
  } catch (const engine::EZORVADEngineError& e) {
    std::string text = e.Errors(0).Message();
    for (int i = 1; i < e.ErrorCount(); ++i) text += "; " + e.Errors(i).Message();
    std::fprintf(err, "error %d: %s\n", static_cast<int>(static_cast<std::uint16_t>(e.ErrorCode())),
                 text.c_str());
  } catch (const std::exception& e) {
    std::fprintf(err, "error 0: %s\n", e.what());
  }
  std::fflush(out);
  std::fflush(err);
  return false;
}

}  // namespace orvsql
