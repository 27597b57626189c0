// Archive records: date validation, the byte layout of headers (the worked
// example of zip_records.h), stored names and code pages, the end record
// search, the directory load with its repair scan, and the sorted lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "zip/crc32.h"
#include "zip/dir_load.h"
#include "zip/sorted_zip.h"
#include "zip/zip_errors.h"
#include "zip/zip_records.h"

namespace zip {
namespace {

std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second2) {
  return static_cast<std::uint32_t>(((year - 1980) << 25) | (month << 21) | (day << 16) |
                                    (hour << 11) | (minute << 5) | second2);
}

TEST(DosDateTimeTest, Validation) {
  const struct {
    std::uint32_t in;
    std::uint32_t out;
  } cases[] = {
      {0, Dos(1980, 1, 1, 0, 0, 0)},
      {Dos(1980, 13, 0, 24, 61, 31), Dos(1980, 12, 1, 23, 59, 29)},
      {Dos(2024, 1, 2, 3, 4, 3), Dos(2024, 1, 2, 3, 4, 3)},  // valid: unchanged
      {Dos(2107, 6, 1, 0, 0, 0), Dos(2099, 6, 1, 0, 0, 0)},
      {Dos(2023, 2, 31, 0, 0, 0), Dos(2023, 2, 31, 0, 0, 0)},  // a day beyond its month stays
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValidateDosDateTime(c.in), c.out) << std::hex << c.in;
  }
}

// Central header bytes for a name, as another tool would write them.
std::vector<std::uint8_t> Central(const std::string& name, std::uint16_t madeBy, std::uint16_t flag,
                                  std::uint32_t offset = 0, const std::string& extra = "") {
  // Sized once and filled in place: growing it with insert() trips a false
  // -Warray-bounds of g++ 12 at -O3.
  std::vector<std::uint8_t> b(kCentralHeaderSize + name.size() + extra.size());
  PutU32(&b[0], kCentralSignature);
  PutU16(&b[4], madeBy);
  PutU16(&b[6], 20);
  PutU16(&b[8], flag);
  PutU16(&b[28], static_cast<std::uint16_t>(name.size()));
  PutU16(&b[30], static_cast<std::uint16_t>(extra.size()));
  PutU32(&b[42], offset);
  const auto nameAt = b.begin() + kCentralHeaderSize;
  std::copy(name.begin(), name.end(), nameAt);
  std::copy(extra.begin(), extra.end(), nameAt + static_cast<std::ptrdiff_t>(name.size()));
  return b;
}

TEST(ZipHeaderTest, WorkedExampleBytes) {
  TZipHeaderInfo h;
  h.SetFileName("a.txt");
  h.CompressionMethod = kMethodStored;
  h.LastModFileDate = 0x58221883;  // 2024-01-02 03:04:06
  h.CRC32 = Crc32("hello", 5);
  h.CompressedSize = 5;
  h.UncompressedSize = 5;
  TMemoryStream s;
  h.WriteLocal(s);
  s.Write("hello", 5);
  const std::vector<std::uint8_t> expected = {
      0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x83, 0x18, 0x22, 0x58,
      0x86, 0xA6, 0x10, 0x36, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00,
      0x00, 0x00, 'a',  '.',  't',  'x',  't',  'h',  'e',  'l',  'l',  'o'};
  EXPECT_EQ(s.Bytes(), expected);
  EXPECT_EQ(h.RelativeOffsetOfLocalHeader, 0u);
  h.WriteCentral(s);
  TEndCentral end;
  end.TotalEntries = end.EntriesOnThisDisk = 1;
  end.CentralDirOffset = 40;
  end.CentralDirSize = 51;
  end.Write(s);
  EXPECT_EQ(s.Bytes().size(), 91u + 22u);
  ASSERT_TRUE(end.Find(s));
  EXPECT_EQ(end.RecordOffset, 91);
}

TEST(ZipHeaderTest, NamesFromCentralHeaders) {
  const struct {
    std::string stored;
    std::uint16_t madeBy;
    std::uint16_t flag;
    const char* directory;
    const char* file;
  } cases[] = {
      {"dir/sub/file.txt", 20, 0, "dir\\sub\\", "file.txt"},
      {"dir/", 20, 0, "dir\\", ""},
      {"\x81"
       "ber.txt",
       20, 0, "",
       "\xC3\xBC"
       "ber.txt"},  // cp437 0x81 = ü
      {"\xC3\xBC"
       "ber.txt",
       20, kFlagUtf8Name, "",
       "\xC3\xBC"
       "ber.txt"},  // UTF-8 flag
      {"\xC3\xBC"
       "ber.txt",
       0x0314, 0, "",
       "\xC3\xBC"
       "ber.txt"},  // Unix host, valid UTF-8
      {"\x81"
       "ber.txt",
       0x0314, 0, "",
       "\xC3\xBC"
       "ber.txt"},  // Unix host, not UTF-8
  };
  for (const auto& c : cases) {
    const auto bytes = Central(c.stored, c.madeBy, c.flag);
    TMemoryStream s(bytes);
    TZipHeaderInfo h;
    ASSERT_TRUE(h.ReadCentral(s)) << c.stored;
    EXPECT_EQ(h.Directory(), c.directory) << c.stored;
    EXPECT_EQ(h.FileName(), c.file) << c.stored;
    EXPECT_EQ(h.IsDirectoryEntry(), std::string(c.file).empty());
    EXPECT_EQ(s.Position(), static_cast<std::int64_t>(bytes.size()));
  }
  // A non-ASCII name is written back as UTF-8 with flag bit 11.
  TZipHeaderInfo h;
  h.SetFullName(
      "\xC3\xBC"
      "ber.txt");
  EXPECT_EQ(h.FlagForWrite(), kFlagUtf8Name);
  h.SetFullName("plain.txt");
  EXPECT_EQ(h.FlagForWrite(), 0);
}

