// The one-entry archive of a compressed row read in memory: a sound archive
// made by the zip writer, then one field at a time damaged by byte surgery.
#include "app/core/stored_archive.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/components/stream.h"
#include "zip/crc32.h"
#include "zip/inflate.h"
#include "zip/zip_records.h"
#include "zip/zip_test_util.h"
#include "zip/zip_writer.h"

namespace app {
namespace {

class StoredArchiveTest : public zip_test::ZipDrivesTest {
 protected:
  // The archive the backup run would store for a file of `content`.
  std::vector<std::uint8_t> Archive(const std::string& content) {
    zip_test::WriteHostFile(HostD("a.txt"), content);
    zip::TOrvZip writer;
    writer.FilesList.assign(1, "D:\\a.txt");
    writer.SetZipName("D:\\back0.Zip");
    EXPECT_EQ(writer.Zip(), 1);
    writer.SetZipName("");
    const std::string bytes = zip_test::ReadHostFile(HostD("back0.Zip"));
    return {bytes.begin(), bytes.end()};
  }
  zip::EntryDecoder decoder_;
};

TEST_F(StoredArchiveTest, SoundArchiveAndItsDirectoryEntry) {
  const std::string content = zip_test::TextBytes(50000);
  std::vector<std::uint8_t> archive = Archive(content);
  std::uint64_t original = 0;
  EXPECT_EQ(CheckStoredArchive(archive, decoder_, &original), "");
  EXPECT_EQ(original, content.size());
  engine::TMemoryStream stream(archive);
  const StoredEntry entry = ReadStoredEntry(stream);
  EXPECT_EQ(entry.originalSize, content.size());
  EXPECT_EQ(entry.crc, zip::Crc32(content.data(), content.size()));
  EXPECT_EQ(entry.entries, 1);

  // A comment after the end record is searched past.
  const std::string comment = "a comment";
  archive[archive.size() - 2] = static_cast<std::uint8_t>(comment.size());
  archive.insert(archive.end(), comment.begin(), comment.end());
  EXPECT_EQ(CheckStoredArchive(archive, decoder_), "");
}

TEST_F(StoredArchiveTest, DamageIsNamed) {
  const std::vector<std::uint8_t> sound = Archive(zip_test::RandomBytes(20000, 3));
  const std::size_t end = sound.size() - zip::kEndRecordSize;
  const std::size_t central = zip::GetU32(&sound[end + 16]);
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* says;
  };
  const Case cases[] = {
      {"empty", [](auto& a) { a.clear(); }, "too short"},
      {"no end record", [&](auto& a) { a[end] ^= 0xFF; }, "no end record"},
      {"cut in the middle", [](auto& a) { a.erase(a.begin() + 10000, a.end() - 200); },
       "central directory"},
      {"no entry", [&](auto& a) { a[end + 10] = a[end + 11] = 0; }, "no entry"},
      {"two entries", [&](auto& a) { a[end + 10] = 2; }, "holds 2 entries"},
      {"bad local header", [](auto& a) { a[0] ^= 0xFF; }, "local header"},
      {"a flipped data byte", [](auto& a) { a[5000] ^= 0x5A; }, "CRC"},
      {"a wrong recorded size", [&](auto& a) { a[central + 24] ^= 1; }, "inflates to"},
      {"a wrong recorded CRC", [&](auto& a) { a[central + 16] ^= 1; }, "CRC is"},
      {"an unknown method", [&](auto& a) { a[central + 10] = 99; }, "method 99"},
      {"encrypted", [&](auto& a) { a[central + 8] |= 1; }, "encrypted"},
      {"data past the end", [&](auto& a) { a[central + 23] = 0x7F; }, "cut short"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> archive = sound;
    c.damage(archive);
    const std::string problem = CheckStoredArchive(archive, decoder_);
    EXPECT_NE(problem.find(c.says), std::string::npos) << c.name << ": " << problem;
  }
}

}  // namespace
}  // namespace app
