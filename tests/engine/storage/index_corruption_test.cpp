// Corrupt index files, made by byte surgery on a good one: the open checks
// answer 12035 or 8961, damaged pages answer 8965 when a tree operation meets
// them, the full walk reports what is wrong, and random damage never crashes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "engine/storage/index_test_util.h"

namespace engine_test {
namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSlot0 = kIdxHdrDescriptors;
constexpr std::size_t kSlot1 = kIdxHdrDescriptors + kDescriptorSize;
constexpr std::size_t kRootPage = 12288;  // after the split of the catalog's eighth key
constexpr std::size_t kLeftLeaf = 4096;
constexpr std::size_t kRightLeaf = 8192;
constexpr std::size_t kCatalogEntry = 509 + 8;  // internal entry: key, child, count

// A closed index file with the catalog's primary key (two leaves of 4 under a
// root) and a secondary index "ByTime", written to D:\T.IDX.
class CorruptIndexTest : public IndexFileTest {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    fields = CatalogFields();
    CreateIndex();
    index->DefinePrimaryIndex(CatalogPrimaryKey(), fields);
    index->AddSecondaryIndex(IndexOn({2}, false, "ByTime"), fields);
    layout = Layout(kPrimarySlot);
    TIndexTree tree(*index, kPrimarySlot, layout);
    const TKeyLayout byTime = Layout(1);
    TIndexTree secondary(*index, 1, byTime);
    for (int i = 0; i < 8; ++i) tree.Insert(KeyFor(i).data(), i + 1);
    for (int i = 0; i < 8; ++i) {  // one page at 16384
      RecordBuilder r(fields);
      r.Int(2, i).AutoInc(i + 1);
      secondary.Insert(byTime.BuildKey(r.Bytes().data(), r.Bytes().size()).data(), i + 1);
    }
    index->SetRecordCount(8);
    Flush();
    index->Close();
    good = FileBytes();
  }
  Bytes KeyFor(int i) {
    RecordBuilder r(fields);
    r.Str(1, std::string("File") + static_cast<char>('A' + i)).Int(2, 1).Str(4, "C:\\");
    return layout.BuildKey(r.Bytes().data(), r.Bytes().size());
  }
  void Open() {
    index = std::make_unique<TIndexFile>(nullptr, &host);
    index->SetFileName(kIndex);
    index->Open();
  }
  void Restore() { PatchBytes(HostPath(), 0, good); }

  TKeyLayout layout;
  Bytes good;
};

TEST_F(CorruptIndexTest, HeaderChecksOnOpen) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    int code;
  };
  const Case cases[] = {
      {"format 3", [&] { PatchBytes(HostPath(), kIdxHdrFormat, {3}); }, kErrWrongVersion},
      {"31 secondary indexes", [&] { PatchBytes(HostPath(), kIdxHdrSecondaryCount, {31}); },
       kErrHeaderCorrupt},
      {"end position not on a page", [&] { PatchI32(HostPath(), kIdxHdrEndPosition, 5000); },
       kErrHeaderCorrupt},
      {"root beyond the end", [&] { PatchI32(HostPath(), kSlot0 + kDescRoot, 4096 * 40); },
       kErrHeaderCorrupt},
      {"free page not on a page boundary",
       [&] { PatchI32(HostPath(), kSlot1 + kDescFirstFree, 4100); }, kErrHeaderCorrupt},
      {"named primary index",
       [&] {
         PatchBytes(HostPath(), kSlot0, {1, 'P'});
       },
       kErrHeaderCorrupt},
      {"primary key not unique", [&] { PatchBytes(HostPath(), kSlot0 + kDescUnique, {0}); },
       kErrHeaderCorrupt},
      {"17 key fields", [&] { PatchBytes(HostPath(), kSlot0 + kDescFieldCount, {17}); },
       kErrHeaderCorrupt},
      {"unknown field",
       [&] {
         PatchBytes(HostPath(), kSlot0 + kDescFieldNumbers, {9, 0});
       },
       kErrHeaderCorrupt},
      {"BLOB key field",
       [&] {
         PatchBytes(HostPath(), kSlot1 + kDescFieldNumbers, {5, 0});
       },
       kErrHeaderCorrupt},
      {"key length off by one", [&] { PatchBytes(HostPath(), kSlot0 + kDescKeyLength, {0xFE}); },
       kErrHeaderCorrupt},
      {"secondary name starts with a digit", [&] { PatchBytes(HostPath(), kSlot1 + 1, {'9'}); },
       kErrHeaderCorrupt},
      {"system index key length",
       [&] {
         PatchBytes(HostPath(), kIdxHdrDescriptors + 31 * kDescriptorSize + kDescKeyLength, {6});
       },
       kErrHeaderCorrupt},
  };
  for (const Case& c : cases) {
    Restore();
    c.damage();
    EXPECT_EQ(EngineCodeOf([&] {
                Open();
                CheckIndexFileOnOpen(*index, fields);
              }),
              c.code)
        << c.what;
    if (index) index->Close();
  }
  Restore();
  Open();
  CheckIndexFileOnOpen(*index, fields);  // the good file passes
  // A file shorter than its header cannot be an index file.
  index->Close();
  std::filesystem::resize_file(HostPath(), 100);
  EXPECT_EQ(EngineCodeOf([&] { Open(); }), kErrHeaderCorrupt);
}

