// The index file on disk: a new file's header, the backup catalog's primary
// key bytes and page layout (one page, then the split of the eighth key),
// merge and redistribution at capacity 7, free lists per index, and the
// errors of index definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/storage/index_test_util.h"

namespace engine_test {
namespace {

using namespace engine;

class CatalogIndexTest : public IndexFileTest {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    fields = CatalogFields();
    CreateIndex();
    index->DefinePrimaryIndex(CatalogPrimaryKey(), fields);
    layout = Layout(kPrimarySlot);
  }
  std::vector<std::uint8_t> Key(const std::string& name, std::int32_t time,
                                const std::string& path) {
    RecordBuilder r(fields);
    r.Str(1, name).Int(2, time).Str(3, "N").Str(4, path);
    return layout.BuildKey(r.Bytes().data(), r.Bytes().size());
  }
  // Keys "FileA".."FileH" (in order) with record numbers 1..n.
  void InsertFiles(int n) {
    TIndexTree tree(*index, kPrimarySlot, layout);
    for (int i = 0; i < n; ++i) {
      tree.Insert(Key(std::string("File") + static_cast<char>('A' + i), 1, "C:\\Data\\").data(),
                  i + 1);
    }
  }
  TKeyLayout layout;
};

TEST_F(IndexFileTest, NewFileIsOneHeaderWithTheSystemIndex) {
  CreateIndex();
  const std::vector<std::uint8_t> bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(bytes[kIdxHdrFormat], 4);
  EXPECT_EQ(bytes::GetI32(&bytes[kIdxHdrEndPosition]), 4096);
  EXPECT_EQ(bytes[kIdxHdrSecondaryCount], 0);
  EXPECT_EQ(bytes::GetI32(&bytes[kIdxHdrRecordCount]), 0);
  const std::size_t system = kIdxHdrDescriptors + 31 * kDescriptorSize;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[system + 1]), bytes[system]),
            "Sys Deleted");
  EXPECT_EQ(bytes::GetI16(&bytes[system + kDescKeyLength]), 5);
  EXPECT_EQ(bytes[system + kDescFieldCount], 0);
  EXPECT_EQ(bytes[system + kDescCompression], 0);
  // Everything else of the descriptors is zero.
  for (std::size_t i = kIdxHdrDescriptors; i < system; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST_F(CatalogIndexTest, PrimaryKeyDescriptorAndKeyBytes) {
  Flush();
  std::vector<std::uint8_t> bytes = FileBytes();
  const std::uint8_t* slot0 = &bytes[kIdxHdrDescriptors];
  EXPECT_EQ(slot0[0], 0);  // empty name
  EXPECT_EQ(slot0[31], 0xFD);
  EXPECT_EQ(slot0[32], 0x01);  // 509
  EXPECT_EQ(slot0[33], 0);
  EXPECT_EQ(slot0[34], 0);
  EXPECT_EQ(slot0[35], 1);
  EXPECT_EQ(slot0[36], 0);
  EXPECT_EQ(slot0[37], 3);
  const std::vector<std::uint8_t> numbers(slot0 + 54, slot0 + 60);
  EXPECT_EQ(numbers, (std::vector<std::uint8_t>{1, 0, 2, 0, 4, 0}));
  EXPECT_EQ(bytes[kIdxHdrNoPrimaryKey], 0);
  EXPECT_EQ(bytes[kIdxHdrSecondaryCount], 0);

  const std::vector<std::uint8_t> key = Key("Hello", 1, "C:\\Data\\");
  ASSERT_EQ(key.size(), 509u);
  std::vector<std::uint8_t> expected(509, 0);
  expected[0] = 1;
  std::memcpy(&expected[1], "Hello", 5);
  expected[252] = 1;
  expected[253] = 0x80;
  expected[256] = 0x01;
  expected[257] = 1;
  std::memcpy(&expected[258], "C:\\Data\\", 8);
  EXPECT_EQ(key, expected);
  const std::vector<std::uint8_t> minusOne = Key("Hello", -1, "C:\\Data\\");
  EXPECT_EQ(std::vector<std::uint8_t>(minusOne.begin() + 253, minusOne.begin() + 257),
            (std::vector<std::uint8_t>{0x7F, 0xFF, 0xFF, 0xFF}));

  // One row: a single type 3 page with the key and the record number.
  TIndexTree tree(*index, kPrimarySlot, layout);
  tree.Insert(key.data(), 42);
  Flush();
  bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 8192u);
  const std::uint8_t* page = &bytes[4096];
  EXPECT_EQ(page[kPageType], kPageRootLeaf);
  EXPECT_EQ(bytes::GetU16(page + kPageCount), 1);
  EXPECT_EQ(bytes::GetI32(page + kPagePrev), 0);
  EXPECT_EQ(bytes::GetI32(page + kPageNext), 0);
  EXPECT_EQ(bytes::GetU16(page + kPageUsed), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(page + 13, page + 13 + 509), expected);
  EXPECT_EQ(bytes::GetI32(page + 13 + 509), 42);
  EXPECT_EQ(bytes::GetI32(&bytes[kIdxHdrDescriptors + kDescRoot]), 4096);
}

