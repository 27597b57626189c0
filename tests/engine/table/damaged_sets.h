// Damaged table sets for the checker and repair tests: a sound catalog table
// with five rows (two of them deleted, so the free chain is 4 -> 2 -> end) and
// a table of one-field corruptions, each naming the file, the offset and the
// bytes written there.
//
// Layout of the sound set (record size 530, records from 3967):
//   rows "a".."e" in records 1..5; record 1's BLOB is 1000 bytes (blocks 512,
//   1024 and 1536), the others 10 bytes each; rows "b" and "d" are deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/data_file_bytes.h"
#include "engine/table/table_test_util.h"

namespace table_test {

inline constexpr std::size_t kRecordsAt = 3967;  // first record of the catalog
inline constexpr std::size_t kCatalogRecordSize = 530;
inline constexpr std::size_t RecordAt(int n) {
  return kRecordsAt + static_cast<std::size_t>(n - 1) * kCatalogRecordSize;
}
inline constexpr std::size_t kFirstBlobBlock = 512;
inline constexpr std::size_t kSecondBlobBlock = 1024;
inline constexpr int kLiveRows = 3;  // "a", "c" and "e"

// What the engine does when it meets the damage.
enum class TMeets {
  kRefusedAtOpen,    // opening a cursor raises the code
  kInsertRefused,    // an insert raises the code (after `inserts` sound ones)
  kBlobReadRefused,  // reading row "a"'s BLOB raises the code
  kCopes,            // the table keeps working
};

struct TDamage {
  const char* what;
  const char* ext;  // ".DAT", ".IDX" or ".BLB"
  std::size_t offset;
  std::vector<std::uint8_t> bytes;
  TMeets meets;
  int code = 0;
  int inserts = 0;  // sound inserts before the refused one
};

inline std::vector<std::uint8_t> I32(std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  engine::bytes::PutI32(b.data(), v);
  return b;
}

inline std::vector<TDamage> DamageCases() {
  using engine::kErrBlobBufferCorrupt;
  using engine::kErrHeaderCorrupt;
  const std::size_t firstFree = 9, blobFields = 25, firstName = 127 + 2;
  const std::size_t idxRecordCount = 3974;
  return {
      {"first free record 0x7FFFFFFF", ".DAT", firstFree, I32(0x7FFFFFFF), TMeets::kInsertRefused,
       kErrHeaderCorrupt},
      {"first free record -1", ".DAT", firstFree, I32(-1), TMeets::kInsertRefused,
       kErrHeaderCorrupt},
      {"first free record 0 while records are deleted", ".DAT", firstFree, I32(0), TMeets::kCopes},
      {"free chain loops (record 2 links back to 4)", ".DAT", RecordAt(2) + 1, I32(4),
       TMeets::kCopes},
      {"free chain runs past the end", ".DAT", RecordAt(2) + 1, I32(1000), TMeets::kInsertRefused,
       kErrHeaderCorrupt, 2},
      {"BLOB field count 32767",
       ".DAT",
       blobFields,
       {0xFF, 0x7F},
       TMeets::kRefusedAtOpen,
       kErrHeaderCorrupt},
      {"BLOB field count -1",
       ".DAT",
       blobFields,
       {0xFF, 0xFF},
       TMeets::kRefusedAtOpen,
       kErrHeaderCorrupt},
      {"field-name length byte 255",
       ".DAT",
       firstName,
       {0xFF},
       TMeets::kRefusedAtOpen,
       kErrHeaderCorrupt},
      {"BLOB block used count 65535",
       ".BLB",
       kSecondBlobBlock + 8,
       {0xFF, 0xFF},
       TMeets::kBlobReadRefused,
       kErrBlobBufferCorrupt},
      {"next record number 2147483647", ".DAT", 13, I32(0x7FFFFFFF), TMeets::kRefusedAtOpen,
       kErrHeaderCorrupt},
      {"index record count 2147483647", ".IDX", idxRecordCount, I32(0x7FFFFFFF),
       TMeets::kRefusedAtOpen, kErrHeaderCorrupt},
  };
}

// The sound set described above, closed, in D:\Db.
class DamagedSetTest : public TableTest {
 protected:
  void MakeSoundSet() {
    CreateCatalog();
    auto c = OpenCursor();
    const char* names[] = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i)
      AddRow(*c, names[i], i, "p\\", i == 0 ? std::string(1000, 'x') : std::string(10, 'y'));
    DeleteRow(*c, "b");
    DeleteRow(*c, "d");
    c->Close();
  }
  static void DeleteRow(engine::TDataCursor& c, const std::string& name) {
    c.First();
    engine::TDataCursor::TRecordBuffer r;
    while (c.Next(&r) == 0) {
      if (c.GetString(r, kFileName) == name) {
        c.Delete(r);
        return;
      }
    }
    FAIL() << "no row " << name;
  }
  void Apply(const TDamage& d) {
    PatchFile(Host("Db/Back" + std::string(d.ext)), d.offset, d.bytes);
  }
  static void PatchFile(const std::string& path, std::size_t offset,
                        const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr) << path;
    std::fseek(f, static_cast<long>(offset), SEEK_SET);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // Removes the set and every copy a repair left, for the next case.
  void RemoveAll() {
    session_.reset();
    for (const auto& e : std::filesystem::directory_iterator(Host("Db")))
      std::filesystem::remove(e.path());
    session_ = std::make_unique<engine::TDataSession>();
    dir_ = session_->OpenDirectory("", "D:\\Db");
  }
};

}  // namespace table_test
