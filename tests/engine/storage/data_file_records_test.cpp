// Records of the data file: the free chain and its reuse rule, the counters and
// their wrap, append limits, the change counter and HeaderChanged, Empty.
#include <gtest/gtest.h>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;
namespace h = data_header;

class DataFileRecordsTest : public TableFilesTest {
 protected:
  void Delete(std::int32_t n) {
    TRecord* r = data->GetRecord(nullptr, n);
    data->FreeRecord(r);
    data->ReleaseRecord(r);
  }
  std::int32_t Insert() {
    TRecord* r = data->AllocateRecord(nullptr);
    const std::int32_t n = r->Number();
    r->Data()[kRecordStatusOffset] = kRecordInUse;
    data->MarkRecordChanged(r);
    data->ReleaseRecord(r);
    return n;
  }
  std::int32_t LinkOf(std::int32_t n) {
    TRecord* r = data->GetRecord(nullptr, n);
    const std::int32_t link = bytes::GetI32(r->Data() + kRecordLinkOffset);
    data->ReleaseRecord(r);
    return link;
  }
};

TEST_F(DataFileRecordsTest, FreeChainReusesLastDeletedFirst) {
  Create(CatalogFields());
  for (int i = 0; i < 10; ++i) AppendInt(261, i);
  Delete(3);
  Delete(5);
  EXPECT_EQ(data->FirstFree(), 5);
  EXPECT_EQ(LinkOf(5), 3);
  EXPECT_EQ(LinkOf(3), 0);
  Flush();
  Reopen();  // the chain survives on disk
  EXPECT_EQ(data->FirstFree(), 5);
  EXPECT_EQ(Insert(), 5);
  EXPECT_EQ(Insert(), 3);
  EXPECT_EQ(data->FirstFree(), 0);
  EXPECT_EQ(Insert(), 11);
  EXPECT_EQ(Insert(), 12);
}

TEST_F(DataFileRecordsTest, DeletingTwiceDoesNotHandTheRecordOutTwice) {
  Create(CatalogFields());
  for (int i = 0; i < 4; ++i) AppendInt(261, i);
  Delete(2);
  Delete(2);
  EXPECT_EQ(LinkOf(2), 0);
  EXPECT_EQ(Insert(), 2);
  EXPECT_EQ(Insert(), 5);
  // A chain stored linked to itself is cut, not followed.
  Delete(3);
  TRecord* r = data->GetRecord(nullptr, 3);
  bytes::PutI32(r->Data() + kRecordLinkOffset, 3);
  data->ReleaseRecord(r);
  EXPECT_EQ(Insert(), 3);
  EXPECT_EQ(data->FirstFree(), 0);
  EXPECT_EQ(Insert(), 6);
}

TEST_F(DataFileRecordsTest, TableWithoutPrimaryKeyAlwaysAppends) {
  Create(CatalogFields());
  data->SetHasPrimaryKey(false);
  for (int i = 0; i < 4; ++i) AppendInt(261, i);
  Delete(2);
  Delete(3);
  EXPECT_EQ(LinkOf(3), 0);  // the chain is never followed, so never linked
  EXPECT_EQ(Insert(), 5);
}

TEST_F(DataFileRecordsTest, DamagedChainIsNotFollowedIntoLiveRows) {
  Create(CatalogFields());
  for (int i = 0; i < 4; ++i) AppendInt(261, 100 + i);
  Flush();
  CloseAll();
  struct Case {
    std::int32_t firstFree;
    const char* what;
  } cases[] = {{2, "a record in use"}, {99, "beyond the file"}, {-4, "negative"}};
  for (const Case& c : cases) {
    PatchI32(Host("Back.DAT"), h::kFirstFree, c.firstFree);
    Reopen();
    const std::int32_t n = Insert();
    EXPECT_EQ(n, data->NextRecord() - 1) << c.what;  // appended
    TRecord* live = data->GetRecord(nullptr, 2);
    EXPECT_EQ(bytes::GetI32(live->Data() + 262), 101) << c.what;
    data->ReleaseRecord(live);
    Flush();
    CloseAll();
  }
}

