// A stand-in for the engine's statements behind the query component: it
// records what the query hands over (settings, engine text, parameter
// record) and answers as a SELECT with a cursor on a table of the
// statement's directory (the table named after "from" in the text) or as
// any other statement with a row count. Installed while a FakeStatements
// object lives.
#pragma once

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/query_statement.h"
#include "engine/errors.h"
#include "engine/table/data_cursor.h"

namespace components_test {

struct FakeLog {
  std::vector<engine::TQueryStatementSettings> settings;
  std::vector<std::string> prepared;
  std::vector<engine::TParamRecord> bound;
  std::vector<int> maxRowCounts;  // passed after preparing
  int executions = 0;
  int alive = 0;  // statements not yet freed
  // Answers.
  std::string failPrepareOn;  // a text that raises 11949 at Prepare
  bool failExecute = false;
  bool selectWithoutCursor = false;
  std::int64_t rowCount = 1;
  bool cursorBelongsToStatement = false;
  std::vector<int> progress = {50, 100};
};

class FakeStatement : public engine::TQueryStatementPort {
 public:
  FakeStatement(FakeLog& log, engine::TQueryStatementSettings settings)
      : FLog(log), FSettings(settings) {
    ++FLog.alive;
    FLog.settings.push_back(settings);
  }
  ~FakeStatement() override { --FLog.alive; }
  void Prepare(const std::string& text) override {
    if (!FLog.failPrepareOn.empty() && text == FLog.failPrepareOn)
      engine::RaiseEngineError(engine::kErrSql, {}, {}, "bad statement");
    FLog.prepared.push_back(text);
    FText = text;
  }
  void SetMaxRowCount(int n) override { FLog.maxRowCounts.push_back(n); }
  int BindParams(const engine::TParamRecord& params) override {
    FLog.bound.push_back(params);
    return 0;
  }
  void Execute() override {
    ++FLog.executions;
    for (int p : FLog.progress) {
      bool abort = false;
      if (OnProgress) OnProgress(p, abort);
      if (abort) break;
    }
    if (FLog.failExecute) engine::RaiseEngineError(engine::kErrSql, {}, {}, "execution failed");
    const std::size_t from = Lower(FText).find("from ");
    if (Lower(FText).rfind("select", 0) == 0 && from != std::string::npos &&
        !FLog.selectWithoutCursor) {
      std::string table = FText.substr(from + 5);
      table = table.substr(0, table.find(' '));
      FCursor = std::make_unique<engine::TDataCursor>(FSettings.directory, table);
      FCursor->Open();
    }
  }
  engine::TDataCursor* ResultCursor(bool& ownedByCaller) override {
    ownedByCaller = !FLog.cursorBelongsToStatement;
    return ownedByCaller ? FCursor.release() : FCursor.get();
  }
  std::int64_t RowCount() const override { return FLog.rowCount; }
  std::uint32_t ExecutionTime() const override { return 7; }

 private:
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  FakeLog& FLog;
  engine::TQueryStatementSettings FSettings;
  std::string FText;
  std::unique_ptr<engine::TDataCursor> FCursor;
};

class FakeStatements {
 public:
  FakeStatements() {
    previous_ = engine::SetQueryStatementFactory([this](const engine::TQueryStatementSettings& s) {
      return std::make_unique<FakeStatement>(log, s);
    });
  }
  ~FakeStatements() { engine::SetQueryStatementFactory(previous_); }
  FakeStatements(const FakeStatements&) = delete;
  FakeStatements& operator=(const FakeStatements&) = delete;

  FakeLog log;

 private:
  engine::TQueryStatementFactory previous_;
};

}  // namespace components_test