TEST(ZipHeaderTest, UnreadableHeadersRestoreThePosition) {
  auto truncated = Central("name.txt", 20, 0);
  truncated.resize(truncated.size() - 3);  // name cut short
  auto badSignature = Central("name.txt", 20, 0);
  badSignature[1] = 'X';
  for (const auto& bytes : {truncated, badSignature, std::vector<std::uint8_t>(10, 'P')}) {
    TMemoryStream s(bytes);
    TZipHeaderInfo h;
    EXPECT_FALSE(h.ReadCentral(s));
    EXPECT_EQ(s.Position(), 0);
    EXPECT_FALSE(h.ReadLocal(s));
    EXPECT_EQ(s.Position(), 0);
  }
}

std::vector<std::uint8_t> EndRecord(const std::string& comment) {
  std::vector<std::uint8_t> b(kEndRecordSize + comment.size());  // sized once, as Central()
  PutU32(&b[0], kEndSignature);
  PutU16(&b[20], static_cast<std::uint16_t>(comment.size()));
  std::copy(comment.begin(), comment.end(), b.begin() + kEndRecordSize);
  return b;
}

TEST(EndCentralTest, FindRecord) {
  {
    TMemoryStream empty;
    TEndCentral end;
    EXPECT_TRUE(end.Find(empty));
    EXPECT_EQ(end.TotalEntries, 0);
  }
  for (const std::size_t size : {1u, 21u}) {
    TMemoryStream small(std::vector<std::uint8_t>(size, 0));
    TEndCentral end;
    EXPECT_FALSE(end.Find(small)) << size;
  }
  {
    // The longest comment still lets the record be found.
    TMemoryStream s(EndRecord(std::string(kMaxCommentLength, 'c')));
    TEndCentral end;
    ASSERT_TRUE(end.Find(s));
    EXPECT_EQ(end.RecordOffset, 0);
    EXPECT_EQ(end.CommentLength, kMaxCommentLength);
    end.LoadComment(s);
    EXPECT_EQ(end.Comment->size(), static_cast<std::size_t>(kMaxCommentLength));
  }
  {
    // A stray record inside the comment wins: the search runs from the end.
    const auto inner = EndRecord("");
    std::string comment = "xx" + std::string(inner.begin(), inner.end()) + "yy";
    TMemoryStream s(EndRecord(comment));
    TEndCentral end;
    ASSERT_TRUE(end.Find(s));
    EXPECT_EQ(end.RecordOffset, kEndRecordSize + 2);
  }
}

// Two stored entries written by our own header code: "one.txt" and "two.txt".
std::vector<std::uint8_t> TwoEntryArchive() {
  TMemoryStream s;
  std::vector<TZipHeaderInfo> headers(2);
  const char* names[] = {"one.txt", "two.txt"};
  for (int i = 0; i < 2; ++i) {
    TZipHeaderInfo& h = headers[static_cast<std::size_t>(i)];
    h.SetFileName(names[i]);
    h.CompressionMethod = kMethodStored;
    h.CRC32 = Crc32("data", 4);
    h.CompressedSize = h.UncompressedSize = 4;
    h.WriteLocal(s);
    s.Write("data", 4);
  }
  TEndCentral end;
  end.CentralDirOffset = static_cast<std::uint32_t>(s.Position());
  for (const auto& h : headers) h.WriteCentral(s);
  end.CentralDirSize = static_cast<std::uint32_t>(s.Position()) - end.CentralDirOffset;
  end.TotalEntries = end.EntriesOnThisDisk = 2;
  end.Write(s);
  return s.Bytes();
}

TEST(DirectoryLoadTest, DuplicateOffsetsFallBackToTheRepairScan) {
  auto bytes = TwoEntryArchive();
  TMemoryStream plain(bytes);
  TZipDirectory dir;
  LoadDirectory(plain, {}, dir);
  ASSERT_EQ(dir.list->Count(), 2);
  // Point the second central header at the first local header.
  const std::uint32_t central = GetU32(&bytes[bytes.size() - 6]);
  const std::size_t second = central + kCentralHeaderSize + 7;
  PutU32(&bytes[second + 42], 0);
  TMemoryStream damaged(bytes);
  LoadDirectory(damaged, {}, dir);
  ASSERT_EQ(dir.list->Count(), 2);
  EXPECT_EQ(dir.list->Item(0)->FileName(), "one.txt");
  EXPECT_EQ(dir.list->Item(1)->FileName(), "two.txt");
  EXPECT_EQ(dir.list->Item(1)->RelativeOffsetOfLocalHeader, 41u);
}