TEST_F(CatalogIndexTest, UpperCaseSortsFirstAndTimeOrdersEqualNames) {
  TIndexTree tree(*index, kPrimarySlot, layout);
  tree.Insert(Key("apple", 1, "C:\\").data(), 1);
  tree.Insert(Key("Zebra", 1, "C:\\").data(), 2);
  tree.Insert(Key("Same", 5, "A:\\").data(), 3);
  tree.Insert(Key("Same", -5, "Z:\\").data(), 4);
  tree.Insert(Key("Same", 5, "B:\\").data(), 5);
  std::vector<std::int32_t> order;
  TIndexPosition at;
  for (bool ok = tree.First(at); ok; ok = tree.Next(at)) order.push_back(tree.RecordAt(at));
  EXPECT_EQ(order, (std::vector<std::int32_t>{4, 3, 5, 2, 1}));
}

TEST_F(CatalogIndexTest, EighthKeySplitsIntoFourAndFourUnderANewRoot) {
  ASSERT_EQ(LeafCapacity(509), 7);
  InsertFiles(7);
  Flush();
  EXPECT_EQ(FileBytes().size(), 8192u);  // still one page
  TIndexTree tree(*index, kPrimarySlot, layout);
  tree.Insert(Key("FileH", 1, "C:\\Data\\").data(), 8);
  Flush();
  const std::vector<std::uint8_t> bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 4096u * 4);
  // Page 4096 kept the first four, 8192 took the last four, 12288 is the root.
  const std::uint8_t* left = &bytes[4096];
  const std::uint8_t* right = &bytes[8192];
  const std::uint8_t* root = &bytes[12288];
  EXPECT_EQ(bytes::GetI32(&bytes[kIdxHdrDescriptors + kDescRoot]), 12288);
  EXPECT_EQ(left[kPageType], kPageLeaf);
  EXPECT_EQ(right[kPageType], kPageLeaf);
  EXPECT_EQ(bytes::GetU16(left + kPageCount), 4);
  EXPECT_EQ(bytes::GetU16(right + kPageCount), 4);
  EXPECT_EQ(bytes::GetI32(left + kPageNext), 8192);
  EXPECT_EQ(bytes::GetI32(right + kPagePrev), 4096);
  EXPECT_EQ(bytes::GetI32(left + kPagePrev), 0);
  EXPECT_EQ(bytes::GetI32(right + kPageNext), 0);
  EXPECT_EQ(root[kPageType], kPageRoot);
  EXPECT_EQ(bytes::GetU16(root + kPageCount), 2);
  const std::size_t entry = 509 + 8;
  EXPECT_EQ(bytes::GetI32(root + 13 + 509), 4096);
  EXPECT_EQ(bytes::GetI32(root + 13 + 513), 4);
  EXPECT_EQ(bytes::GetI32(root + 13 + entry + 509), 8192);
  EXPECT_EQ(bytes::GetI32(root + 13 + entry + 513), 4);
  // The root's second key is the right page's first key ("FileE").
  EXPECT_EQ(std::memcmp(root + 13 + entry, right + 13, 509), 0);
  EXPECT_EQ(std::memcmp(right + 14, "FileE", 5), 0);
  // Record numbers follow each key: the k-th entry at 13 + (k - 1) * 513.
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(bytes::GetI32(left + 13 + (k - 1) * 513 + 509), k);
    EXPECT_EQ(bytes::GetI32(right + 13 + (k - 1) * 513 + 509), k + 4);
  }
  ExpectSound();
}