TEST_F(CorruptIndexTest, DamagedPagesStopTreeOperations) {
  struct Case {
    const char* what;
    std::size_t offset;
    Bytes bytes;
  };
  auto le32 = [](std::int32_t v) {
    Bytes b(4);
    bytes::PutI32(b.data(), v);
    return b;
  };
  const std::size_t firstChild = kRootPage + 13 + 509;
  const Case cases[] = {
      {"child position 0", firstChild, le32(0)},
      {"child position inside a page", firstChild, le32(4100)},
      {"child position beyond the end", firstChild, le32(4096 * 50)},
      {"child is the root itself", firstChild, le32(static_cast<std::int32_t>(kRootPage))},
      {"root descriptor names a leaf", kSlot0 + kDescRoot,
       le32(static_cast<std::int32_t>(kLeftLeaf))},
      {"unknown leaf type", kLeftLeaf + kPageType, {9}},
      {"leaf count beyond capacity", kLeftLeaf + kPageCount, {60, 0}},
      {"leaf marked free", kLeftLeaf + kPageCount, {0, 0}},
      {"root typed as a leaf", kRootPage + kPageType, {kPageLeaf}},
  };
  for (const Case& c : cases) {
    Restore();
    PatchBytes(HostPath(), c.offset, c.bytes);
    Open();
    TIndexTree tree(*index, kPrimarySlot, layout);
    EXPECT_EQ(EngineCodeOf([&] { tree.Find(KeyFor(0).data(), 509); }), kErrIndexPageCorrupt)
        << c.what;
    // A key before every other one takes the first child.
    EXPECT_EQ(EngineCodeOf([&] { tree.Insert(KeyFor(-1).data(), 21); }), kErrIndexPageCorrupt)
        << c.what;
    // The walk reports the damage without raising.
    const TIndexCheckReport report = CheckIndexTrees(*index, fields);
    EXPECT_FALSE(report.Ok()) << c.what;
    index->Close();
  }
  // A page missing from a truncated file: a short read, unless the table may
  // have pages only in its caches (exclusive and written), when it reads as an
  // empty page, which is no page of a tree.
  for (bool written : {false, true}) {
    Restore();
    std::filesystem::resize_file(HostPath(), kRightLeaf);
    host.written = written;
    Open();
    TIndexTree tree(*index, kPrimarySlot, layout);
    EXPECT_EQ(EngineCodeOf([&] { tree.Count(); }), written ? kErrIndexPageCorrupt : kErrReadFailed);
    index->Close();
  }
}

TEST_F(CorruptIndexTest, WalkReportsCountsOrderAndLinks) {
  auto le32 = [](std::int32_t v) {
    Bytes b(4);
    bytes::PutI32(b.data(), v);
    return b;
  };
  struct Case {
    const char* what;
    std::size_t offset;
    Bytes bytes;
    const char* expected;  // part of the report
  };
  const Case cases[] = {
      {"internal count", kRootPage + 13 + 513, le32(5), "leaf entries below"},
      {"level link", kLeftLeaf + kPageNext, le32(0), "level links"},
      {"keys out of order", kLeftLeaf + 13 + 2 * 513 + 5, {'Z'}, "out of order"},
      {"parent key", kRootPage + 13 + kCatalogEntry + 5, {'X'}, "first key"},
      {"header record count", kIdxHdrRecordCount, le32(7), "header counts"},
      {"free list entry in use", kSlot1 + kDescFirstFree,
       le32(static_cast<std::int32_t>(kLeftLeaf)), "already used"},
  };
  for (const Case& c : cases) {
    Restore();
    PatchBytes(HostPath(), c.offset, c.bytes);
    Open();
    const TIndexCheckReport report = CheckIndexTrees(*index, fields);
    EXPECT_NE(report.Describe().find(c.expected), std::string::npos) << c.what << ":\n"
                                                                     << report.Describe();
    index->Close();
  }
  Restore();
  Open();
  const TIndexCheckReport report = CheckIndexTrees(*index, fields);
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

TEST_F(CorruptIndexTest, RandomDamageIsAnErrorNeverACrash) {
  std::mt19937 random(99);
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = good;
    const int flips = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < flips; ++i) {
      // Mostly page headers and entry heads, where lengths and links live.
      const std::size_t page = 4096 * (1 + random() % 3);
      const std::size_t offset = page + (random() % 2 == 0 ? random() % 40 : random() % 4096);
      damaged[offset] = static_cast<std::uint8_t>(random());
    }
    PatchBytes(HostPath(), 0, damaged);
    try {
      Open();
      TIndexTree tree(*index, kPrimarySlot, layout);
      TIndexPosition at;
      int steps = 0;
      for (bool ok = tree.First(at); ok && steps < 100; ok = tree.Next(at)) ++steps;
      tree.Count();
      tree.KeysBefore(KeyFor(3).data(), 509);
      CheckIndexTrees(*index, fields);
      tree.Insert(KeyFor(10 + round % 10).data(), 50);
      tree.Delete(KeyFor(round % 8).data());
      CheckIndexTrees(*index, fields);
    } catch (const EZORVADEngineError& e) {
      ++failures;
      EXPECT_TRUE(e.ErrorCode() == kErrIndexPageCorrupt || e.ErrorCode() == kErrHeaderCorrupt)
          << e.Message();
    }
    if (index) index->Close();
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace engine_test