TEST(DirectoryLoadTest, PrefixedArchiveAndNoEndRecord) {
  const auto bytes = TwoEntryArchive();
  {
    // 100 bytes in front that the offsets do not count.
    TMemoryStream s;
    s.Write(std::string(100, 'J').data(), 100);
    s.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    TZipDirectory dir;
    LoadDirectory(s, {}, dir);
    ASSERT_EQ(dir.list->Count(), 2);
    EXPECT_EQ(dir.end.ArchiveShift, 100);
  }
  {
    // Without the end record: the mode decides.
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - kEndRecordSize);
    TMemoryStream s(cut);
    TZipDirectory dir;
    TDirLoadOptions options;
    EXPECT_THROW(LoadDirectory(s, options, dir), EIncompleteZip);
    options.incompleteMode = TIncompleteZipMode::izAssumeNotAZip;
    EXPECT_THROW(LoadDirectory(s, options, dir), ENotAZipFile);
    int asked = 0;
    options.onIncompleteZip = [&](TIncompleteZipMode& mode) {
      ++asked;
      mode = TIncompleteZipMode::izAssumeBad;
    };
    LoadDirectory(s, options, dir);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(dir.list->Count(), 2);
    EXPECT_EQ(dir.list->Item(1)->FileName(), "two.txt");
  }
}

TEST(SortedZipTest, ModesOrderAndDuplicates) {
  auto make = [](const char* name, std::uint32_t date, std::int32_t csize, std::int32_t usize,
                 std::uint32_t offset) {
    auto h = std::make_unique<TZipHeaderInfo>();
    h->SetFullName(name);
    h->LastModFileDate = date;
    h->CompressedSize = csize;
    h->UncompressedSize = usize;
    h->RelativeOffsetOfLocalHeader = offset;
    return h;
  };
  std::vector<std::unique_ptr<TZipHeaderInfo>> items;
  items.push_back(make("b\\Zeta.txt", Dos(2020, 1, 1, 0, 0, 0), 50, 100, 300));
  items.push_back(make("a\\alpha.txt", Dos(2021, 1, 1, 0, 0, 0), 10, 100, 100));
  items.push_back(make("c\\Mid.txt", Dos(2020, 1, 1, 0, 0, 0), 50, 100, 200));
  const struct {
    TZipSortMode mode;
    std::vector<std::uint32_t> offsets;  // expected order, by local offset
  } cases[] = {
      {TZipSortMode::ByName, {100, 300, 200}},
      {TZipSortMode::ByFileName, {100, 200, 300}},
      {TZipSortMode::ByDirectoryName, {100, 300, 200}},
      // 50%, 10%, 50% added in that order: highest first, the later equal one first.
      {TZipSortMode::ByRate, {200, 300, 100}},
      {TZipSortMode::ByNone, {100, 200, 300}},
  };
  for (const auto& c : cases) {
    TSortedZip view(TDupPolicy::kAccept, false, c.mode);
    for (auto& item : items) view.Add(item.get());
    std::vector<std::uint32_t> got;
    for (int i = 0; i < view.Count(); ++i) got.push_back(view.Item(i)->RelativeOffsetOfLocalHeader);
    EXPECT_EQ(got, c.offsets) << static_cast<int>(c.mode);
  }
  // Dates and sizes never compare equal: even the error policy keeps all.
  for (const auto mode :
       {TZipSortMode::ByDate, TZipSortMode::ByCompressedSize, TZipSortMode::ByUnCompressedSize}) {
    TSortedZip view(TDupPolicy::kError, false, mode);
    for (auto& item : items) view.Add(item.get());
    EXPECT_EQ(view.Count(), 3);
    if (mode == TZipSortMode::ByDate) {
      EXPECT_EQ(view.Item(0)->RelativeOffsetOfLocalHeader, 100u);  // newest first
    }
  }
  TSortedZip byName(TDupPolicy::kError, false, TZipSortMode::ByName);
  byName.Add(items[0].get());
  auto twin = make("B\\ZETA.TXT", 0, 0, 0, 999);
  try {
    byName.Add(twin.get());
    ADD_FAILURE() << "duplicate accepted";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  TSortedZip ignore(TDupPolicy::kIgnore, false, TZipSortMode::ByName);
  ignore.Add(items[0].get());
  EXPECT_EQ(ignore.Add(twin.get()), -1);
  TSortedZip accept(TDupPolicy::kAccept, false, TZipSortMode::ByName);
  accept.Add(items[0].get());
  EXPECT_EQ(accept.Add(twin.get()), 0);  // before the first equal item
  EXPECT_THROW(accept.Put(0, twin.get()), EListError);
  try {
    accept.Item(5);
    ADD_FAILURE() << "no range error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
}

}  // namespace
}  // namespace zip