TEST_F(CatalogIndexTest, UnderflowMergesOrRedistributes) {
  // 8 keys: [A..D][E..H]. Deleting A and B leaves 2 entries (capacity 7
  // underflows below 3); the partner holds 4, so the page is merged into it
  // and the root, left with one entry, gives way to the merged page.
  InsertFiles(8);
  TIndexTree tree(*index, kPrimarySlot, layout);
  ASSERT_TRUE(tree.Delete(Key("FileA", 1, "C:\\Data\\").data(), 1));
  ASSERT_TRUE(tree.Delete(Key("FileB", 1, "C:\\Data\\").data(), 2));
  {
    TPageRef root = index->RootPage(kPrimarySlot);
    EXPECT_EQ(root->Type, kPageRootLeaf);
    EXPECT_EQ(root->Count(), 6);
    EXPECT_EQ(root->Position, 8192);
  }
  // Both the emptied leaf and the old root are on the index's free list.
  EXPECT_EQ(index->FirstFree(kPrimarySlot), 12288);
  ExpectSound();
}

TEST_F(CatalogIndexTest, UnderflowWithAFullerPartnerRedistributes) {
  InsertFiles(9);  // [A..D][E..I]: the partner holds 5
  TIndexTree tree(*index, kPrimarySlot, layout);
  ASSERT_TRUE(tree.Delete(Key("FileA", 1, "C:\\Data\\").data(), 1));
  ASSERT_TRUE(tree.Delete(Key("FileB", 1, "C:\\Data\\").data(), 2));
  TPageRef root = index->RootPage(kPrimarySlot);
  ASSERT_EQ(root->Type, kPageRoot);
  ASSERT_EQ(root->Count(), 2);
  EXPECT_EQ(root->EntryCount(1), 3);  // the page got C, D, E
  EXPECT_EQ(root->EntryCount(2), 4);  // the partner kept F..I
  EXPECT_EQ(std::memcmp(root->Key(2) + 1, "FileF", 5), 0);
  root.Release();
  ExpectSound();
}

TEST_F(CatalogIndexTest, LastKeyFreesThePageAndFreedPagesStayWithTheirIndex) {
  TIndexTree tree(*index, kPrimarySlot, layout);
  const auto key = Key("Only", 7, "C:\\");
  tree.Insert(key.data(), 1);
  EXPECT_FALSE(tree.Delete(Key("Other", 7, "C:\\").data()));
  EXPECT_FALSE(tree.Delete(key.data(), 99));  // another record's key
  ASSERT_TRUE(tree.Delete(key.data(), 1));
  EXPECT_EQ(index->Root(kPrimarySlot), 0);
  EXPECT_EQ(index->FirstFree(kPrimarySlot), 4096);

  // A secondary index does not take the primary index's free page.
  const int slot = index->AddSecondaryIndex(IndexOn({1}, true, "ByName"), fields);
  TKeyLayout byName = Layout(slot);
  TIndexTree secondary(*index, slot, byName);
  RecordBuilder r(fields);
  r.Str(1, "x");
  secondary.Insert(byName.BuildKey(r.Bytes().data(), r.Bytes().size()).data(), 1);
  EXPECT_EQ(index->Root(slot), 8192);
  // The primary index does.
  tree.Insert(key.data(), 1);
  EXPECT_EQ(index->Root(kPrimarySlot), 4096);
  EXPECT_EQ(index->FirstFree(kPrimarySlot), 0);
  Reopen();
  ExpectSound();
}

