// The BLOB file: the worked example's three blocks, block boundaries, the free
// chain's reuse order, rewriting in place, empty BLOBs, encryption, the cursor
// operations' codes, and the block cache inside a transaction.
#include <gtest/gtest.h>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;

constexpr std::uint32_t kFileField = 5;   // the catalog's File BLOB
constexpr std::uint16_t kFileSlot = 521;  // its slot: flag, first block, id
constexpr std::size_t kR = 530;

std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> v(length);
  for (std::size_t i = 0; i < length; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
  return v;
}

class BlobFileTest : public TableFilesTest {
 protected:
  void SetUp() override {
    TableFilesTest::SetUp();
    Create(CatalogFields());
  }

  std::int32_t SlotPosition(const std::vector<std::uint8_t>& r) const {
    return bytes::GetI32(&r[kFileSlot + 1]);
  }
  std::int32_t SlotId(const std::vector<std::uint8_t>& r) const {
    return bytes::GetI32(&r[kFileSlot + 5]);
  }

  // Replaces the BLOB of record buffer `r` by `content` and posts it.
  void Store(std::vector<std::uint8_t>& r, const std::vector<std::uint8_t>& content) {
    ASSERT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR), 0);
    ASSERT_EQ(buffers.Truncate(data->Definitions(), kFileField, r.data(), kR, 0), 0);
    ASSERT_EQ(buffers.Write(data->Definitions(), kFileField, r.data(), kR, 0,
                            static_cast<std::uint32_t>(content.size()), content.data()),
              0);
    buffers.Store(nullptr, *data, *blob, data->Definitions(), r.data(), kR);
  }

  // Loads the BLOB of record buffer `r`; the code of the open.
  int Load(std::vector<std::uint8_t>& r, std::vector<std::uint8_t>& content) {
    const int code =
        buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR);
    if (code != 0) return code;
    std::uint32_t size = 0;
    EXPECT_EQ(buffers.Size(data->Definitions(), kFileField, r.data(), kR, size), 0);
    content.assign(size, 0);
    std::uint32_t done = 0;
    EXPECT_EQ(
        buffers.Read(data->Definitions(), kFileField, r.data(), kR, 0, size, content.data(), done),
        0);
    EXPECT_EQ(buffers.Close(data->Definitions(), kFileField, r.data(), kR), 0);
    return 0;
  }

  struct BlockImage {
    std::int32_t previous, next;
    std::uint16_t used;
    std::int32_t id, total;
  };
  BlockImage OnDisk(std::int32_t position) {
    const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
    const std::uint8_t* b = &f.at(static_cast<std::size_t>(position));
    return {bytes::GetI32(b), bytes::GetI32(b + 4), bytes::GetU16(b + 8), bytes::GetI32(b + 10),
            bytes::GetI32(b + 14)};
  }

  std::vector<std::uint8_t> NewRow() { return std::vector<std::uint8_t>(kR, 0); }

  TBlobBufferSet buffers{"Back"};
};

TEST_F(BlobFileTest, NewFileIsJustAHeader) {
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
  ASSERT_EQ(f.size(), 512u);
  EXPECT_EQ(f[8], 4);
  EXPECT_EQ(bytes::GetI32(&f[9]), 0);     // first free
  EXPECT_EQ(bytes::GetI32(&f[13]), 512);  // end position
  EXPECT_EQ(blob->ReadAheadCount(), 127u);
  EXPECT_EQ(blob->CacheCapacity(), 255u);
}

