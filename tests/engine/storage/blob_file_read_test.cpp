// Reading whole BLOBs straight from the BLOB file (TBlobBufferSet::ReadWhole,
// TBlobFile::ReadChain): chains of no, one and many blocks, chains that jump
// back and forth after blocks were freed and reused, damaged chains and files
// answering the codes a buffer load answers, changes a transaction keeps in
// the cache, a buffer still open in the record, encryption, and a change
// check that makes the read start over.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;

constexpr std::uint32_t kFileField = 5;   // the catalog's File BLOB
constexpr std::uint16_t kFileSlot = 521;  // its slot: flag, first block, id
constexpr std::size_t kR = 530;
constexpr std::int32_t kS = 512;           // block size
constexpr std::uint32_t kBlockData = 494;  // data bytes per block

std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> v(length);
  for (std::size_t i = 0; i < length; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return v;
}

// Collects what a read hands over; counts how often it started.
class CollectingSink : public TBlobSink {
 public:
  void Begin(std::uint32_t length) override {
    bytes.clear();
    announced = length;
    ++begins;
  }
  void Take(const std::uint8_t* data, std::uint32_t count) override {
    bytes.insert(bytes.end(), data, data + count);
  }
  std::vector<std::uint8_t> bytes;
  std::uint32_t announced = 0;
  int begins = 0;
};

class BlobReadTest : public TableFilesTest {
 protected:
  void SetUp() override {
    TableFilesTest::SetUp();
    Create(CatalogFields());
  }
  std::vector<std::uint8_t> NewRow() { return std::vector<std::uint8_t>(kR, 0); }
  static std::int32_t First(const std::vector<std::uint8_t>& r) {
    return bytes::GetI32(&r[kFileSlot + 1]);
  }
  void Store(std::vector<std::uint8_t>& r, const std::vector<std::uint8_t>& content) {
    ASSERT_EQ(buffers.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR), 0);
    ASSERT_EQ(buffers.Truncate(data->Definitions(), kFileField, r.data(), kR, 0), 0);
    ASSERT_EQ(buffers.Write(data->Definitions(), kFileField, r.data(), kR, 0,
                            static_cast<std::uint32_t>(content.size()), content.data()),
              0);
    buffers.Store(nullptr, *data, *blob, data->Definitions(), r.data(), kR);
  }
  // The code of a direct read of the row's BLOB; its bytes in `sink`.
  int ReadWhole(const std::vector<std::uint8_t>& r, CollectingSink& sink) {
    return buffers.ReadWhole(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR,
                             sink);
  }
  // The code of loading the row's BLOB into a buffer (closed again).
  int LoadCode(std::vector<std::uint8_t> r) {
    TBlobBufferSet other("Back");
    return other.Open(nullptr, blob.get(), data->Definitions(), kFileField, r.data(), kR);
  }
  std::vector<std::int32_t> ChainOnDisk(std::int32_t first) {
    const std::vector<std::uint8_t> f = ReadBytes(Host("Back.BLB"));
    std::vector<std::int32_t> chain;
    for (std::int32_t p = first; p != 0 && chain.size() < f.size() / kS;) {
      chain.push_back(p);
      p = bytes::GetI32(&f.at(static_cast<std::size_t>(p) + block_header::kNext));
    }
    return chain;
  }

  TBlobBufferSet buffers{"Back"};
};