TEST_F(CatalogIndexTest, CountsAndPositionsComeFromTheInternalEntries) {
  InsertFiles(8);
  TIndexTree tree(*index, kPrimarySlot, layout);
  for (int i = 9; i < 40; ++i) {
    tree.Insert(Key("File" + std::to_string(100 + i), 1, "C:\\").data(), i);
  }
  EXPECT_EQ(tree.Count(), 39);
  // Keys before "FileE": FileA..FileD and the numbered ones ("File1xx" < "FileA").
  const auto e = Key("FileE", 1, "C:\\Data\\");
  EXPECT_EQ(tree.KeysBefore(e.data(), 509), 31 + 4);
  EXPECT_EQ(tree.KeysUpTo(e.data(), 509), 31 + 5);
  // A partial key: every FileName starting "File1" (6 bytes: flag + 5 chars).
  std::vector<std::uint8_t> low = Key("File1", 0, ""), high = low;
  layout.CompleteKey(low.data(), 6, false);
  layout.CompleteKey(high.data(), 6, true);
  EXPECT_EQ(tree.KeysBetween(low.data(), high.data(), 509), 31);
  EXPECT_EQ(tree.KeysBetween(high.data(), low.data(), 509), 0);
  TIndexPosition at;
  ASSERT_TRUE(tree.SeekOrdinal(36, at));
  EXPECT_EQ(tree.RecordAt(at), 5);  // FileE
  EXPECT_EQ(tree.OrdinalOf(at), 36);
  std::vector<std::int32_t> scanned;
  tree.ScanRange(low.data(), high.data(), 509, [&](std::int32_t r) { scanned.push_back(r); });
  EXPECT_EQ(scanned.size(), 31u);
  EXPECT_EQ(scanned.front(), 9);
}

TEST_F(CatalogIndexTest, DuplicatesAndReadAhead) {
  InsertFiles(8);  // records 1..8 in key order
  TIndexTree tree(*index, kPrimarySlot, layout);
  const auto c = Key("FileC", 1, "C:\\Data\\");
  EXPECT_EQ(EngineCodeOf([&] { tree.CheckUnique(c.data(), 9); }), kErrDuplicateKey);
  EXPECT_EQ(LastEngineErrorCode(), kErrDuplicateKey);
  EXPECT_EQ(ContextName(kContextIndex), "Primary");
  tree.CheckUnique(c.data(), 3);  // its own key
  tree.CheckUnique(Key("FileZ", 1, "C:\\Data\\").data(), 9);
  TIndexPosition at;
  ASSERT_TRUE(tree.Find(c.data(), 509, nullptr, &at));
  EXPECT_EQ(tree.ConsecutiveRecords(at, 1), 2);   // C, D in the left leaf
  EXPECT_EQ(tree.ConsecutiveRecords(at, -1), 3);  // C, B, A
  // A gap in the record numbers ends the run.
  ASSERT_TRUE(tree.Delete(Key("FileD", 1, "C:\\Data\\").data(), 4));
  tree.Insert(Key("FileD", 1, "C:\\Data\\").data(), 40);
  ASSERT_TRUE(tree.Find(c.data(), 509, nullptr, &at));
  EXPECT_EQ(tree.ConsecutiveRecords(at, 1), 1);
}

// The duplicate check descends as the insert does and keeps that descent for
// the insert of the same key. Keys lie at every place a descent can end: equal
// to a leaf's first key (its parent's entry), between two leaves, before the
// first key and after the last.
TEST_F(CatalogIndexTest, DuplicateCheckFindsEveryKeyAndItsDescentServesTheInsert) {
  TIndexTree tree(*index, kPrimarySlot, layout);
  const auto name = [](int i) { return "F" + std::to_string(1000 + i); };
  for (int i = 2; i <= 120; i += 2) tree.Insert(Key(name(i), 1, "C:\\").data(), i);
  for (int i = 0; i <= 122; ++i) {
    const auto key = Key(name(i), 1, "C:\\");
    std::int32_t holder = 0;
    const bool present = i % 2 == 0 && i >= 2 && i <= 120;
    EXPECT_EQ(tree.FindForInsert(key.data(), &holder), present) << i;
    if (present) {
      EXPECT_EQ(holder, i);
    } else {
      tree.Insert(key.data(), 1000 + i);  // from the kept descent
    }
  }
  ExpectSound();
  EXPECT_EQ(tree.Count(), 123);
  for (int i = 0; i <= 122; ++i) {
    std::int32_t holder = 0;
    ASSERT_TRUE(tree.Find(Key(name(i), 1, "C:\\").data(), 509, &holder)) << i;
    EXPECT_EQ(holder, i % 2 == 0 && i >= 2 && i <= 120 ? i : 1000 + i) << i;
  }
}

