// Statements from two processes on one table: interleaved INSERTs and
// UPDATEs see each other's rows, and a SELECT ... WITH LOCKS keeps another
// process's writes out while it copies its rows.
#include "common/step_child.h"
#include "engine/sql/sql_test_util.h"

namespace {

using Lines = std::vector<std::string>;
using test_common::StepChild;

enum ChildStep { kOpen, kInsert, kUpdate };

class ProcessSqlTest : public sql_test::SqlTest {
 protected:
  void SetUp() override {
    SqlTest::SetUp();
    Exec("CREATE TABLE t (k INTEGER, who CHAR(6), n INTEGER, PRIMARY KEY (k))");
  }
  // The child's session on the same directory; each step runs one statement
  // and answers its RowsAffected, or the engine error's code negated.
  std::function<int(int)> ChildBody() {
    return [this](int step) -> int {
      engine_test::CountingSleep fast;  // refused locks retry without waiting
      try {
        switch (step) {
          case kOpen:
            childSession_ = std::make_unique<engine::TDataSession>();
            childSession_->SetPrivateDir("D:\\Db");
            childDir_ = childSession_->OpenDirectory("", "D:\\Db");
            return 0;
          case kInsert: {
            engine::TPreparedStatement s(
                childDir_,
                "INSERT INTO t VALUES (" + std::to_string(100 + childInserts_) + ", 'child', 0)");
            s.Executor().Execute();
            ++childInserts_;
            return s.Executor().RowsAffected();
          }
          case kUpdate: {
            engine::TPreparedStatement s(childDir_, "UPDATE t SET n = n + 1");
            s.Executor().Execute();
            return s.Executor().RowsAffected();
          }
          default:
            return -1;
        }
      } catch (const engine::EZORVADEngineError& e) {
        return -e.ErrorCode();
      }
    };
  }

  std::unique_ptr<engine::TDataSession> childSession_;
  engine::TDataDirectory* childDir_ = nullptr;
  int childInserts_ = 0;
};

TEST_F(ProcessSqlTest, InsertsAndUpdatesFromTwoProcesses) {
  StepChild child(ChildBody());
  ASSERT_EQ(child.Run(kOpen), 0);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Exec("INSERT INTO t VALUES (" + std::to_string(round) + ", 'parent', 0)"), 1);
    EXPECT_EQ(child.Run(kInsert), 1);
    // Each UPDATE meets every row so far, the other process's included.
    EXPECT_EQ(child.Run(kUpdate), 2 * round + 2);
    EXPECT_EQ(Exec("UPDATE t SET n = n + 1"), 2 * round + 2);
  }
  EXPECT_EQ(Query("SELECT who, COUNT(*), SUM(n) FROM t GROUP BY who"),
            (Lines{"who\tCount Of *\tSum Of n", "child\t3\t12", "parent\t3\t12"}));
}

TEST_F(ProcessSqlTest, SelectWithLocksKeepsWritersOutWhileItCopies) {
  for (int k = 0; k < 5; ++k) Exec("INSERT INTO t VALUES (" + std::to_string(k) + ", 'p', 0)");
  StepChild child(ChildBody());
  ASSERT_EQ(child.Run(kOpen), 0);
  for (const bool withLocks : {true, false}) {
    engine::TPreparedStatement s(dir_,
                                 std::string("SELECT k FROM t") + (withLocks ? " WITH LOCKS" : ""));
    std::vector<int> answers;
    s.Executor().OnProgress = [&](std::int64_t step, int, bool&) {
      if (step == 2) answers.push_back(child.Run(kInsert));
    };
    s.Executor().Execute();
    ASSERT_EQ(answers.size(), 1u);
    if (withLocks) {
      EXPECT_EQ(answers[0], -engine::kErrLockFailed);
      EXPECT_EQ(s.Executor().RowsAffected(), 5);
      // Released afterwards: the writer gets in.
      EXPECT_EQ(child.Run(kInsert), 1);
    } else {
      EXPECT_EQ(answers[0], 1);
    }
  }
  EXPECT_EQ(Query("SELECT COUNT(*) FROM t"), (Lines{"Count Of *", "7"}));
}

}  // namespace
