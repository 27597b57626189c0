// Fuzz harness for stored table sets: damaged data, index and BLOB files must
// be refused with engine errors, never crash, hang or leak.
//
// A small catalog-shaped table set (primary key, a secondary index, BLOBs in
// several blocks, deleted records) is made once. Each input is a list of
// patches, five bytes each: the file (0 data, 1 index, 2 BLOB), a 24-bit
// little-endian offset (taken modulo the file's length) and the byte to
// store. The patched set is checked with the table-set checker, then opened
// with a cursor that walks it in both orders, reads every field and BLOB,
// and inserts, changes and deletes a record.
//
// Every other input (by its first byte) is repaired first instead: the repair
// may refuse, but a set it rebuilt must check clean and read whole (every row
// and BLOB, in every index order) without a single engine error; otherwise
// the harness aborts. The damaged copies it keeps are removed again.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORV_BUILD_FUZZ=ON -DORV_BUILD_TESTS=OFF \
//       -DORV_BUILD_GUI=OFF
//   ninja -C build-fuzz engine_table_fuzz
//   cp -r fuzz/engine/table/table_corpus /tmp/table-corpus
//   build-fuzz/fuzz/engine/engine_table_fuzz -max_total_time=300 -max_len=200 -len_control=0 \
//       /tmp/table-corpus
// The seeds are damaged headers, counts and BLOB blocks (named after the
// damage), each with an odd first byte so that it is repaired too.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "../fuzz_scratch.h"
#include "engine/errors.h"
#include "engine/storage/index_format.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"
#include "engine/table/table_check.h"
#include "engine/table/table_repair.h"
#include "platform/paths.h"

namespace {

constexpr int kRows = 40;
constexpr std::size_t kPatchBytes = 5;
enum Field : std::uint32_t { kFileName = 1, kFileTime, kPath, kFile };
const char* const kExtensions[] = {".DAT", ".IDX", ".BLB"};

engine::TTableDefinition Definition() {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "FileName", engine::kFieldString, 40);
  engine::AppendField(d.fields, "FileTime", engine::kFieldInt32);
  engine::AppendField(d.fields, "Path", engine::kFieldString, 40);
  engine::AppendField(d.fields, "File", engine::kFieldBlob).SetSubtype(engine::kSubtypeBinary);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {kFileName, kFileTime, kPath};
  engine::TIndexDefinition byTime;
  byTime.name = "ByTime";
  byTime.fieldNumbers = {kFileTime};
  d.indexes = {primary, byTime};
  return d;
}

using Bytes = std::vector<char>;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Seed {
  std::string root;
  std::array<Bytes, 3> files;
};

const Seed& MakeSeed() {
  static const Seed seed = [] {
    const std::string templ = fuzz_scratch::MakeDriveF();
    {
      engine::TDataSession session;
      engine::TDataDirectory* dir = session.OpenDirectory("", "F:\\");
      fuzz_scratch::CreateTable(dir, "Seed", Definition());
      engine::TDataCursor c(dir, "Seed");
      c.Open();
      for (int i = 1; i <= kRows; ++i) {
        auto r = c.NewRecord();
        c.PutString(r, kFileName, "file" + std::to_string(i % 13));
        c.PutInteger(r, kFileTime, i * 97);
        c.PutString(r, kPath, "dir" + std::to_string(i % 3));
        const std::string content(static_cast<std::size_t>(i * 37 % 1500), static_cast<char>(i));
        c.PutBlob(r, kFile, content.data(), content.size());
        c.Insert(r);
      }
      for (int k = 0; k < 5; ++k) {
        engine::TDataCursor::TRecordBuffer r;
        if (c.SetRecordPosition(3 + k * 7) == engine::kNavOk && c.ReadCurrent(&r) == 0) c.Delete(r);
      }
      c.Close();
    }
    Seed s;
    s.root = templ;
    for (int f = 0; f < 3; ++f) s.files[f] = ReadAll(templ + "/Seed" + kExtensions[f]);
    return s;
  }();
  return seed;
}