// A kept descent is used only while the tree it walked still stands: changes
// made between the check and the insert by another tree object (a split, a
// new root, a removal), dropped caches, or an insert of another key.
TEST_F(CatalogIndexTest, KeptDescentIsNotUsedAfterTheTreeChanged) {
  struct Case {
    const char* name;
    std::function<void()> between;
    bool insertOtherKey;
  };
  const auto fill = [this](int from, int to) {
    TIndexTree other(*index, kPrimarySlot, layout);
    for (int i = from; i < to; ++i) {
      other.Insert(Key("G" + std::to_string(1000 + i), 1, "C:\\").data(), 500 + i);
    }
  };
  const Case cases[] = {
      {"splits of its leaf by another tree object",
       [this] {
         TIndexTree other(*index, kPrimarySlot, layout);
         for (int i = 0; i < 10; ++i) {
           for (const char* around : {"FileC0", "FileC2"}) {
             other.Insert(Key(around + std::to_string(i), 1, "C:\\Data\\").data(), 300 + i);
           }
         }
       },
       false},
      {"a new root by another tree object", [&] { fill(0, 60); }, false},
      {"removal by another tree object",
       [this] {
         TIndexTree other(*index, kPrimarySlot, layout);
         for (int i = 0; i < 8; ++i) {
           ASSERT_TRUE(other.Delete(
               Key(std::string("File") + static_cast<char>('A' + i), 1, "C:\\Data\\").data()));
         }
       },
       false},
      {"dropped caches", [this] { index->DropCache(true); }, false},
      {"another key inserted first", [] {}, true},
  };
  InsertFiles(8);
  fill(100, 110);
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Flush();  // what the caches may drop is on disk
    TIndexTree tree(*index, kPrimarySlot, layout);
    // Between FileC and FileD while those stand.
    const auto key = Key("FileC" + std::to_string(++k), 1, "C:\\Data\\");
    ASSERT_FALSE(tree.FindForInsert(key.data()));
    c.between();
    if (c.insertOtherKey) tree.Insert(Key("A", 1, "C:\\").data(), 77);
    tree.Insert(key.data(), 99);
    ExpectSound();
    std::int32_t holder = 0;
    ASSERT_TRUE(tree.Find(key.data(), 509, &holder));
    EXPECT_EQ(holder, 99);
  }
}

TEST_F(CatalogIndexTest, EmptyAndChangeDetection) {
  InsertFiles(8);
  index->SetRecordCount(8);
  Reopen();
  // A second opener of the same file sees the first one's header writes.
  TIndexFile other(nullptr, &host);
  other.SetFileName(kIndex);
  other.Open();
  EXPECT_FALSE(other.HeaderChanged());
  index->Empty();
  Flush();
  EXPECT_EQ(FileBytes().size(), 4096u);
  EXPECT_EQ(index->Root(kPrimarySlot), 0);
  EXPECT_EQ(index->RecordCount(), 0);
  EXPECT_TRUE(other.HeaderChanged());
  EXPECT_EQ(other.Root(kPrimarySlot), 0);
  EXPECT_EQ(other.ChangeCounter(), index->ChangeCounter());
  EXPECT_FALSE(other.HeaderChanged());
  // The emptied file takes new keys from its first page again.
  InsertFiles(1);
  EXPECT_EQ(index->Root(kPrimarySlot), 4096);
  ExpectSound();
}

TEST_F(CatalogIndexTest, FileSizeLimit) {
  // The next page would start past 2,000,000,000 bytes.
  constexpr std::int32_t kPastLimit = 4096 + 4096 * 488282;  // 2,000,007,168
  Flush();
  index->Close();
  PatchI32(HostPath(), kIdxHdrEndPosition, kPastLimit);
  index = std::make_unique<TIndexFile>(nullptr, &host);
  index->SetFileName(kIndex);
  index->Open();
  TIndexTree tree(*index, kPrimarySlot, layout);
  EXPECT_EQ(EngineCodeOf([&] { tree.Insert(Key("A", 1, "C:\\").data(), 1); }), kErrTableFull);
  EXPECT_EQ(index->Root(kPrimarySlot), 0);
}

// A table whose change check, on a cache miss, finds that another user wrote
// and drops the index caches, pinned pages included.
class DroppingHost : public TSimpleStorageHost {
 public:
  TIndexFile* index = nullptr;
  int drops = 0;
  bool LockForCacheMiss(TDataCursor* cursor) override {
    TSimpleStorageHost::LockForCacheMiss(cursor);
    if (drops == 0 || missChecks % 3 != 0) return false;
    --drops;
    index->DropCache(true);
    return true;
  }
};