TEST_F(BlobReadTest, ChainsOfNoneOneAndManyBlocks) {
  // 1,200 blocks take three windows of the read (256 KB each).
  const std::size_t lengths[] = {0, 1, kBlockData, kBlockData + 1, 1000, kBlockData * 1200 + 17};
  std::vector<std::vector<std::uint8_t>> rows;
  for (std::size_t length : lengths) {
    rows.push_back(NewRow());
    Store(rows.back(), Pattern(length, static_cast<std::uint8_t>(length)));
  }
  Flush();
  Reopen();
  for (std::size_t i = 0; i < std::size(lengths); ++i) {
    const std::uint64_t readsBefore = blob->ReadCount();
    CollectingSink sink;
    ASSERT_EQ(ReadWhole(rows[i], sink), 0) << lengths[i];
    EXPECT_EQ(sink.announced, lengths[i]);
    EXPECT_EQ(sink.bytes, Pattern(lengths[i], static_cast<std::uint8_t>(lengths[i]))) << lengths[i];
    // One read of 8 KB (16 blocks) from the first block, before the length is
    // known, so that a small BLOB comes with one read; then one read per
    // window of consecutive blocks.
    const std::uint64_t blocks = (lengths[i] + kBlockData - 1) / kBlockData;
    const std::uint64_t windows = blocks <= 16 ? 0 : (blocks - 16 + 511) / 512;
    EXPECT_EQ(blob->ReadCount() - readsBefore, (blocks == 0 ? 0 : 1) + windows) << lengths[i];
    EXPECT_EQ(LoadCode(rows[i]), 0);
  }
  EXPECT_EQ(First(rows[0]), 0);  // an empty BLOB has no chain
  EXPECT_EQ(blob->CachedCount(), 0u) << "the reads leave the cache alone";
}

TEST_F(BlobReadTest, ChainsThatJumpAfterBlocksWereFreedAndReused) {
  std::vector<std::uint8_t> a = NewRow(), b = NewRow(), c = NewRow(), d = NewRow();
  Store(a, Pattern(1000, 1));  // 512 1024 1536
  Store(b, Pattern(1000, 2));  // 2048 2560 3072
  Store(a, Pattern(1, 3));     // frees 1024, then 1536
  // Reuses 1536, then 1024 (a step back), then appends after b.
  Store(c, Pattern(kBlockData * 5, 4));
  // Grows in place past b and c: its chain leaves 2048 for the file's end.
  Store(b, Pattern(kBlockData * 4 + 3, 5));
  Flush();
  EXPECT_EQ(ChainOnDisk(First(c)), (std::vector<std::int32_t>{1536, 1024, 3584, 4096, 4608}));
  EXPECT_EQ(ChainOnDisk(First(b)), (std::vector<std::int32_t>{2048, 2560, 3072, 5120, 5632}));
  // d is read while its blocks are spread over the whole file.
  Store(c, Pattern(1, 6));  // frees 1024 3584 4096 4608
  Store(d, Pattern(kBlockData * 6, 7));
  Flush();
  EXPECT_EQ(ChainOnDisk(First(d)), (std::vector<std::int32_t>{4608, 4096, 3584, 1024, 6144, 6656}));
  Reopen();
  const struct {
    std::vector<std::uint8_t>* row;
    std::vector<std::uint8_t> content;
  } expect[] = {{&a, Pattern(1, 3)},
                {&b, Pattern(kBlockData * 4 + 3, 5)},
                {&c, Pattern(1, 6)},
                {&d, Pattern(kBlockData * 6, 7)}};
  for (const auto& e : expect) {
    CollectingSink sink;
    ASSERT_EQ(ReadWhole(*e.row, sink), 0);
    EXPECT_EQ(sink.bytes, e.content);
  }
}