TEST_F(BlobFileTest, ThousandBytesTakeThreeBlocks) {
  std::vector<std::uint8_t> row = NewRow();
  const std::vector<std::uint8_t> content = Pattern(1000);
  Store(row, content);
  Flush();
  EXPECT_EQ(row[kFileSlot], 1);
  EXPECT_EQ(SlotPosition(row), 512);
  const std::int32_t id = SlotId(row);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(data->LastBlobId(), 1);

  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
  ASSERT_EQ(f.size(), 2048u);
  EXPECT_EQ(bytes::GetI32(&f[13]), 2048);
  struct Expect {
    std::int32_t at;
    BlockImage image;
  } blocks[] = {{512, {0, 1024, 494, id, 1000}},
                {1024, {512, 1536, 494, id, 0}},
                {1536, {1024, 0, 12, id, 0}}};
  for (const Expect& e : blocks) {
    const BlockImage b = OnDisk(e.at);
    EXPECT_EQ(b.previous, e.image.previous) << e.at;
    EXPECT_EQ(b.next, e.image.next) << e.at;
    EXPECT_EQ(b.used, e.image.used) << e.at;
    EXPECT_EQ(b.id, e.image.id) << e.at;
    EXPECT_EQ(b.total, e.image.total) << e.at;
  }
  EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 512 + 18, f.begin() + 512 + 18 + 494),
            std::vector<std::uint8_t>(content.begin(), content.begin() + 494));
  EXPECT_EQ(std::vector<std::uint8_t>(f.begin() + 1536 + 18, f.begin() + 1536 + 30),
            std::vector<std::uint8_t>(content.begin() + 988, content.end()));

  Reopen();
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, content);
  EXPECT_EQ(SlotPosition(row), 512);  // put back by the close
}

TEST_F(BlobFileTest, BlockBoundaries) {
  struct Case {
    std::size_t length;
    std::vector<std::uint16_t> used;
  } cases[] = {{1, {1}}, {494, {494}}, {495, {494, 1}}, {988, {494, 494}}, {989, {494, 494, 1}}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> row = NewRow();
    const std::int32_t endBefore = blob->EndPosition();
    Store(row, Pattern(c.length, static_cast<std::uint8_t>(c.length)));
    Flush();
    std::int32_t p = SlotPosition(row);
    EXPECT_EQ(p, endBefore);
    for (std::uint16_t used : c.used) {
      const BlockImage b = OnDisk(p);
      EXPECT_EQ(b.used, used) << c.length;
      p = b.next;
    }
    EXPECT_EQ(p, 0) << c.length;
    std::vector<std::uint8_t> loaded;
    ASSERT_EQ(Load(row, loaded), 0);
    EXPECT_EQ(loaded, Pattern(c.length, static_cast<std::uint8_t>(c.length)));
  }
}

TEST_F(BlobFileTest, ShrinkingKeepsTheFirstBlockAndFreesTheRestInChainOrder) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(1000));
  const std::int32_t firstId = SlotId(row);
  Store(row, Pattern(1, 9));
  Flush();
  EXPECT_EQ(SlotPosition(row), 512);
  EXPECT_NE(SlotId(row), firstId);  // a new id for every store
  EXPECT_EQ(OnDisk(512).next, 0);
  EXPECT_EQ(OnDisk(512).total, 1);
  // 1024 freed first, then 1536: 1536 heads the chain and links to 1024.
  EXPECT_EQ(blob->FirstFree(), 1536);
  EXPECT_EQ(OnDisk(1536).next, 1024);
  EXPECT_EQ(OnDisk(1024).next, 0);

  // The next BLOB reuses 1536 and then 1024, then appends.
  std::vector<std::uint8_t> other = NewRow();
  Store(other, Pattern(1200, 3));
  Flush();
  EXPECT_EQ(SlotPosition(other), 1536);
  EXPECT_EQ(OnDisk(1536).next, 1024);
  EXPECT_EQ(OnDisk(1024).next, 2048);
  EXPECT_EQ(OnDisk(1024).previous, 1536);
  EXPECT_EQ(blob->FirstFree(), 0);
  EXPECT_EQ(blob->EndPosition(), 2560);
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(other, loaded), 0);
  EXPECT_EQ(loaded, Pattern(1200, 3));
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, Pattern(1, 9));
}

TEST_F(BlobFileTest, GrowingReusesTheChainInPlace) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(600));
  Store(row, Pattern(1500, 4));
  Flush();
  EXPECT_EQ(SlotPosition(row), 512);
  EXPECT_EQ(blob->EndPosition(), 512 + 4 * 512);  // 2 old blocks reused, 2 appended
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, Pattern(1500, 4));
}