TEST_F(CatalogIndexTest, ChangesFoundOnACacheMissRestartTheOperation) {
  InsertFiles(8);
  index->SetRecordCount(8);
  DroppingHost dropping;
  dropping.index = index.get();
  Flush();
  index->SetHost(&dropping);
  index->DropCache(true);
  dropping.drops = 5;
  TIndexTree tree(*index, kPrimarySlot, layout);
  EXPECT_EQ(tree.Count(), 8);
  TIndexPosition at;
  std::vector<std::int32_t> records;
  for (bool ok = tree.First(at); ok; ok = tree.Next(at)) {
    records.push_back(tree.RecordAt(at));
    index->DropCache(true);  // every step starts from an empty cache
  }
  EXPECT_EQ(records, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(tree.KeysBefore(Key("FileE", 1, "C:\\Data\\").data(), 509), 4);
  EXPECT_GT(dropping.missChecks, 3);
  EXPECT_LT(dropping.drops, 5);
  // With strict change detection the cursor has checked already: no miss checks.
  dropping.strictChangeDetection = true;
  const int checks = dropping.missChecks;
  index->DropCache(true);
  EXPECT_EQ(tree.Count(), 8);
  EXPECT_EQ(dropping.missChecks, checks);
  index->SetHost(&host);
}

TEST_F(IndexFileTest, CompressedLeavesHoldMoreEntries) {
  // Zero-padded names at the end of the key: trailing-byte and full
  // compression drop the padding, duplicate-byte compression the shared path.
  fields = LaidOut({Field("N", kFieldInt32), Field("Name", kFieldString, 250)});
  struct Case {
    std::uint8_t mode;
    int maxPages;
  };
  const Case cases[] = {{kCompressNone, 1000},
                        {kCompressDuplicate, 1000},
                        {kCompressTrailing, 20},
                        {kCompressFull, 15}};
  std::vector<int> pages;
  for (const Case& c : cases) {
    CreateIndex();
    index->DefinePrimaryIndex(IndexOn({1, 2}, true, "", c.mode), fields);
    const TKeyLayout layout = Layout(kPrimarySlot);
    TIndexTree tree(*index, kPrimarySlot, layout);
    for (int i = 0; i < 1000; ++i) {
      RecordBuilder r(fields);
      r.Int(1, i / 100).Str(2, "C:\\Photos\\2024\\IMG" + std::to_string(10000 + i));
      tree.Insert(layout.BuildKey(r.Bytes().data(), r.Bytes().size()).data(), i + 1);
    }
    pages.push_back((index->EndPosition() - 4096) / 4096);
    EXPECT_LE(pages.back(), c.maxPages) << int(c.mode);
    ExpectSound();
  }
  EXPECT_LT(pages[1], pages[0]);  // the shared path is stored once per entry
  EXPECT_LT(pages[3], pages[2]);  // full compression does both
}

TEST_F(IndexFileTest, DefinitionErrors) {
  fields = LaidOut({Field("A", kFieldString, 250), Field("B", kFieldString, 250),
                    Field("C", kFieldString, 19), Field("D", kFieldString, 18),
                    Field("E", kFieldBlob, 0, kSubtypeBinary), Field("F", kFieldInt32)});
  struct Case {
    const char* what;
    std::function<void()> body;
    int code;
  };
  std::vector<std::int16_t> seventeen(17, 6);
  const Case cases[] = {
      {"primary twice",
       [&] {
         index->DefinePrimaryIndex(IndexOn({6}), fields);
         index->DefinePrimaryIndex(IndexOn({6}), fields);
       },
       kErrPrimaryIndexExists},
      {"17 primary fields", [&] { index->DefinePrimaryIndex(IndexOn(seventeen), fields); },
       kErrIndexLimits},
      {"BLOB primary field", [&] { index->DefinePrimaryIndex(IndexOn({5}), fields); },
       kErrInvalidIndexFieldType},
      {"525 key bytes",
       [&] {
         index->DefinePrimaryIndex(IndexOn({1, 2, 3}), fields);
       },
       kErrInvalidKeySize},
      {"17 secondary fields",
       [&] { index->AddSecondaryIndex(IndexOn(seventeen, true, "X"), fields); }, kErrIndexLimits},
      {"no name", [&] { index->AddSecondaryIndex(IndexOn({6}, true, "  "), fields); },
       kErrIndexNameMissing},
      {"bad name", [&] { index->AddSecondaryIndex(IndexOn({6}, true, "1st"), fields); },
       kErrInvalidIndexName},
      {"same name",
       [&] {
         index->AddSecondaryIndex(IndexOn({6}, true, "ByF"), fields);
         index->AddSecondaryIndex(IndexOn({6}, true, " byf "), fields);
       },
       kErrIndexExists},
      {"unknown field", [&] { index->AddSecondaryIndex(IndexOn({7}, true, "X"), fields); },
       kErrInvalidIndexField},
      {"BLOB secondary field", [&] { index->AddSecondaryIndex(IndexOn({5}, true, "X"), fields); },
       kErrInvalidIndexFieldType},
      {"31st secondary",
       [&] {
         for (int i = 0; i < 31; ++i) {
           index->AddSecondaryIndex(IndexOn({6}, true, "I" + std::to_string(i)), fields);
         }
       },
       kErrIndexLimits},
  };
  for (const Case& c : cases) {
    CreateIndex();
    EXPECT_EQ(EngineCodeOf(c.body), c.code) << c.what;
  }
  // 524 key bytes are accepted; so is an empty primary key (no key of its own).
  CreateIndex();
  index->DefinePrimaryIndex(IndexOn({1, 2, 4}), fields);
  EXPECT_EQ(index->Descriptor(kPrimarySlot).KeyLength(), 524);
  CreateIndex();
  index->DefinePrimaryIndex(IndexOn({}), fields);
  EXPECT_TRUE(index->NoPrimaryKey());
  // A non-unique index carries the 4-byte suffix.
  const int slot = index->AddSecondaryIndex(IndexOn({6}, false, "ByF"), fields);
  EXPECT_EQ(index->Descriptor(slot).KeyLength(), 5 + 4);
}

TEST_F(IndexFileTest, RemovingAnIndexMovesTheLaterOnesDown) {
  fields = LaidOut({Field("A", kFieldInt32), Field("B", kFieldInt32), Field("C", kFieldInt32)});
  CreateIndex();
  index->AddSecondaryIndex(IndexOn({1}, true, "One"), fields);
  index->AddSecondaryIndex(IndexOn({2}, true, "Two"), fields);
  index->AddSecondaryIndex(IndexOn({3}, true, "Three"), fields);
  index->RemoveIndex(1);
  EXPECT_EQ(index->SecondaryCount(), 2);
  EXPECT_EQ(index->Descriptor(1).Name(), "Two");
  EXPECT_EQ(index->Descriptor(2).Name(), "Three");
  EXPECT_EQ(index->FindIndex("three"), 2);
  EXPECT_EQ(index->FindIndex("One"), -1);
  EXPECT_EQ(index->Descriptor(kSystemSlot).Name(), "Sys Deleted");
  index->RemoveIndex(kPrimarySlot);
  EXPECT_TRUE(index->NoPrimaryKey());
}

TEST_F(IndexFileTest, TreesOfMovedIndexesKeepTheirPages) {
  fields = LaidOut({Field("A", kFieldInt32), Field("B", kFieldInt32), Field("C", kFieldInt32)});
  CreateIndex();
  index->DefinePrimaryIndex(IndexOn({}), fields);
  for (int f = 1; f <= 3; ++f)
    index->AddSecondaryIndex(IndexOn({static_cast<std::int16_t>(f)}, true, "I" + std::to_string(f)),
                             fields);
  auto keyOf = [&](int slot, int value) {
    RecordBuilder r(fields);
    r.Int(1, value).Int(2, -value).Int(3, value * 3);
    return Layout(slot).BuildKey(r.Bytes().data(), r.Bytes().size());
  };
  for (int slot = 1; slot <= 3; ++slot) {
    const TKeyLayout layout = Layout(slot);
    TIndexTree tree(*index, slot, layout);
    for (int v = 0; v < 500; ++v) tree.Insert(keyOf(slot, v).data(), v + 1);
  }
  index->SetRecordCount(500);
  index->RemoveIndex(1);  // changed pages of the moved trees are still cached
  for (bool reopened : {false, true}) {
    if (reopened) Reopen();
    for (int slot = 1; slot <= 2; ++slot) {
      const TKeyLayout layout = Layout(slot);
      TIndexTree tree(*index, slot, layout);
      std::int32_t record = 0;
      ASSERT_TRUE(tree.Find(keyOf(slot, 123).data(), layout.KeyLength(), &record)) << slot;
      EXPECT_EQ(record, 124);
      EXPECT_EQ(tree.Count(), 500);
    }
    ExpectSound(true);
  }
}

TEST_F(CatalogIndexTest, TransactionKeepsChangedPagesInMemory) {
  host.transactionLock = true;
  TIndexTree tree(*index, kPrimarySlot, layout);
  for (int i = 0; i < 200; ++i)
    tree.Insert(Key("F" + std::to_string(1000 + i), 1, "C:\\").data(), i + 1);
  EXPECT_EQ(FileBytes().size(), 4096u);  // nothing reached the file
  EXPECT_GT(index->CacheCapacity(kPrimarySlot), TIndexFile::kInitialCacheCapacity);
  host.transactionLock = false;
  Flush();
  index->TrimCache(true);
  EXPECT_EQ(index->CacheCapacity(kPrimarySlot), TIndexFile::kInitialCacheCapacity);
  EXPECT_LE(index->CachedPages(kPrimarySlot), TIndexFile::kInitialCacheCapacity);
  index->SetRecordCount(200);
  Reopen();
  ExpectSound(true);
  // Outside a transaction a full cache writes back instead of growing.
  TIndexTree reopened(*index, kPrimarySlot, layout);
  for (int i = 200; i < 400; ++i)
    reopened.Insert(Key("F" + std::to_string(1000 + i), 1, "C:\\").data(), i + 1);
  EXPECT_EQ(index->CacheCapacity(kPrimarySlot), TIndexFile::kInitialCacheCapacity);
  EXPECT_GT(FileBytes().size(), 4096u * 30);
}

// A cache with a byte budget: larger than the fixed 15 pages, its unchanged
// pages stay within the budget (sampled eviction, write-back when full),
// a transaction's changed pages all stay beyond it until commit, and the
// trim brings the cache back within it. No change is lost on the way.
TEST_F(CatalogIndexTest, BudgetedCacheStaysWithinItsPagesAndKeepsEveryChange) {
  constexpr int kBudgetPages = 100;  // above the 64 pages of a sampled eviction
  index->SetCacheBudget(kBudgetPages * 4096);
  const auto key = [&](int i) {
    return Key("F" + std::to_string(100000 + i * 7919 % 3000), 1, "C:\\");
  };
  TIndexTree tree(*index, kPrimarySlot, layout);
  for (int i = 0; i < 1500; ++i) tree.Insert(key(i).data(), i + 1);
  EXPECT_GT(index->CachedPages(kPrimarySlot), TIndexFile::kInitialCacheCapacity);
  EXPECT_LE(index->CachedPages(kPrimarySlot), kBudgetPages);
  Flush();
  const std::size_t written = FileBytes().size();
  host.transactionLock = true;
  for (int i = 1500; i < 3000; ++i) tree.Insert(key(i).data(), i + 1);
  EXPECT_EQ(FileBytes().size(), written);  // nothing reached the file
  EXPECT_GT(index->CachedPages(kPrimarySlot), kBudgetPages);
  host.transactionLock = false;
  Flush();
  index->TrimCache(true);
  EXPECT_LE(index->CachedPages(kPrimarySlot), kBudgetPages);
  for (int i = 0; i < 3000; i += 7) {
    std::int32_t record = 0;
    ASSERT_TRUE(tree.Find(key(i).data(), layout.KeyLength(), &record)) << i;
    EXPECT_EQ(record, i + 1);
  }
  index->SetRecordCount(3000);
  Reopen();
  ExpectSound(true);
}

TEST_F(CatalogIndexTest, EncryptedPagesRoundTrip) {
  index->SetEncrypted(true);
  InsertFiles(8);
  Flush();
  const std::vector<std::uint8_t> bytes = FileBytes();
  // The pages do not show their keys.
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), std::begin("FileE"), std::end("FileE") - 1),
            bytes.end());
  index->Close();
  index = std::make_unique<TIndexFile>(nullptr, &host);
  index->SetFileName(kIndex);
  index->SetEncrypted(true);
  index->Open();
  EXPECT_EQ(index->Format(), 4);
  TIndexTree tree(*index, kPrimarySlot, layout);
  EXPECT_EQ(tree.Count(), 8);
  ExpectSound();
}

}  // namespace
}  // namespace engine_test
