// Helpers of the statement parser tests: parsing a text without a directory,
// and a table-driven check of parse failures (code 11949, message word for
// word).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/errors.h"
#include "engine/sql/expr_test_util.h"
#include "engine/sql/sql_statement.h"

namespace statement_test {

// Parses `text` into a new statement; fails the test on an error.
inline std::unique_ptr<engine::TQueryStatement> Parse(const std::string& text) {
  auto statement = std::make_unique<engine::TQueryStatement>(nullptr);
  try {
    statement->Parse(text);
  } catch (const engine::EZORVADEngineError& e) {
    ADD_FAILURE() << text << "\n  raised: " << e.Errors(0).Message();
  }
  return statement;
}

// A query block in one line, each part only when present:
//   cols: a, t.b AS c, SUM(x), AVG{a * 2}, {a + 1}; into: [MEMORY] name;
//   from: table@directory AS correlation #ordinal [MEMORY], ...;
//   where: tree; group: a, t.b, 2; having: tree; order: a DESC, 2;
//   targets: a, b; values: 1, ?; flags: distinct several ...
std::string Describe(const engine::TDataQuery& query);

struct ErrorCase {
  const char* text;
  const char* message;  // without the "SQL error - " prefix
};

// Expects every text to fail with its message.
template <std::size_t N>
void ExpectErrors(const ErrorCase (&cases)[N]) {
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    engine::TQueryStatement statement(nullptr);
    expr_test::ExpectError([&] { statement.Parse(c.text); }, c.message);
  }
}

}  // namespace statement_test