void Exercise(engine::TDataDirectory* dir) {
  engine::TDataCursor c(dir, "Work");
  c.Open();
  for (const int order : {0, engine::kNaturalOrder, 1}) {
    c.SelectIndex(order);
    engine::TDataCursor::TRecordBuffer r;
    int steps = 0;
    c.First();
    while (c.Next(&r) == engine::kNavOk && ++steps <= 4 * kRows) {
      c.GetString(r, kFileName);
      c.GetBlob(r, kFile);
    }
    c.Last();
    while (c.Prior(&r) == engine::kNavOk && ++steps <= 8 * kRows) {
    }
    c.RecordCount();
  }
  auto r = c.NewRecord();
  c.PutString(r, kFileName, "new");
  c.PutInteger(r, kFileTime, 1);
  c.PutBlob(r, kFile, "abc", 3);
  c.Insert(r);
  engine::TDataCursor::TRecordBuffer current;
  c.First();
  if (c.Next(&current) == engine::kNavOk) {
    c.ReadCurrent(&current, true, &current);
    c.PutInteger(current, kFileTime, 2);
    c.Modify(current);
    c.ReadCurrent(&current);
    c.Delete(current);
  }
}

// Reads a repaired set whole, in every order it has (a damaged header may
// have counted the secondary index out, and the repair keeps what the header
// says); any engine error is a fault of the repair.
void ReadRepaired(engine::TDataDirectory* dir, int secondaryIndexes) {
  engine::TDataCursor c(dir, "Work");
  c.Open();
  std::vector<int> orders = {0, engine::kNaturalOrder};
  for (int i = 1; i <= secondaryIndexes; ++i) orders.push_back(i);
  for (const int order : orders) {
    c.SelectIndex(order);
    engine::TDataCursor::TRecordBuffer r;
    c.First();
    while (c.Next(&r) == engine::kNavOk) {
      c.GetString(r, kFileName);
      c.GetString(r, kPath);
      c.GetBlob(r, kFile);
    }
  }
}

// Repairs the work set; aborts when a rebuilt set is not sound.
void RepairAndVerify(const std::string& root) {
  const engine::TTableRepairReport report = engine::RepairTableSet("F:\\Work.DAT");
  for (const char* ext : kExtensions) {
    std::error_code ec;
    std::filesystem::remove(root + "/Work" + ext + ".damaged", ec);
  }
  if (!report.repaired) return;
  const engine::TTableCheckReport check = engine::CheckTableSet("F:\\Work.DAT");
  if (!check.Ok()) {
    std::fprintf(stderr, "%s--- repaired set:\n%s", report.Describe().c_str(),
                 check.Describe().c_str());
    std::abort();
  }
  const Bytes index = ReadAll(root + "/Work.IDX");
  const int secondaryIndexes =
      index.size() > engine::kIdxHdrSecondaryCount
          ? static_cast<unsigned char>(index[engine::kIdxHdrSecondaryCount])
          : 0;
  try {
    engine::TDataSession session;
    ReadRepaired(session.OpenDirectory("", "F:\\"), secondaryIndexes);
  } catch (const engine::EDatabaseError& e) {
    std::fprintf(stderr, "%s--- reading the repaired set: %s\n", report.Describe().c_str(),
                 e.what());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Seed& seed = MakeSeed();
  std::array<Bytes, 3> files = seed.files;
  for (std::size_t at = 0; at + kPatchBytes <= size; at += kPatchBytes) {
    Bytes& file = files[data[at] % 3];
    if (file.empty()) continue;
    const std::size_t offset =
        (data[at + 1] | (data[at + 2] << 8) | (static_cast<std::size_t>(data[at + 3]) << 16)) %
        file.size();
    file[offset] = static_cast<char>(data[at + 4]);
  }
  for (int f = 0; f < 3; ++f) WriteAll(seed.root + "/Work" + kExtensions[f], files[f]);
  engine::CheckTableSet("F:\\Work.DAT").Describe();
  if (size > 0 && data[0] % 2 == 1) RepairAndVerify(seed.root);
  try {
    engine::TDataSession session;
    engine::TDataDirectory* dir = session.OpenDirectory("", "F:\\");
    Exercise(dir);
  } catch (const engine::EDatabaseError&) {
    // A damaged table set is an engine error.
  }
  return 0;
}
