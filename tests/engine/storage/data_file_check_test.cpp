// The open-time consistency check of the data file: byte surgery on one field
// of a sound catalog file gives the right code, never a crash.
#include <gtest/gtest.h>

#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;
namespace h = data_header;

class DataFileCheckTest : public TableFilesTest {
 protected:
  // A catalog file with three rows, closed.
  void MakeSoundFile() {
    Create(CatalogFields());
    for (int i = 0; i < 3; ++i) AppendInt(261, i);
    Flush();
    CloseAll();
    blob.reset();
  }
  // Opens the data file and runs the check; the code raised (0 when sound).
  int OpenAndCheck() {
    return EngineCodeOf([&] {
      data = std::make_unique<TDataFile>(nullptr, &host);
      data->SetFileName(kData);
      data->Open();
      data->CheckConsistency();
    });
  }
  std::string path() const { return Host("Back.DAT"); }
};

TEST_F(DataFileCheckTest, SoundFilePasses) {
  MakeSoundFile();
  EXPECT_EQ(OpenAndCheck(), 0);
  EXPECT_TRUE(data->Diagnose().empty());
}

TEST_F(DataFileCheckTest, OneCorruptFieldGivesItsCode) {
  const std::size_t def2 = 127 + 768;  // FileTime's definition
  struct Case {
    const char* what;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    int code;
  } cases[] = {
      {"format byte", h::kFormat, {3}, kErrWrongVersion},
      {"language not installed", h::kLanguageId, {0x99, 0x7F}, kErrLanguageDriver},
      {"record size", h::kRecordSize, {0x13, 0x02}, kErrHeaderCorrupt},
      {"next record number", h::kNextRecord, {5, 0, 0, 0}, kErrHeaderCorrupt},
      {"field number", def2 + 0, {7, 0}, kErrHeaderCorrupt},
      {"name starts with a digit", def2 + 3, {'9'}, kErrHeaderCorrupt},
      {"name length 0", def2 + 2, {0}, kErrHeaderCorrupt},
      {"duplicate name", def2 + 2, {8, 'F', 'I', 'L', 'E', 'N', 'A', 'M', 'E'}, kErrHeaderCorrupt},
      {"type 0", def2 + 84, {0}, kErrHeaderCorrupt},
      {"size on an integer", def2 + 86, {4}, kErrHeaderCorrupt},
      {"scale on an integer", def2 + 87, {2}, kErrHeaderCorrupt},
      {"storage size", def2 + 88, {5}, kErrHeaderCorrupt},
      {"slot offset", def2 + 90, {0x06, 0x01}, kErrHeaderCorrupt},
      {"default not an integer", def2 + 196, {3, 'a', 'b', 'c'}, kErrHeaderCorrupt},
  };
  for (const Case& c : cases) {
    MakeSoundFile();
    PatchBytes(path(), c.offset, c.bytes);
    EXPECT_EQ(OpenAndCheck(), c.code) << c.what;
    data.reset();
  }
}

TEST_F(DataFileCheckTest, FileLengthMustMatchTheRecords) {
  const std::int64_t sound = 3967 + 3 * 530;
  struct Case {
    std::int64_t length;
    int code;
  } cases[] = {{sound, 0},
               {sound + 1, kErrHeaderCorrupt},
               {sound - 530, kErrHeaderCorrupt},
               {sound + 530, kErrHeaderCorrupt},
               {3967 - 1, kErrReadFailed}};  // definitions cut short: the open's read fails
  for (const Case& c : cases) {
    MakeSoundFile();
    std::filesystem::resize_file(path(), static_cast<std::uintmax_t>(c.length));
    EXPECT_EQ(OpenAndCheck(), c.code) << "length " << c.length;
    data.reset();
  }
}

TEST_F(DataFileCheckTest, ImpossibleHeadersFailTheOpenCleanly) {
  // More than 1024 fields: refused before the definitions are read.
  MakeSoundFile();
  PatchBytes(path(), h::kFieldCount, {0x01, 0x04});  // 1025
  EXPECT_EQ(OpenAndCheck(), kErrHeaderCorrupt);
  EXPECT_FALSE(data->IsOpen());
  data.reset();
  // More fields than the file holds definitions for: a short read.
  MakeSoundFile();
  PatchBytes(path(), h::kFieldCount, {0x00, 0x04});  // 1024
  EXPECT_EQ(OpenAndCheck(), kErrReadFailed);
  data.reset();
  // Records too short for their status, link and auto-increment bytes.
  for (const std::uint8_t size : {0, 1, 8}) {
    MakeSoundFile();
    PatchBytes(path(), h::kRecordSize, {size, 0});
    EXPECT_EQ(OpenAndCheck(), kErrHeaderCorrupt) << int{size};
    EXPECT_FALSE(data->IsOpen());
    data.reset();
  }
  // A file shorter than its header.
  MakeSoundFile();
  std::filesystem::resize_file(path(), 100);
  EXPECT_EQ(OpenAndCheck(), kErrReadFailed);
  EXPECT_FALSE(data->IsOpen());
  // The object can be opened again once the file is sound.
  data.reset();
  MakeSoundFile();
  EXPECT_EQ(OpenAndCheck(), 0);
}

// A header written later (by another process) with another record layout is
// damage: the change check refuses it instead of reading records of the
// wrong size.
TEST_F(DataFileCheckTest, ChangedHeaderWithAnotherRecordLayoutIsRefused) {
  MakeSoundFile();
  ASSERT_EQ(OpenAndCheck(), 0);
  const std::uint32_t size = data->RecordSize();
  const std::vector<std::uint8_t> counter = {0x7F, 0, 0, 0};
  PatchBytes(path(), h::kChangeCounter, counter);
  PatchBytes(path(), h::kRecordSize, {1, 0});
  EXPECT_EQ(EngineCodeOf([&] { data->HeaderChanged(); }), kErrHeaderCorrupt);
  EXPECT_EQ(data->RecordSize(), size);
}

TEST_F(DataFileCheckTest, RandomCorruptionNeverCrashes) {
  // Every single byte of the header and definitions flipped in turn: the open
  // and check either pass or raise an engine error.
  MakeSoundFile();
  const std::vector<std::uint8_t> original = ReadBytes(path());
  for (std::size_t at = 0; at < 3967; at += 7) {
    std::vector<std::uint8_t> bad = original;
    bad[at] ^= 0xA5;
    PatchBytes(path(), 0, bad);
    try {
      OpenAndCheck();
      if (data->IsOpen() && data->RecordCount() > 0 && data->RecordCount() < 10) {
        TRecord* r = data->GetRecord(nullptr, 1);
        if (r != nullptr) data->ReleaseRecord(r);
      }
    } catch (const EZORVADEngineError&) {
    }
    data.reset();
  }
  PatchBytes(path(), 0, original);
  EXPECT_EQ(OpenAndCheck(), 0);
}

}  // namespace
}  // namespace engine_test