TEST_F(DataFileRecordsTest, CountersWrapToOne) {
  Create(CatalogFields());
  struct Case {
    std::int32_t last;
    std::int32_t next;
  } cases[] = {{0, 1}, {41, 42}, {2147483646, 2147483647}, {2147483647, 1}};
  for (const Case& c : cases) {
    data->SetLastAutoIncrement(c.last);
    EXPECT_EQ(data->NextAutoIncrement(), c.next);
    EXPECT_EQ(data->LastAutoIncrement(), c.next);
  }
  // The BLOB id counter lives at offset 112 and wraps the same way.
  Flush();
  CloseAll();
  for (const Case& c : cases) {
    PatchI32(Host("Back.DAT"), h::kLastBlobId, c.last);
    Reopen();
    EXPECT_FALSE(data->HeaderModified());
    EXPECT_EQ(data->NextBlobId(), c.next);
    EXPECT_TRUE(data->HeaderModified());  // taking a value marks the header
    CloseAll();
  }
}

TEST_F(DataFileRecordsTest, AppendLimits) {
  struct Case {
    bool catalog;  // R = 530; otherwise one INTEGER field, R = 14
    std::int32_t next;
    int code;
  } cases[] = {
      {false, 99999999, 0},               // record 99,999,999 is the last one
      {false, 100000000, kErrTableFull},  // record 100,000,000 is refused
      {true, 3773584, 0},                 // 3,773,584 * 530 = 1,999,999,520
      {true, 3773585, kErrTableFull},     // 3,773,585 * 530 = 2,000,000,050
  };
  for (const Case& c : cases) {
    Create(c.catalog ? CatalogFields() : LaidOut({Field("N", kFieldInt32)}));
    Flush();
    CloseAll();
    blob.reset();
    PatchI32(Host("Back.DAT"), h::kNextRecord, c.next);
    Reopen();
    EXPECT_EQ(EngineCodeOf([&] {
                TRecord* r = data->GetRecord(nullptr, c.next);
                EXPECT_EQ(r->Number(), c.next);
                data->ReleaseRecord(r);
              }),
              c.code)
        << c.next;
    EXPECT_EQ(data->NextRecord(), c.code == 0 ? c.next + 1 : c.next);
    data->DropCache();  // never write the huge file
    CloseAll();
  }
}

TEST_F(DataFileRecordsTest, HeaderChangedTakesTheStoredHeaderWithItsMarker) {
  Create(CatalogFields());
  Flush();
  Reopen();  // shared now: the creator held the file exclusively
  // A second handler on the same file plays another user.
  TSimpleStorageHost otherHost;
  TDataFile other(nullptr, &otherHost);
  other.SetFileName(kData);
  other.Open();
  EXPECT_FALSE(other.HeaderChanged());

  AppendInt(261, 1);
  data->WriteBack(false);
  data->WriteHeader(false, false);  // written because the marker was set: stores marker 1
  EXPECT_FALSE(data->HeaderModified());
  EXPECT_TRUE(other.HeaderChanged());
  EXPECT_EQ(other.ChangeCounter(), data->ChangeCounter());
  EXPECT_EQ(other.NextRecord(), 2);
  EXPECT_TRUE(other.HeaderModified());  // the writer's marker came along
  other.ReadHeader();                   // an explicit reload clears it
  EXPECT_FALSE(other.HeaderModified());
  EXPECT_FALSE(other.HeaderChanged());

  // A marked change raises the counter in memory only.
  const std::int32_t before = data->ChangeCounter();
  data->MarkHeaderChanged();
  EXPECT_EQ(data->ChangeCounter(), before + 1);
  EXPECT_FALSE(other.HeaderChanged());
  other.Close();
}

TEST_F(DataFileRecordsTest, EmptyCutsTheFileAndResetsTheCounters) {
  Create(CatalogFields());
  for (int i = 0; i < 5; ++i) AppendInt(261, i);
  Delete(2);
  Flush();
  data->Empty();
  EXPECT_EQ(data->ChangeCounter(), 0);
  EXPECT_EQ(data->FirstFree(), 0);
  EXPECT_EQ(data->NextRecord(), 1);
  EXPECT_EQ(data->LastAutoIncrement(), 0);
  EXPECT_TRUE(data->HeaderModified());
  EXPECT_EQ(data->CachedCount(), 0u);
  data->WriteHeader(false, false);
  EXPECT_EQ(ReadBytes(Host("Back.DAT")).size(), 3967u);
  EXPECT_TRUE(data->Diagnose().empty());
}

}  // namespace
}  // namespace engine_test
