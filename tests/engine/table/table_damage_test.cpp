// Damage the table-set checker must find, and what the engine does when it
// meets the same damage: it copes, or it refuses with a code that names the
// damage (never a lock failure, never a wrapped counter).
#include <gtest/gtest.h>

#include "engine/storage/index_file.h"
#include "engine/table/damaged_sets.h"
#include "engine/table/table_check.h"

namespace table_test {
namespace {

using engine::CheckTableSet;

TEST_F(DamagedSetTest, SoundSetChecksClean) {
  MakeSoundSet();
  const auto report = CheckTableSet("D:\\Db\\Back");
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.liveRecords, kLiveRows);
}

TEST_F(DamagedSetTest, CheckerFindsEveryDamage) {
  for (const TDamage& d : DamageCases()) {
    MakeSoundSet();
    Apply(d);
    EXPECT_FALSE(CheckTableSet("D:\\Db\\Back").Ok()) << d.what;
    RemoveAll();
  }
}

TEST_F(DamagedSetTest, EngineNamesTheDamageItMeets) {
  for (const TDamage& d : DamageCases()) {
    MakeSoundSet();
    Apply(d);
    switch (d.meets) {
      case TMeets::kRefusedAtOpen:
        EXPECT_EQ(engine_test::EngineCodeOf([&] { OpenCursor(); }), d.code) << d.what;
        break;
      case TMeets::kInsertRefused: {
        auto c = OpenCursor();
        for (int i = 0; i < d.inserts; ++i) AddRow(*c, "n" + std::to_string(i), i, "q\\", "z");
        EXPECT_EQ(engine_test::EngineCodeOf([&] { AddRow(*c, "late", 9, "q\\", "z"); }), d.code)
            << d.what;
        break;
      }
      case TMeets::kBlobReadRefused: {
        auto c = OpenCursor();
        engine::TDataCursor::TRecordBuffer r;
        ASSERT_EQ(c->Next(&r), 0);
        ASSERT_EQ(c->GetString(r, kFileName), "a");
        EXPECT_EQ(engine_test::EngineCodeOf([&] { c->GetBlob(r, kFile); }), d.code) << d.what;
        break;
      }
      case TMeets::kCopes: {
        auto c = OpenCursor();
        for (int i = 0; i < 3; ++i) AddRow(*c, "n" + std::to_string(i), i, "q\\", "z");
        EXPECT_EQ(c->RecordCount(), kLiveRows + 3) << d.what;
        break;
      }
    }
    RemoveAll();
  }
}

// A record count at the limit of the format cannot be raised or lowered past
// it: the index file refuses instead of wrapping the signed count.
TEST_F(DamagedSetTest, IndexRecordCountNeverWraps) {
  engine::TSimpleStorageHost host;
  engine::TIndexFile index(nullptr, &host);
  index.SetFileName("D:\\Db\\Counts.IDX");
  index.CreateNew();
  const struct {
    std::int32_t stored;
    bool up;
    int code;
  } cases[] = {
      {0x7FFFFFFF, true, engine::kErrHeaderCorrupt},
      {engine::kMaxRecordNumber, true, engine::kErrHeaderCorrupt},
      {0, false, engine::kErrHeaderCorrupt},
      {-1, true, engine::kErrHeaderCorrupt},
      {5, true, 0},
      {5, false, 0},
  };
  for (const auto& c : cases) {
    index.SetRecordCount(c.stored);
    EXPECT_EQ(
        engine_test::EngineCodeOf([&] { c.up ? index.IncRecordCount() : index.DecRecordCount(); }),
        c.code)
        << c.stored << (c.up ? " up" : " down");
  }
  index.Close();
}

}  // namespace
}  // namespace table_test