TEST_F(BlobFileTest, EmptyBlobFreesItsChain) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(700));
  Store(row, {});
  Flush();
  EXPECT_EQ(SlotPosition(row), 0);
  EXPECT_EQ(row[kFileSlot], 1);  // the null flag stays as the cursor set it
  EXPECT_EQ(blob->FirstFree(), 1024);
  std::vector<std::uint8_t> loaded = {1};
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_TRUE(loaded.empty());
}

TEST_F(BlobFileTest, CursorOperationCodes) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(10));
  const TFieldDefinitions& defs = data->Definitions();
  // Not a BLOB field.
  EXPECT_EQ(buffers.Open(nullptr, blob.get(), defs, 2, row.data(), kR), kErrInvalidBlobField);
  // Close or read without an open buffer.
  EXPECT_EQ(buffers.Close(defs, kFileField, row.data(), kR), kErrInvalidBlobHandle);
  std::uint32_t done = 0;
  std::uint8_t out[20] = {};
  EXPECT_EQ(buffers.Read(defs, kFileField, row.data(), kR, 0, 5, out, done), kErrInvalidBlobHandle);
  // Reading past the end copies what there is.
  ASSERT_EQ(buffers.Open(nullptr, blob.get(), defs, kFileField, row.data(), kR), 0);
  EXPECT_EQ(buffers.Open(nullptr, blob.get(), defs, kFileField, row.data(), kR), 0);  // reused
  EXPECT_EQ(buffers.OpenCount(), 1);
  EXPECT_EQ(buffers.Read(defs, kFileField, row.data(), kR, 6, 10, out, done), kErrBlobEndPremature);
  EXPECT_EQ(done, 4u);
  const std::vector<std::uint8_t> ten = Pattern(10);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4),
            std::vector<std::uint8_t>(ten.begin() + 6, ten.end()));
  // A write inside the length does not mark the buffer modified.
  EXPECT_EQ(buffers.Write(defs, kFileField, row.data(), kR, 0, 1, out), 0);
  EXPECT_FALSE(buffers.Find(1)->modified);
  EXPECT_EQ(buffers.Write(defs, kFileField, row.data(), kR, 10, 1, out), 0);
  EXPECT_TRUE(buffers.Find(1)->modified);
  // A closer other than the opener leaves the buffer open.
  EXPECT_EQ(buffers.Close(defs, kFileField, row.data(), kR, 7), 0);
  EXPECT_EQ(buffers.OpenCount(), 1);
  EXPECT_EQ(buffers.Close(defs, kFileField, row.data(), kR, 0), 0);
  EXPECT_EQ(buffers.OpenCount(), 0);
  // A negative slot that names no buffer of this cursor.
  bytes::PutI32(&row[kFileSlot + 1], -3);
  EXPECT_EQ(buffers.Open(nullptr, blob.get(), defs, kFileField, row.data(), kR),
            kErrInvalidBlobOffset);
}

TEST_F(BlobFileTest, SixtyFifthOpenBufferIsRefused) {
  std::vector<std::vector<std::uint8_t>> rows(65, NewRow());
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(
        buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, rows[i].data(), kR), 0);
  EXPECT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, rows[64].data(), kR),
            kErrTooManyBlobs);
  buffers.FreeAll();
  EXPECT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, rows[64].data(), kR),
            0);
}

TEST_F(BlobFileTest, StoredBuffersMustBelongToOneRecord) {
  std::vector<std::uint8_t> a = NewRow(), b = NewRow();
  bytes::PutI32(&a[kRecordLinkOffset], 1);
  bytes::PutI32(&b[kRecordLinkOffset], 2);
  const TFieldDefinitions& defs = data->Definitions();
  const std::uint8_t byte = 1;
  for (auto* r : {&a, &b}) {
    ASSERT_EQ(buffers.Open(nullptr, blob.get(), defs, kFileField, r->data(), kR), 0);
    ASSERT_EQ(buffers.Write(defs, kFileField, r->data(), kR, 0, 1, &byte), 0);
  }
  EXPECT_EQ(EngineCodeOf([&] { buffers.Store(nullptr, *data, *blob, defs, a.data(), kR); }),
            kErrBlobBufferCorrupt);
}