TEST_F(BlobReadTest, DamagedChainsAnswerTheCodesOfALoad) {
  namespace k = block_header;
  // Record 1: 1,000 bytes in 512, 1024, 1536; record 2: 10 bytes in 2048.
  struct Case {
    const char* what;
    std::function<void(const std::string& blb)> damage;
    bool written;  // the table wrote since it opened: a short read is accepted
    int code;
  };
  const auto patch = [](std::int32_t block, std::size_t field, std::int32_t value) {
    return [=](const std::string& blb) {
      PatchI32(blb, static_cast<std::size_t>(block) + field, value);
    };
  };
  const Case cases[] = {
      {"first block of another BLOB", patch(512, k::kBlobId, 99), false, kErrRecordChanged},
      {"middle block of another BLOB", patch(1024, k::kBlobId, 99), false, kErrRecordChanged},
      {"last block of another BLOB", patch(1536, k::kBlobId, 99), false, kErrRecordChanged},
      {"chain loops back to its first block", patch(1024, k::kNext, 512), false,
       kErrBlobBufferCorrupt},
      {"chain loops onto the current block", patch(1024, k::kNext, 1024), false,
       kErrBlobBufferCorrupt},
      {"next beyond the end", patch(512, k::kNext, 4096), false, kErrBlobBufferCorrupt},
      {"next inside a block", patch(1024, k::kNext, 1700), false, kErrBlobBufferCorrupt},
      {"chain ends early", patch(1024, k::kNext, 0), false, kErrBlobEndPremature},
      {"chain runs into another BLOB", patch(1024, k::kNext, 2048), false, kErrRecordChanged},
      {"total larger than the file", patch(512, k::kTotal, 0x7FFFFFFF), false,
       kErrBlobBufferCorrupt},
      {"used bytes past the data area",
       [](const std::string& blb) {
         PatchBytes(blb, 1024 + k::kUsed, {0xFF, 0xFF});
         PatchI32(blb, 512 + k::kTotal, 1500);  // more than the chain holds, less than the file
       },
       false, kErrBlobBufferCorrupt},
      {"a short block in the middle",
       [](const std::string& blb) {
         PatchBytes(blb, 1024 + k::kUsed, {100, 0});
       },
       false, kErrBlobEndPremature},
      {"file cut inside the chain",
       [](const std::string& blb) { std::filesystem::resize_file(blb, 1024 + 100); }, false,
       kErrReadFailed},
      {"file cut inside the chain of a table that wrote",
       [](const std::string& blb) { std::filesystem::resize_file(blb, 1024 + 100); }, true,
       kErrBlobBufferCorrupt},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> one = NewRow(), two = NewRow();
    Store(one, Pattern(1000));
    Store(two, Pattern(10));
    for (const auto* row : {&one, &two})  // records for the table check
      Append([&](std::uint8_t* r) { std::memcpy(r + kFileSlot, row->data() + kFileSlot, 9); });
    Flush();
    CloseAll();
    c.damage(Host("Back.BLB"));
    Reopen();
    host.written = c.written;
    CollectingSink sink;
    EXPECT_EQ(ReadWhole(one, sink), c.code) << c.what;
    EXPECT_EQ(LoadCode(one), c.code) << c.what << ": a load answers the same";
    // The table check finds what the read refuses.
    bool found = true;
    try {
      found = !blob->DiagnoseChains(*data).empty();
    } catch (const EZORVADEngineError&) {
    }
    EXPECT_TRUE(found) << c.what;
    if (std::filesystem::file_size(Host("Back.BLB")) > 2048) {
      sink = CollectingSink();
      EXPECT_EQ(ReadWhole(two, sink), 0) << c.what << ": the other BLOB is untouched";
      EXPECT_EQ(sink.bytes, Pattern(10)) << c.what;
    }
    CloseAll();
    Create(CatalogFields());
  }
}

