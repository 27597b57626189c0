// Fuzz harness for statement preparation and execution: statement texts
// parsed, turned into the executor's blocks, prepared against a small fixed
// set of tables and, where it stays cheap, executed.
//
// The tables: A (Id INTEGER primary key, Name CHAR(12) with a
// case-insensitive index, K SMALLINT with an index, Amount FLOAT) and B
// (K SMALLINT primary key, Label CHAR(8)), with NULLs. Every parameter is
// bound to a value picked by the first byte of the input (integer, string,
// float or NULL), so that key probes, filters and joins see typed constants;
// its top bit reads half of the SELECTs as a row stream, stopped after its
// first rows.
// A SELECT runs when its blocks join at most kMaxSourceTables tables and
// write no INTO table; INSERT, UPDATE and DELETE run inside a transaction
// that is rolled back, so every input meets the same tables. Data definition
// statements are only prepared.
//
// An input may be refused or fail with an engine error (any code); it may
// never crash, hang or leak, and a SELECT's result may never hold more rows
// than the cross product of its tables allows.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORV_BUILD_FUZZ=ON -DORV_BUILD_TESTS=OFF \
//       -DORV_BUILD_GUI=OFF
//   ninja -C build-fuzz engine_statement_run_fuzz
//   build-fuzz/fuzz/engine/engine_statement_run_fuzz -max_total_time=300 -max_len=256 \
//       fuzz/engine/sql/statement_run_corpus
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "../fuzz_scratch.h"
#include "engine/database_error.h"
#include "engine/errors.h"
#include "engine/sql/sql_prepared.h"
#include "engine/sql/sql_row_stream.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace {

// Twelve rows keep a three-table cross product (1,728 rows) quick enough
// under the sanitizers for the fuzzer to stay near a thousand runs a second.
constexpr int kRowsA = 12;
constexpr int kRowsB = 8;
constexpr std::size_t kMaxSourceTables = 3;
constexpr std::int64_t kMaxResultRows = kRowsA * kRowsA * kRowsA;
constexpr std::uint8_t kStreamBit = 0x80;  // in the first byte: read a SELECT as a stream
constexpr int kMaxStreamedRows = 200;

engine::TTableDefinition DefinitionA() {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 12);
  engine::AppendField(d.fields, "K", engine::kFieldInt16);
  engine::AppendField(d.fields, "Amount", engine::kFieldFloat);
  engine::TIndexDefinition primary, byName, byK;
  primary.fieldNumbers = {1};
  byName.name = "ByName";
  byName.caseInsensitive = true;
  byName.fieldNumbers = {2};
  byK.name = "ByK";
  byK.fieldNumbers = {3};
  d.indexes = {primary, byName, byK};
  return d;
}

engine::TTableDefinition DefinitionB() {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "K", engine::kFieldInt16);
  engine::AppendField(d.fields, "Label", engine::kFieldString, 8);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1};
  d.indexes = {primary};
  return d;
}

struct Fixture {
  std::unique_ptr<engine::TDataSession> session;
  engine::TDataDirectory* directory = nullptr;
};

Fixture& Tables() {
  static Fixture fixture = [] {
    fuzz_scratch::MakeDriveF();
    Fixture f;
    f.session = std::make_unique<engine::TDataSession>();
    f.session->SetPrivateDir("F:\\");
    f.directory = f.session->OpenDirectory("", "F:\\");
    fuzz_scratch::CreateTable(f.directory, "A", DefinitionA());
    fuzz_scratch::CreateTable(f.directory, "B", DefinitionB());
    const char* const names[] = {"abc", "ABD", "b", "x*y", "Zz", "abc "};
    engine::TDataCursor a(f.directory, "A");
    a.Open();
    for (int i = 1; i <= kRowsA; ++i) {
      auto r = a.NewRecord();
      a.PutInteger(r, 1, i);
      if (i % 7 == 0) {
        a.PutNull(r, 2);
      } else {
        a.PutString(r, 2, names[i % 6]);
      }
      if (i % 5 != 0) a.PutInteger(r, 3, i % kRowsB);
      a.PutDouble(r, 4, i * 0.5);
      a.Insert(r);
    }
    engine::TDataCursor b(f.directory, "B");
    b.Open();
    for (int k = 0; k < kRowsB; ++k) {
      auto r = b.NewRecord();
      b.PutInteger(r, 1, k);
      if (k != 3) b.PutString(r, 2, "l" + std::to_string(k));
      b.Insert(r);
    }
    return f;
  }();
  return fixture;
}

engine::ExpTree Parameter(std::uint8_t pick, std::size_t i) {
  engine::ExpTree t = engine::NewToken();
  switch ((pick + i) % 4) {
    case 0:
      t->SetType(engine::kFieldInt32, 0, 4, 0);
      t->SetInt32(static_cast<std::int32_t>(pick % 9));
      break;
    case 1:
      t->SetType(engine::kFieldString, 0, 13, 0);
      t->SetString((pick & 16) != 0 ? "abc" : "l2");
      break;
    case 2:
      t->SetType(engine::kFieldFloat, 0, 8, 0);
      t->SetDouble(pick * 0.25);
      break;
    default:
      t->SetType(engine::kFieldInt32, 0, 4, 0);
      t->SetNull();
      break;
  }
  return t;
}

bool Cheap(const engine::TQueryStatement& parsed) {
  for (const auto& q : parsed.queries) {
    if (q->sourceTables.size() > kMaxSourceTables) return false;
    if (!q->resultTableName.empty()) return false;
  }
  return true;
}

void Run(engine::TPreparedStatement& statement, std::uint8_t pick) {
  engine::TQueryExecutor& e = statement.Executor();
  for (std::size_t i = 0; i < e.ParameterCount(); ++i) e.SetParameter(i, *Parameter(pick, i));
  if (statement.Kind() == engine::TQueryKind::Select && (pick & kStreamBit) != 0) {
    // Half of the SELECTs are read as a stream, and only their first rows:
    // a stream may be left anywhere.
    std::unique_ptr<engine::TRowStream> rows = e.OpenRows();
    for (int n = 0; n < kMaxStreamedRows && rows->Next(); ++n) {
      for (std::size_t i = 0; i < rows->ColumnCount(); ++i) {
        if (!rows->IsNull(i)) (void)rows->Bytes(i);
      }
    }
    return;
  }
  engine::TDataCursor* result = e.Execute();
  if (result == nullptr) return;
  if (result->RecordCount() > kMaxResultRows) std::abort();
  engine::TDataCursor::TRecordBuffer record(result->RecordSize());
  result->First();
  while (result->Next(&record) == engine::kNavOk) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Fixture& f = Tables();
  const std::uint8_t pick = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    engine::TQueryStatement parsed(nullptr);
    try {
      parsed.Parse(text);
    } catch (const engine::EDatabaseError&) {
      return 0;
    }
    if (!Cheap(parsed)) return 0;
  }
  try {
    engine::TPreparedStatement statement(f.directory, text);
    if (statement.IsDataDefinition()) return 0;
    if (statement.Kind() == engine::TQueryKind::Select) {
      Run(statement, pick);
      return 0;
    }
    f.directory->StartTransaction();
    try {
      Run(statement, pick);
    } catch (const engine::EDatabaseError&) {
      f.directory->Rollback();
      throw;
    }
    f.directory->Rollback();
  } catch (const engine::EDatabaseError&) {
    // Refused by preparation or failed at execution: an engine error.
  }
  return 0;
}
