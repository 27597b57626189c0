// Hostile archives and destinations: deep and overlong entry names, sizes that
// do not match the data, a repair scan over descriptor-only entries, entry
// counts beyond the end record's 16 bits, and symbolic links in the
// destination that lead outside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/file_ops.h"
#include "platform/host_internal.h"
#include "raw_archive.h"
#include "zip/dir_load.h"
#include "zip/unzip_reader.h"
#include "zip/zip_errors.h"
#include "zip/zip_writer.h"
#include "zip_test_util.h"

namespace zip {
namespace {

using zip_test::HostExists;
using zip_test::RawArchive;
using zip_test::RawEntry;
using zip_test::ReadHostFile;
using zip_test::Stored;
using zip_test::WriteHostFile;

constexpr std::uint16_t kFlagEncrypted = 1;
constexpr std::uint16_t kFlagDescriptor = 8;

class HostileTest : public zip_test::ZipDrivesTest {
 protected:
  void WriteArchive(const std::vector<std::uint8_t>& bytes) {
    WriteHostFile(HostD("a.zip"), std::string(bytes.begin(), bytes.end()));
  }

  // A reader of D:\a.zip into D:\out that records failures and messages.
  void Prepare(TOrvUnZip& reader) {
    reader.SetZipName("D:\\a.zip");
    reader.SetDestDir("D:\\out");
    reader.DoAll = true;
    reader.RecreateDirs = true;
    reader.DoProcessMessages = false;
    reader.OnSkippingFile = [this](TSkipReason reason, const std::string& name, int, bool&) {
      skips.emplace_back(static_cast<int>(reason), name);
    };
    reader.OnBadCRC = [this](std::uint32_t, std::uint32_t, int index) { damaged.push_back(index); };
    reader.OnZipMessage = [this](const std::string& m) { messages.push_back(m); };
  }

