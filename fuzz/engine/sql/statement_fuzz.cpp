// Fuzz harness for the SQL statement parser: the dispatch, the SELECT,
// INSERT, UPDATE and DELETE grammars with sub-selects and parameters, and the
// data definition grammars, over the expression grammar beneath them.
//
// Every input is one statement text. It may be refused, only with an SQL
// error (code 11949, "SQL error - ..."); it may never crash, hang or leak.
// An accepted statement must be consistent: a statement kind, every
// parameter a parameter node, every sub-select pointing at a block of the
// statement, and a stop offset inside the text; parsing it again into the
// same statement must accept it again with the same blocks and parameters.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORV_BUILD_FUZZ=ON -DORV_BUILD_TESTS=OFF \
//       -DORV_BUILD_GUI=OFF
//   ninja -C build-fuzz engine_statement_fuzz
//   build-fuzz/fuzz/engine/engine_statement_fuzz -max_total_time=300 -max_len=512 \
//       fuzz/engine/sql/statement_corpus
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/sql/sql_statement.h"

namespace {

constexpr int kErrSqlCode = engine::kErrSql;
constexpr char kSqlPrefix[] = "SQL error - ";

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every sub-select node of `root` must point at one of the statement's blocks.
void CheckSubSelects(const engine::TExpToken* root, const engine::TQueryStatement& statement) {
  std::vector<const engine::TExpToken*> pending;
  if (root) pending.push_back(root);
  while (!pending.empty()) {
    const engine::TExpToken* node = pending.back();
    pending.pop_back();
    if (node->tokenClass == engine::kClassSubSelect) {
      const bool known = std::any_of(statement.queries.begin(), statement.queries.end(),
                                     [&](const auto& q) { return q.get() == node->subQuery; });
      Check(known);
    }
    for (const engine::TExpToken* child : {node->left, node->right, node->third, node->next}) {
      if (child) pending.push_back(child);
    }
  }
}

void CheckAccepted(const engine::TQueryStatement& statement, std::size_t stop, std::size_t size) {
  const engine::TDataQuery& main = statement.MainQuery();
  Check(main.statementKind >= engine::kStatementSelect &&
        main.statementKind <= engine::kStatementDropIndex);
  Check(stop <= size);
  for (const engine::TExpToken* parameter : statement.parameters) {
    Check(parameter != nullptr && parameter->isParameter);
  }
  for (const auto& query : statement.queries) {
    CheckSubSelects(query->where.get(), statement);
    for (const auto& table : query->sourceTables) {
      Check(table->ordinal >= 1 && table->ordinal <= static_cast<int>(query->sourceTables.size()));
      Check(table->tableName.size() <= engine::kMaxStatementName);
    }
  }
}

// The outcome of one parse: empty on success, else the message.
std::string ParseOnce(engine::TQueryStatement& statement, const std::string& text) {
  try {
    const std::size_t stop = statement.Parse(text);
    CheckAccepted(statement, stop, text.size());
    return {};
  } catch (const engine::EZORVADEngineError& e) {
    Check(e.ErrorCode() == kErrSqlCode);
    const std::string message = e.Errors(0).Message();
    Check(message.rfind(kSqlPrefix, 0) == 0);
    return message;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  engine::TQueryStatement statement(nullptr);
  if (!ParseOnce(statement, text).empty()) return 0;
  const std::size_t blocks = statement.queries.size();
  const std::size_t parameters = statement.parameters.size();
  Check(ParseOnce(statement, text).empty());
  Check(statement.queries.size() == blocks && statement.parameters.size() == parameters);
  return 0;
}