TEST_F(BlobFileTest, EncryptedBlocksRoundTrip) {
  CloseAll();
  blob.reset();
  Create(CatalogFields(), /*encrypted=*/true);
  std::vector<std::uint8_t> row = NewRow();
  const std::string secret = "a very readable secret text, twice: a very readable secret text";
  Store(row, std::vector<std::uint8_t>(secret.begin(), secret.end()));
  Flush();
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
  EXPECT_EQ(std::string(f.begin(), f.end()).find("readable"), std::string::npos);
  EXPECT_NE(f[8], 4);  // the header is enciphered too
  Reopen();
  EXPECT_EQ(blob->Format(), 4);
  EXPECT_EQ(blob->EndPosition(), 1024);
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(std::string(loaded.begin(), loaded.end()), secret);
}

TEST_F(BlobFileTest, TransactionKeepsBlocksInMemoryUntilCommit) {
  host.transactionLock = true;
  host.writeNotes = 0;
  std::vector<std::uint8_t> row = NewRow();
  const std::vector<std::uint8_t> big = Pattern(494 * 600);  // 600 blocks, cache holds 255
  Store(row, big);
  EXPECT_EQ(blob->CachedCount(), 600u);
  EXPECT_EQ(blob->CacheCapacity(), 255u + 2 * 255u);
  EXPECT_EQ(host.writeNotes, 0);
  EXPECT_EQ(ReadBytes(Host("Back.BLB")).size(), 512u);
  blob->WriteBack(true);
  blob->WriteHeader(false, true);
  blob->TrimCache();
  EXPECT_EQ(blob->CacheCapacity(), 255u);
  host.transactionLock = false;
  Reopen();
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, big);
  EXPECT_LT(blob->ReadCount(), 10u);  // read in runs of up to 127 blocks
}

TEST_F(BlobFileTest, FullCacheWritesBackOutsideTransactions) {
  std::vector<std::uint8_t> row = NewRow();
  const std::vector<std::uint8_t> big = Pattern(494 * 600, 5);
  Store(row, big);  // 600 changed blocks through a cache of 255
  EXPECT_LE(blob->CachedCount(), 255u);
  EXPECT_GT(blob->WriteCount(), 0u);
  Flush();
  Reopen();
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, big);
}

TEST_F(BlobFileTest, ChangeCheckAndMissCheck) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(100));
  Flush();
  Reopen();  // shared: the creator held the file exclusively
  TSimpleStorageHost otherHost;
  TBlobFile other(nullptr, &otherHost);
  other.SetFileName(kBlob);
  other.SetBlockSize(512);
  other.Open();
  EXPECT_FALSE(other.HeaderChanged());
  std::vector<std::uint8_t> second = NewRow();
  Store(second, Pattern(700));
  Flush();
  EXPECT_TRUE(other.HeaderChanged());
  EXPECT_EQ(other.EndPosition(), blob->EndPosition());
  EXPECT_EQ(other.ChangeCounter(), blob->ChangeCounter());
  other.Close();

  // A block missing from the cache first runs the table's change check.
  blob->DropCache();
  host.missChecks = 0;
  host.changesOnMiss = true;
  EXPECT_EQ(blob->GetBlock(nullptr, 512), nullptr);
  TBlock* b = blob->GetBlock(nullptr, 512);
  ASSERT_NE(b, nullptr);
  blob->ReleaseBlock(b);
  EXPECT_EQ(host.missChecks, 2);
  // Loading a BLOB repeats after such a drop and still succeeds.
  blob->DropCache();
  host.changesOnMiss = true;
  std::vector<std::uint8_t> loaded;
  ASSERT_EQ(Load(row, loaded), 0);
  EXPECT_EQ(loaded, Pattern(100));
}

