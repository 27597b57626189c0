// Fuzz harness for filter texts: the lexer, the grammar, type analysis,
// preparation, index-assisted bitmaps and record-by-record evaluation.
//
// Every input is a filter text (the first byte picks the filter options and
// the cursor's order) installed on a small table with a primary key, a
// case-insensitive secondary index, NULLs and deleted records. An input may
// be refused with an engine error; it may never crash, hang or leak, and an
// accepted filter must leave a count no larger than the table.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORV_BUILD_FUZZ=ON -DORV_BUILD_TESTS=OFF \
//       -DORV_BUILD_GUI=OFF
//   ninja -C build-fuzz engine_filter_fuzz
//   build-fuzz/fuzz/engine/engine_filter_fuzz -max_total_time=300 -max_len=256 \
//       fuzz/engine/sql/filter_corpus
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "../fuzz_scratch.h"
#include "engine/errors.h"
#include "engine/sql/filter.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "platform/paths.h"

namespace {

constexpr int kRows = 64;
enum Field : std::uint32_t { kId = 1, kName, kNum, kWhen, kMoney };

engine::TTableDefinition Definition() {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Id", engine::kFieldInt32);
  engine::AppendField(d.fields, "Name", engine::kFieldString, 12);
  engine::AppendField(d.fields, "Num", engine::kFieldInt16);
  engine::AppendField(d.fields, "When", engine::kFieldDate);
  engine::AppendField(d.fields, "Money", engine::kFieldFloat);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {kId};
  engine::TIndexDefinition byName;
  byName.name = "ByName";
  byName.caseInsensitive = true;
  byName.fieldNumbers = {kName};
  d.indexes = {primary, byName};
  return d;
}

struct Fixture {
  std::unique_ptr<engine::TDataSession> session;
  std::unique_ptr<engine::TDataCursor> cursor;
};

Fixture& Table() {
  static Fixture fixture = [] {
    fuzz_scratch::MakeDriveF();
    Fixture f;
    f.session = std::make_unique<engine::TDataSession>();
    engine::TDataDirectory* dir = f.session->OpenDirectory("", "F:\\");
    fuzz_scratch::CreateTable(dir, "Fuzz", Definition());
    f.cursor = std::make_unique<engine::TDataCursor>(dir, "Fuzz");
    f.cursor->Open();
    const char* const names[] = {"abc", "ABD", "b", "", "x*y", "%_", "Zz", "abc "};
    for (int i = 1; i <= kRows; ++i) {
      auto r = f.cursor->NewRecord();
      f.cursor->PutInteger(r, kId, i);
      if (i % 9 == 0) {
        f.cursor->PutNull(r, kName);
      } else {
        f.cursor->PutString(r, kName, names[i % 8]);
      }
      f.cursor->PutInteger(r, kNum, (i * 7) % 13 - 6);
      f.cursor->PutInteger(r, kWhen, 730000 + i);
      f.cursor->PutDouble(r, kMoney, i * 1.25);
      f.cursor->Insert(r);
    }
    for (int i = 5; i <= kRows; i += 11) {
      engine::TDataCursor::TRecordBuffer r;
      f.cursor->SetRecordPosition(i - i / 11);
      if (f.cursor->ReadCurrent(&r) == engine::kNavOk) f.cursor->Delete(r);
    }
    return f;
  }();
  return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Fixture& f = Table();
  engine::TDataCursor& c = *f.cursor;
  const std::uint8_t mode = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  engine::TFilterOptions options = engine::TFilterOptions::FromBits(mode & 3);
  options.countInversion = (mode & 4) != 0;
  c.SelectIndex((mode & 8) != 0 ? engine::kNaturalOrder : ((mode & 16) != 0 ? 1 : 0));
  engine::TFilterList& filters = c.Filters();
  try {
    engine::TFilterHandle handle = filters.AddText(text, options);
    try {
      filters.Activate(handle);
      if (c.RecordCount() > kRows) std::abort();
      c.First();
      while (c.Next() == engine::kNavOk) {
      }
    } catch (const engine::EDatabaseError&) {
      // Evaluation errors (overflow, conversions) are engine errors.
    }
    filters.Remove(handle);
  } catch (const engine::EDatabaseError&) {
    // Refused texts leave the list as it was.
  }
  if (filters.Size() != 0) std::abort();
  return 0;
}
