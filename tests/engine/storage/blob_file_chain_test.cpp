// Broken BLOB chains and headers, made by byte surgery on a sound file: loading
// answers 8708, 8711 or 8963, FreeChain raises or (in a repair) reports and
// cuts, the header check raises 12035 or 8961, and the table-set diagnosis
// lists every fault. Never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;

constexpr std::uint32_t kFileField = 5;
constexpr std::uint16_t kFileSlot = 521;
constexpr std::size_t kR = 530;

class TRecordingLog : public TRepairLog {
 public:
  void Report(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

class BlobChainTest : public TableFilesTest {
 protected:
  // Record 1 of the catalog holds a 1,000-byte BLOB in blocks 512, 1024, 1536
  // (id 1); record 2 a 10-byte BLOB in block 2048 (id 2). Files closed.
  void MakeSoundFiles() {
    Create(CatalogFields());
    for (std::size_t length : {std::size_t{1000}, std::size_t{10}}) {
      TRecord* record = data->AllocateRecord(nullptr);
      std::vector<std::uint8_t> row(kR, 0);
      bytes::PutI32(&row[kRecordLinkOffset], record->Number());
      const std::vector<std::uint8_t> content(length, 0x5A);
      TBlobBufferSet set("Back");
      ASSERT_EQ(set.Open(nullptr, blob.get(), data->Definitions(), kFileField, row.data(), kR), 0);
      ASSERT_EQ(set.Write(data->Definitions(), kFileField, row.data(), kR, 0,
                          static_cast<std::uint32_t>(length), content.data()),
                0);
      set.Store(nullptr, *data, *blob, data->Definitions(), row.data(), kR);
      std::memcpy(record->Data(), row.data(), kR);
      data->MarkRecordChanged(record);
      data->ReleaseRecord(record);
    }
    Flush();
    CloseAll();
  }
  std::string blb() const { return Host("Back.BLB"); }
  // Block field surgery: `field` is a block-header offset.
  void PatchBlock(std::int32_t position, std::size_t field, std::int32_t value) {
    PatchI32(blb(), static_cast<std::size_t>(position) + field, value);
  }
  std::vector<std::uint8_t> Row(std::int32_t n) {
    TRecord* r = data->GetRecord(nullptr, n);
    std::vector<std::uint8_t> row = r->buffer;
    data->ReleaseRecord(r);
    return row;
  }
  int LoadCode(std::int32_t n) {
    std::vector<std::uint8_t> row = Row(n);
    TBlobBufferSet set("Back");
    return set.Open(nullptr, blob.get(), data->Definitions(), kFileField, row.data(), kR);
  }
};

TEST_F(BlobChainTest, SoundFilesLoadAndDiagnoseClean) {
  MakeSoundFiles();
  Reopen();
  EXPECT_EQ(LoadCode(1), 0);
  EXPECT_EQ(LoadCode(2), 0);
  EXPECT_NO_THROW(blob->CheckConsistency());
  EXPECT_TRUE(blob->DiagnoseChains(*data).empty());
}

TEST_F(BlobChainTest, DamagedChainsFailTheLoad) {
  namespace k = block_header;
  struct Case {
    const char* what;
    std::int32_t block;
    std::size_t field;
    std::int32_t value;
    int code;
  } cases[] = {
      {"first block of another BLOB", 512, k::kBlobId, 99, kErrRecordChanged},
      {"middle block of another BLOB", 1024, k::kBlobId, 99, kErrRecordChanged},
      {"chain loops back to its first block", 1024, k::kNext, 512, kErrBlobBufferCorrupt},
      {"chain loops onto the current block", 1024, k::kNext, 1024, kErrBlobBufferCorrupt},
      {"next beyond the end", 512, k::kNext, 4096, kErrBlobBufferCorrupt},
      {"next inside a block", 512, k::kNext, 700, kErrBlobBufferCorrupt},
      {"next before the first block", 512, k::kNext, 100, kErrBlobBufferCorrupt},
      {"chain ends early", 1024, k::kNext, 0, kErrBlobEndPremature},
      {"total larger than the file", 512, k::kTotal, 0x7FFFFFFF, kErrBlobBufferCorrupt},
      {"negative total", 512, k::kTotal, -1, kErrBlobBufferCorrupt},
      // The writer never stores a used count beyond the data area: damage.
      {"used bytes beyond the data area", 1024, k::kUsed, 0xFFFF, kErrBlobBufferCorrupt},
  };
  for (const Case& c : cases) {
    MakeSoundFiles();
    if (c.field == k::kUsed) {
      PatchBytes(blb(), static_cast<std::size_t>(c.block) + c.field, {0xFF, 0xFF});
      PatchBlock(512, k::kTotal, 1500);  // more than the chain holds, less than the file
    } else {
      PatchBlock(c.block, c.field, c.value);
    }
    Reopen();
    EXPECT_EQ(LoadCode(1), c.code) << c.what;
    EXPECT_EQ(LoadCode(2), 0) << c.what;  // the other BLOB is untouched
    EXPECT_FALSE(blob->DiagnoseChains(*data).empty()) << c.what;
    CloseAll();
  }
}

TEST_F(BlobChainTest, FreeChainRaisesOutsideARepair) {
  MakeSoundFiles();
  PatchBlock(1536, block_header::kNext, 1024);  // 512 -> 1024 -> 1536 -> 1024
  Reopen();
  std::int32_t first = 512;
  EXPECT_EQ(EngineCodeOf([&] { blob->FreeChain(nullptr, false, false, 1, 1, first); }),
            kErrBlobBufferCorrupt);
}

TEST_F(BlobChainTest, RepairReportsAndCutsAtTheFault) {
  struct Case {
    const char* what;
    std::int32_t block;
    std::size_t field;
    std::int32_t value;
    std::string report;
    std::int32_t firstAfterFix;  // the record's first position after a fixing walk
  } cases[] = {
      {"loop", 1536, block_header::kNext, 1024,
       "Recursive intra-block pointer in BLOB file for physical record # 1, ", 0},
      {"pointer out of the file", 1024, block_header::kNext, 99999,
       "Invalid intra-block pointer in BLOB file for physical record # 1, ", 0},
      {"block of another BLOB", 1536, block_header::kBlobId, 2,
       "Invalid intra-block pointer in BLOB file for physical record # 1, ", 0},
      {"first block of another BLOB", 512, block_header::kBlobId, 2,
       "Invalid BLOB offset in BLOB file for physical record # 1, ", 0},
  };
  for (const Case& c : cases) {
    MakeSoundFiles();
    PatchBlock(c.block, c.field, c.value);
    Reopen();
    TRecordingLog log;
    std::int32_t first = 512;
    blob->FreeChain(nullptr, true, false, 1, 1, first, &log);  // verify only
    ASSERT_EQ(log.lines.size(), 1u) << c.what;
    EXPECT_EQ(log.lines[0], c.report + "error not fixed") << c.what;
    EXPECT_EQ(first, 512) << c.what;
    EXPECT_EQ(blob->FirstFree(), 0) << c.what;  // nothing freed

    log.lines.clear();
    blob->FreeChain(nullptr, false, false, 1, 1, first, &log);
    ASSERT_EQ(log.lines.size(), 1u) << c.what;
    EXPECT_EQ(log.lines[0], c.report + "error fixed") << c.what;
    EXPECT_EQ(first, c.firstAfterFix) << c.what;
    // The free chain stays a simple list of blocks that belonged to record 1:
    // never record 2's block 2048, never a cycle.
    std::vector<std::int32_t> freed;
    for (std::int32_t p = blob->FirstFree(); p != 0 && freed.size() < 10;) {
      freed.push_back(p);
      TBlock* b = blob->GetBlock(nullptr, p);
      p = b->next;
      blob->ReleaseBlock(b);
    }
    EXPECT_LT(freed.size(), 4u) << c.what;
    EXPECT_EQ(std::count(freed.begin(), freed.end(), 2048), 0) << c.what;
    EXPECT_EQ(LoadCode(2), 0) << c.what;
    CloseAll();
  }
}

TEST_F(BlobChainTest, AdoptRestampsForeignBlocks) {
  MakeSoundFiles();
  PatchBlock(1024, block_header::kBlobId, 77);
  Reopen();
  std::int32_t first = 512;
  blob->FreeChain(nullptr, false, true, 1, 1, first);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(blob->FirstFree(), 1536);  // all three freed, in chain order
}

TEST_F(BlobChainTest, ShrinkingNeverFreesBlocksOfTheNewChain) {
  MakeSoundFiles();
  PatchBlock(1536, block_header::kNext, 512);  // the tail leads back to the first block
  Reopen();
  std::vector<std::uint8_t> row = Row(1);
  TBlobBufferSet set("Back");
  const TFieldDefinitions& defs = data->Definitions();
  ASSERT_EQ(set.Open(nullptr, blob.get(), defs, kFileField, row.data(), kR), 0);  // 1000 bytes
  ASSERT_EQ(set.Truncate(defs, kFileField, row.data(), kR, 1), 0);
  set.Store(nullptr, *data, *blob, defs, row.data(), kR);
  EXPECT_EQ(bytes::GetI32(&row[kFileSlot + 1]), 512);
  // Free: 1536 -> 1024, and nothing else; 512 stays the BLOB's only block.
  std::vector<std::int32_t> freed;
  for (std::int32_t p = blob->FirstFree(); p != 0 && freed.size() < 10;) {
    freed.push_back(p);
    TBlock* b = blob->GetBlock(nullptr, p);
    p = b->next;
    blob->ReleaseBlock(b);
  }
  EXPECT_EQ(freed, (std::vector<std::int32_t>{1536, 1024}));
  std::vector<std::uint8_t> copy = row;
  ASSERT_EQ(set.Open(nullptr, blob.get(), defs, kFileField, copy.data(), kR), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(set.Size(defs, kFileField, copy.data(), kR, size), 0);
  EXPECT_EQ(size, 1u);
}

TEST_F(BlobChainTest, HeaderCheck) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::int32_t value;  // int32 written at offset (the format byte is written alone)
    int code;
  } cases[] = {
      {"format", blob_header::kFormat, 3, kErrWrongVersion},
      {"first free below the first block", blob_header::kFirstFree, 100, kErrHeaderCorrupt},
      {"first free at the end", blob_header::kFirstFree, 2560, kErrHeaderCorrupt},
      {"first free inside a block", blob_header::kFirstFree, 1000, kErrHeaderCorrupt},
      {"end not on a block boundary", blob_header::kEnd, 2000, kErrHeaderCorrupt},
      {"first free in range", blob_header::kFirstFree, 1024, 0},
  };
  for (const Case& c : cases) {
    MakeSoundFiles();
    if (c.offset == blob_header::kFormat)
      PatchBytes(blb(), c.offset, {static_cast<std::uint8_t>(c.value)});
    else
      PatchI32(blb(), c.offset, c.value);
    Reopen();
    EXPECT_EQ(EngineCodeOf([&] { blob->CheckConsistency(); }), c.code) << c.what;
    CloseAll();
  }
  // An empty file (end 512) with a free block is impossible.
  Create(CatalogFields());
  CloseAll();
  PatchI32(blb(), blob_header::kFirstFree, 1024);
  Reopen();
  EXPECT_EQ(EngineCodeOf([&] { blob->CheckConsistency(); }), kErrHeaderCorrupt);
}

TEST_F(BlobChainTest, DiagnosisFindsSharedBlocksAndCircularFreeChains) {
  MakeSoundFiles();
  PatchI32(Host("Back.DAT"), 3967 + 530 + kFileSlot + 1, 1536);  // record 2 -> block of record 1
  Reopen();
  std::vector<TCheckFinding> findings = blob->DiagnoseChains(*data);
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(findings[0].text.find("record 2"), std::string::npos) << findings[0].text;
  CloseAll();

  MakeSoundFiles();
  PatchI32(blb(), blob_header::kFirstFree, 1024);
  PatchBlock(1024, block_header::kNext, 1024);
  Reopen();
  findings = blob->DiagnoseChains(*data);
  ASSERT_FALSE(findings.empty());
  EXPECT_NE(findings[0].text.find("free chain returns"), std::string::npos) << findings[0].text;
}

TEST_F(BlobChainTest, TableSetCheckReportsWhatItFinds) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    int code;  // of the first finding; 0 when none
  } cases[] = {
      {"sound", [] {}, 0},
      {"data file one byte long", [&] { std::filesystem::resize_file(Host("Back.DAT"), 3967 + 1); },
       kErrHeaderCorrupt},
      {"BLOB chain loops", [&] { PatchBlock(1024, block_header::kNext, 512); },
       kErrBlobBufferCorrupt},
      {"BLOB header format", [&] { PatchBytes(blb(), blob_header::kFormat, {9}); },
       kErrWrongVersion},
      {"BLOB file missing", [&] { std::filesystem::remove(blb()); }, kErrInvalidPath},
      {"data header cut short", [&] { std::filesystem::resize_file(Host("Back.DAT"), 50); },
       kErrReadFailed},
  };
  for (const Case& c : cases) {
    MakeSoundFiles();
    c.damage();
    const std::vector<TCheckFinding> findings = DiagnoseTableFiles(kData, kBlob);
    if (c.code == 0) {
      EXPECT_TRUE(findings.empty()) << c.what;
    } else {
      ASSERT_FALSE(findings.empty()) << c.what;
      EXPECT_EQ(findings[0].code, c.code) << c.what << ": " << findings[0].text;
    }
    // The check closed the files again: an exclusive open is not refused.
    TDataFile probe(nullptr, &host);
    probe.SetFileName(kData);
    probe.SetExclusive(true);
    EXPECT_NE(EngineCodeOf([&] { probe.Open(); }), kErrAccessDenied) << c.what;
  }
}

TEST_F(BlobChainTest, RandomCorruptionNeverCrashes) {
  MakeSoundFiles();
  const std::vector<std::uint8_t> original = ReadBytes(blb());
  for (std::size_t at = 0; at < original.size(); at += 5) {
    std::vector<std::uint8_t> bad = original;
    bad[at] ^= 0xC3;
    PatchBytes(blb(), 0, bad);
    try {
      Reopen();
      blob->DiagnoseChains(*data);
      LoadCode(1);
      LoadCode(2);
      std::int32_t first = 512;
      TRecordingLog log;
      blob->FreeChain(nullptr, false, false, 1, 1, first, &log);
    } catch (const EZORVADEngineError&) {
    }
    CloseAll();
  }
}

}  // namespace
}  // namespace engine_test