TEST_F(BlobFileTest, BlockDataTransfersAreBounded) {
  TBlock* b = blob->AllocateBlock(nullptr);
  std::vector<std::uint8_t> bytes(600, 1);
  EXPECT_EQ(EngineCodeOf([&] { blob->WriteBlockData(b, 0, 495, bytes.data()); }),
            kErrInvalidBlobLength);
  EXPECT_EQ(EngineCodeOf([&] { blob->WriteBlockData(b, 10, 490, bytes.data()); }),
            kErrInvalidBlobLength);
  blob->WriteBlockData(b, 0, 494, bytes.data());
  EXPECT_EQ(b->used, 494);
  EXPECT_TRUE(b->changed);
  EXPECT_EQ(EngineCodeOf([&] { blob->ReadBlockData(b, 0, 495, bytes.data()); }),
            kErrInvalidBlobLength);
  b->used = 7;
  EXPECT_EQ(blob->ReadBlockData(b, 0, 100, bytes.data()), 7u);
  blob->ReleaseBlock(b);
  EXPECT_EQ(EngineCodeOf([&] { blob->GetBlock(nullptr, 0); }), kErrBlobBufferCorrupt);
}

TEST(InMemoryTableFilesTest, RecordsAndBlobsRoundTripThroughMemoryFiles) {
  TSimpleStorageHost host;
  TDataFileSpec plan;
  plan.fields = CatalogFields();
  {
    TDataFile data(nullptr, &host);
    data.SetFileName("MEMCAT.DAT");
    data.SetInMemory(true);
    data.CreateDataFile(plan);
    TBlobFile blob(nullptr, &host);
    blob.SetFileName("MEMCAT.BLB");
    blob.SetInMemory(true);
    blob.SetBlockSize(data.BlobBlockSize());
    blob.CreateNew();

    TRecord* record = data.AllocateRecord(nullptr);
    std::vector<std::uint8_t> row(kR, 0);
    bytes::PutI32(&row[kRecordLinkOffset], record->Number());
    TBlobBufferSet set("MEMCAT");
    const std::vector<std::uint8_t> content = Pattern(3000);
    ASSERT_EQ(set.Open(nullptr, &blob, data.Definitions(), kFileField, row.data(), kR), 0);
    ASSERT_EQ(set.Write(data.Definitions(), kFileField, row.data(), kR, 0, 3000, content.data()),
              0);
    set.Store(nullptr, data, blob, data.Definitions(), row.data(), kR);
    std::memcpy(record->Data(), row.data(), kR);
    data.MarkRecordChanged(record);
    data.ReleaseRecord(record);
    data.WriteBack(false);
    data.WriteHeader(false, false);
    data.WriteDefinitions();
    blob.WriteBack(false);
    blob.WriteHeader(false, false);
  }
  // Reopened from the memory files, which keep their content after the close.
  TDataFile data(nullptr, &host);
  data.SetFileName("MEMCAT.DAT");
  data.SetInMemory(true);
  data.Open();
  EXPECT_NO_THROW(data.CheckConsistency());
  TBlobFile blob(nullptr, &host);
  blob.SetFileName("MEMCAT.BLB");
  blob.SetInMemory(true);
  blob.SetBlockSize(data.BlobBlockSize());
  blob.Open();
  EXPECT_TRUE(blob.DiagnoseChains(data).empty());
  TRecord* record = data.GetRecord(nullptr, 1);
  std::vector<std::uint8_t> row = record->buffer;
  data.ReleaseRecord(record);
  TBlobBufferSet set("MEMCAT");
  ASSERT_EQ(set.Open(nullptr, &blob, data.Definitions(), kFileField, row.data(), kR), 0);
  std::vector<std::uint8_t> loaded(3000);
  std::uint32_t done = 0;
  EXPECT_EQ(set.Read(data.Definitions(), kFileField, row.data(), kR, 0, 3000, loaded.data(), done),
            0);
  EXPECT_EQ(loaded, Pattern(3000));
  blob.Close();
  data.Close();
  blob.Delete();
  data.Delete();
}

}  // namespace
}  // namespace engine_test
