// Helpers of the expression tests: parsing with the default settings, a
// small in-memory table that resolves and reads columns, a printer that shows
// a tree as nested lists, and an expectation for an expression error.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/sql/expr_analysis.h"
#include "engine/sql/expr_eval.h"
#include "engine/sql/expr_parser.h"
#include "engine/values/format_settings.h"

namespace expr_test {

using engine::ExpTree;
using engine::TExpToken;

struct TestColumn {
  std::string name;
  int type;
  int subType = 0;
  int size = 0;
  int scale = 0;
};

// Columns with one row of values. Values start NULL.
class TestTable : public engine::ColumnResolver, public engine::ColumnReader {
 public:
  explicit TestTable(std::vector<TestColumn> columns);

  bool ResolveColumn(TExpToken& node) override;
  void ReadColumn(const TExpToken& column, TExpToken& value) override;

  // The value node of a column, to set its value (SetString, SetInt32 ...).
  TExpToken& Value(const std::string& name);
  void SetNull(const std::string& name) { Value(name).SetNull(); }

 private:
  std::vector<TestColumn> columns_;
  std::vector<ExpTree> row_;
};

// A table with one column of each kind, named after its type:
// Str CHAR(20), Memo BLOB memo, Bin BLOB binary, Day DATE, Flag BOOLEAN,
// Small SMALLINT, Int INTEGER, Real FLOAT, Money DECIMAL(,2), Raw BYTES(4),
// Clock TIME, Stamp TIMESTAMP, Word WORD; also FileName and Path CHAR(250).
TestTable MakeAllTypesTable();

// Parses `text` as the whole of an expression; fails the test when tokens
// are left over.
ExpTree Parse(const std::string& text, int permissions = engine::kPermitExtended,
              std::vector<TExpToken*>* parameters = nullptr);
// Parses and analyses with `table` as resolver (a filter-like condition when
// `condition`).
ExpTree Analyse(const std::string& text, TestTable* table, bool condition = false,
                int permissions = engine::kPermitExtended);
// Parses, analyses and evaluates against the table's row.
ExpTree Evaluate(const std::string& text, TestTable& table);

// The tree as nested lists: (op left right), constants as written, strings
// quoted, NULL constants as NULL, columns by name.
std::string Dump(const TExpToken& node);

// Runs `action` and expects an engine error with `code` whose text is
// "SQL error - " + message (code 11949) or the filter form (10051).
void ExpectError(const std::function<void()>& action, const std::string& message,
                 int code = engine::kErrSql, const std::string& table = "");

}  // namespace expr_test
