// Helpers of the statement execution tests: a session with its directory
// (and PrivateDir) on drive D:, and statements run from their text with the
// result read back as lines of tab-separated values (sql_result_text.h).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/sql/sql_prepared.h"
#include "engine/sql/sql_result_text.h"
#include "engine/table/table_test_util.h"

namespace sql_test {

// The lines of a result: the header of column names, then one per row.
inline std::vector<std::string> ResultLines(engine::TDataCursor& cursor) {
  std::vector<std::string> lines;
  std::string header;
  for (std::uint32_t f = 1; f <= cursor.FieldCount(); ++f)
    header += (f > 1 ? "\t" : "") + cursor.Fields()[f - 1].Name();
  lines.push_back(header);
  engine::TDataCursor::TRecordBuffer record(cursor.RecordSize());
  cursor.First();
  while (cursor.Next(&record) == engine::kNavOk) {
    std::string line;
    for (std::uint32_t f = 1; f <= cursor.FieldCount(); ++f)
      line += (f > 1 ? "\t" : "") + engine::FormatFieldText(cursor, record, f);
    lines.push_back(line);
  }
  return lines;
}

class SqlTest : public table_test::TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    session_->SetPrivateDir("D:\\Db");
  }
  // Runs a SELECT; the header line, then one line per row.
  std::vector<std::string> Query(const std::string& text,
                                 const engine::TStatementOptions& options = {}) {
    engine::TPreparedStatement s(dir_, text, options);
    engine::TDataCursor* cursor = s.Executor().Execute();
    EXPECT_NE(cursor, nullptr) << text;
    if (cursor == nullptr) return {};
    return ResultLines(*cursor);
  }
  // Runs any statement; its RowsAffected.
  int Exec(const std::string& text) {
    engine::TPreparedStatement s(dir_, text);
    s.Executor().Execute();
    return s.Executor().RowsAffected();
  }
  // The first entry's message of the engine error that preparing and
  // running `text` raises ("" when none).
  std::string ErrorOf(const std::string& text) {
    try {
      engine::TPreparedStatement s(dir_, text);
      s.Executor().Execute();
    } catch (const engine::EZORVADEngineError& e) {
      return std::to_string(e.ErrorCode()) + " " + e.Errors(0).Message();
    }
    return {};
  }
};

}  // namespace sql_test