TEST_F(BlobReadTest, ChangesKeptInTheCacheWinOverTheFile) {
  std::vector<std::uint8_t> row = NewRow();
  std::vector<std::uint8_t> content = Pattern(kBlockData * 600, 9);
  Store(row, content);
  Flush();
  Reopen();
  // A transaction changes two blocks in the middle of the chain: one block
  // is changed in the cache only, the file still holds the old bytes.
  host.transactionLock = true;
  const std::vector<std::uint8_t> changed(kBlockData, 0xEE);
  for (const std::int32_t position : {512 + 100 * kS, 512 + 550 * kS}) {
    TBlock* block = blob->GetBlock(nullptr, position);
    ASSERT_NE(block, nullptr);
    blob->WriteBlockData(block, 0, kBlockData, changed.data());
    blob->ReleaseBlock(block);
    const std::size_t index = static_cast<std::size_t>((position - 512) / kS);
    std::copy(changed.begin(), changed.end(), content.begin() + index * kBlockData);
  }
  CollectingSink sink;
  ASSERT_EQ(ReadWhole(row, sink), 0);
  EXPECT_EQ(sink.bytes, content);

  // A BLOB stored in the transaction lies in the cache alone, past the
  // file's end.
  std::vector<std::uint8_t> added = NewRow();
  Store(added, Pattern(3000, 4));
  ASSERT_LT(std::filesystem::file_size(Host("Back.BLB")),
            static_cast<std::uintmax_t>(blob->EndPosition()));
  sink = CollectingSink();
  ASSERT_EQ(ReadWhole(added, sink), 0);
  EXPECT_EQ(sink.bytes, Pattern(3000, 4));
}

TEST_F(BlobReadTest, AnOpenBufferIsReadWithItsChanges) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(2000, 1));
  const TFieldDefinitions& defs = data->Definitions();
  ASSERT_EQ(buffers.Open(nullptr, blob.get(), defs, kFileField, row.data(), kR), 0);
  const std::vector<std::uint8_t> pending = Pattern(700, 8);
  ASSERT_EQ(buffers.Truncate(defs, kFileField, row.data(), kR, 0), 0);
  ASSERT_EQ(buffers.Write(defs, kFileField, row.data(), kR, 0, 700, pending.data()), 0);
  CollectingSink sink;
  ASSERT_EQ(ReadWhole(row, sink), 0);
  EXPECT_EQ(sink.bytes, pending);
  EXPECT_EQ(buffers.OpenCount(), 1) << "the read leaves the buffer open";

  // A negative slot naming no buffer, and a field that is not a BLOB.
  std::vector<std::uint8_t> stray = NewRow();
  bytes::PutI32(&stray[kFileSlot + 1], -7);
  EXPECT_EQ(ReadWhole(stray, sink), kErrInvalidBlobOffset);
  EXPECT_EQ(buffers.ReadWhole(nullptr, blob.get(), defs, 2, row.data(), kR, sink),
            kErrInvalidBlobField);
}

TEST_F(BlobReadTest, EncryptedChainsReadBack) {
  CloseAll();
  blob.reset();
  Create(CatalogFields(), /*encrypted=*/true);
  std::vector<std::uint8_t> a = NewRow(), b = NewRow();
  Store(a, Pattern(1000, 1));
  Store(b, Pattern(1000, 2));
  Store(a, Pattern(kBlockData * 3, 3));  // 512, 1024, 1536 and then 2560
  Flush();
  Reopen();
  for (int pass = 0; pass < 2; ++pass) {  // the second pass reads deciphered windows anew
    CollectingSink sink;
    ASSERT_EQ(ReadWhole(a, sink), 0);
    EXPECT_EQ(sink.bytes, Pattern(kBlockData * 3, 3));
  }
}

TEST_F(BlobReadTest, AChangeFoundByTheCheckStartsTheReadOver) {
  std::vector<std::uint8_t> row = NewRow();
  Store(row, Pattern(5000, 2));
  Flush();
  Reopen();
  // Found at the first block, and (first block cached) at the first window.
  for (bool firstCached : {false, true}) {
    blob->DropCache();
    if (firstCached) blob->ReleaseBlock(blob->GetBlock(nullptr, First(row)));
    host.changesOnMiss = true;
    CollectingSink sink;
    ASSERT_EQ(ReadWhole(row, sink), 0);
    EXPECT_EQ(sink.bytes, Pattern(5000, 2));
    EXPECT_EQ(sink.begins, firstCached ? 2 : 1) << "Begin comes again when bytes were handed over";
  }
}

}  // namespace
}  // namespace engine_test