  bool MessageContains(const std::string& text) const {
    for (const std::string& m : messages) {
      if (m.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<std::pair<int, std::string>> skips;
  std::vector<int> damaged;
  std::vector<std::string> messages;
};

// ---- Deep and overlong names ----------------------------------------------

TEST_F(HostileTest, DeepEntryNamesExtractInLinearSteps) {
  constexpr int kLevels = 1000;  // "dd/" x 1000: a 3 KB name
  std::string name;
  for (int i = 0; i < kLevels; ++i) name += "dd/";
  RawArchive raw;
  raw.Add(Stored(name + "x", "deep"));
  WriteArchive(raw.Finish());
  const std::uint64_t before = platform::internal::Counters().probes.load();
  TOrvUnZip reader;
  Prepare(reader);
  EXPECT_EQ(reader.UnZip(), 1);
  // About one step per level (creating it), not one per level per level.
  EXPECT_LE(platform::internal::Counters().probes.load() - before, 4u * kLevels);
  std::string host = HostD("out/");
  for (int i = 0; i < kLevels; ++i) host += "dd/";
  EXPECT_EQ(ReadHostFile(host + "x"), "deep");
}

TEST_F(HostileTest, NamesLongerThanTheHostTakesFailThatEntryClearly) {
  std::string name;
  for (int i = 0; i < 32767; ++i) name += "d/";  // a 64 KB name
  RawArchive raw;
  raw.Add(Stored(name + "x", "long"));
  raw.Add(Stored("fine.txt", "ok"));
  WriteArchive(raw.Finish());
  TOrvUnZip reader;
  Prepare(reader);
  EXPECT_EQ(reader.UnZip(), 1);
  ASSERT_EQ(skips.size(), 1u);
  EXPECT_EQ(skips[0].first, static_cast<int>(TSkipReason::srCreateError));
  EXPECT_TRUE(MessageContains("too long")) << (messages.empty() ? "" : messages[0]);
  EXPECT_FALSE(HostExists(HostD("out/d")));
  EXPECT_EQ(ReadHostFile(HostD("out/fine.txt")), "ok");
}

// ---- Sizes that do not match the data -------------------------------------

TEST_F(HostileTest, OutputOfAnotherLengthThanDeclaredIsDamage) {
  const std::string hello = "hello";
  const std::uint32_t helloCrc = Crc32(hello.data(), hello.size());
  const std::string deflated = zip_test::RawDeflate(hello);
  const auto deflatedSize = static_cast<std::uint32_t>(deflated.size());
  const std::string ten = "0123456789";
  const std::uint32_t tenCrc = Crc32(ten.data(), ten.size());
  const struct {
    const char* what;
    RawEntry entry;
    bool passes;
  } cases[] = {
      {"deflate, as declared",
       {"a.txt", deflated, kMethodDeflated, 0, helloCrc, deflatedSize, 5},
       true},
      {"deflate, 4,294,967,294 declared",
       {"a.txt", deflated, kMethodDeflated, 0, helloCrc, deflatedSize, 0xFFFFFFFE},
       false},
      {"deflate, 4 declared",
       {"a.txt", deflated, kMethodDeflated, 0, helloCrc, deflatedSize, 4},
       false},
      {"stored, 10 of 11", {"a.txt", ten, kMethodStored, 0, tenCrc, 10, 11}, false},
      {"stored, 10 of 9", {"a.txt", ten, kMethodStored, 0, tenCrc, 10, 9}, false},
      // Encrypted, but 5 bytes cannot hold the 12-byte encryption header.
      {"encrypted below its header",
       {"a.txt", "abcde", kMethodStored, kFlagEncrypted, Crc32("", 0), 5, 0},
       false},
  };
  for (const auto& c : cases) {
    RawArchive raw;
    raw.Add(c.entry);
    raw.Add(Stored("after.txt", std::string(40, 'z')));  // what an overread would take
    WriteArchive(raw.Finish());
    for (const bool testOnly : {true, false}) {
      damaged.clear();
      messages.clear();
      TOrvUnZip reader;
      Prepare(reader);
      reader.Password = "secret";
      reader.OverwriteMode = TUZOverwriteMode::Always;
      const int passed = testOnly ? reader.TestZip() : reader.UnZip();
      EXPECT_EQ(passed, c.passes ? 2 : 1) << c.what;
      EXPECT_EQ(damaged, c.passes ? std::vector<int>{} : std::vector<int>{0}) << c.what;
      EXPECT_EQ(MessageContains("damaged"), !c.passes) << c.what;
      if (!testOnly) {
        EXPECT_EQ(HostExists(HostD("out/a.txt")), c.passes) << c.what;
      }
    }
  }
}

// ---- The repair scan ------------------------------------------------------

// Counts the bytes read through it.
class CountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int32_t Read(void* buffer, std::int32_t count) override {
    const std::int32_t n = TMemoryStream::Read(buffer, count);
    if (n > 0) bytesRead += static_cast<std::uint64_t>(n);
    return n;
  }
  std::uint64_t bytesRead = 0;
};

TEST(RepairScanTest, DescriptorOnlyEntriesAreFoundInOnePass) {
  constexpr int kEntries = 2000;
  RawArchive raw;
  for (int i = 0; i < kEntries; ++i) {
    RawEntry e = Stored("f" + std::to_string(i), "content " + std::to_string(i));
    e.flag = kFlagDescriptor;
    e.unsignedDescriptor = true;
    raw.Add(e);
  }
  CountingStream s(raw.LocalsOnly());  // no central directory, no end record
  TDirLoadOptions options;
  options.incompleteMode = TIncompleteZipMode::izAssumeBad;
  options.doProcessMessages = false;
  TZipDirectory dir;
  LoadDirectory(s, options, dir);
  ASSERT_EQ(dir.list->Count(), kEntries);
  for (int i : {0, 1, kEntries - 1}) {
    const TZipHeaderInfo& h = *dir.list->Item(i);
    const std::string content = "content " + std::to_string(i);
    EXPECT_EQ(h.FileName(), "f" + std::to_string(i));
    EXPECT_EQ(h.UncompressedSize, static_cast<std::int32_t>(content.size()));
    EXPECT_EQ(h.CRC32, Crc32(content.data(), content.size()));
  }
  // Linear: a few passes over the archive, not one per entry.
  EXPECT_LE(s.bytesRead, 8u * raw.LocalsOnly().size());
}

// ---- Entry counts ---------------------------------------------------------

std::string Hex5(int i) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%05x", i);
  return buffer;
}

TEST_F(HostileTest, WriterRefusesTheEntryAfter65535) {
  RawArchive raw;
  for (int i = 0; i < kMaxEntries; ++i) raw.Add(Stored(Hex5(i), ""));
  WriteArchive(raw.Finish());
  const std::string before = ReadHostFile(HostD("a.zip"));
  WriteHostFile(HostC("new.txt"), "one too many");
  TOrvZip zipper;
  zipper.DoProcessMessages = false;
  zipper.SetZipName("D:\\a.zip");
  zipper.FilesList.push_back("C:\\new.txt");
  try {
    zipper.Zip();
    ADD_FAILURE() << "the 65,536th entry was written";
  } catch (const EZipNotSupported& e) {
    EXPECT_STREQ(e.what(), kMsgTooManyEntries);
  }
  EXPECT_TRUE(ReadHostFile(HostD("a.zip")) == before);  // untouched
}

TEST_F(HostileTest, ReaderReadsHeadersBeyondTheEndRecordsCount) {
  constexpr int kEntries = 70000;  // a wrapped count says 4,464
  RawArchive raw;
  for (int i = 0; i < kEntries; ++i) raw.Add(Stored(Hex5(i), ""));
  WriteArchive(raw.Finish(static_cast<std::uint16_t>(kEntries)));
  TOrvUnZip reader;
  Prepare(reader);
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), kEntries);
  EXPECT_EQ(reader.FileName(kEntries - 1), Hex5(kEntries - 1));
  EXPECT_TRUE(MessageContains("holds 70000 entries but the end record counts 4464"))
      << (messages.empty() ? "" : messages[0]);
}

// ---- Links in the destination ---------------------------------------------

// Whether every existing file is replaced or the user is asked (and says
// yes), a link is found before anything is written through it.
TEST_F(HostileTest, LinksLeadingOutsideTheDestinationAreNotWrittenThrough) {
  namespace fs = std::filesystem;
  for (const TUZOverwriteMode mode : {TUZOverwriteMode::Always, TUZOverwriteMode::Prompt}) {
    SCOPED_TRACE(static_cast<int>(mode));
    fs::remove_all(HostD("out"));
    fs::remove_all(HostC("victims"));
    fs::create_directories(HostD("out/inside"));
    WriteHostFile(HostC("victim.txt"), "precious");
    fs::create_directories(HostC("victims"));
    fs::create_symlink(HostC("victim.txt"), HostD("out/file.txt"));
    fs::create_symlink(HostC("victims"), HostD("out/dir"));
    fs::create_symlink(HostD("out/inside"), HostD("out/near"));
    RawArchive raw;
    raw.Add(Stored("file.txt", "overwritten"));
    raw.Add(Stored("dir/x.txt", "planted"));
    raw.Add(Stored("DIR/new/y.txt", "planted"));
    raw.Add(Stored("near/z.txt", "fine"));
    WriteArchive(raw.Finish());
    TOrvUnZip reader;
    Prepare(reader);
    skips.clear();
    messages.clear();
    reader.OverwriteMode = mode;
    reader.OnPromptForOverwrite = [](bool& overwrite, int, std::string&) { overwrite = true; };
    EXPECT_EQ(reader.UnZip(), 1);
    EXPECT_EQ(ReadHostFile(HostC("victim.txt")), "precious");
    EXPECT_TRUE(fs::is_empty(HostC("victims")));
    EXPECT_EQ(ReadHostFile(HostD("out/inside/z.txt")), "fine");
    EXPECT_EQ(skips.size(), 3u);
    EXPECT_TRUE(MessageContains("leads outside"));
  }
}

}  // namespace
}  // namespace zip
