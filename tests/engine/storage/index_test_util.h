// Fixtures of the index tests: an index file on drive D: with a host that
// plays the table object's role, the backup catalog's fields and primary key,
// record and key builders, and a check that runs the full tree walk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/data_file_fixture.h"
#include "engine/storage/data_file_host.h"
#include "engine/storage/index_btree.h"
#include "engine/storage/index_check.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_keys.h"

namespace engine_test {

// The catalog's primary key: FileName, FileTime, Path.
inline engine::TIndexDefinition CatalogPrimaryKey() {
  engine::TIndexDefinition d;
  d.fieldNumbers = {1, 2, 4};
  return d;
}

inline engine::TIndexDefinition IndexOn(std::vector<std::int16_t> fields, bool unique = true,
                                        const std::string& name = "",
                                        std::uint8_t compression = engine::kCompressNone,
                                        bool descending = false) {
  engine::TIndexDefinition d;
  d.name = name;
  d.fieldNumbers = std::move(fields);
  d.unique = unique;
  d.compression = compression;
  d.descending = descending;
  return d;
}

// A record of `fields` with every slot set from the given values (strings for
// string fields, decimal texts converted for int32 fields).
class RecordBuilder {
 public:
  explicit RecordBuilder(const engine::TFieldDefinitions& fields) : fields_(fields) {
    std::uint32_t size = engine::kFirstSlotOffset;
    for (const auto& f : fields) {
      if (f.HasSlot()) size += f.StorageSize() + 1u;
    }
    record_.assign(size, 0);
  }
  RecordBuilder& AutoInc(std::int32_t value) {
    engine::bytes::PutI32(record_.data() + engine::kRecordAutoIncOffset, value);
    return *this;
  }
  RecordBuilder& Str(int field, const std::string& text) {
    const auto& f = fields_[static_cast<std::size_t>(field - 1)];
    std::memset(record_.data() + f.Offset(), 0, f.StorageSize() + 1u);
    PutString(record_.data(), f.Offset(), text);
    return *this;
  }
  RecordBuilder& Int(int field, std::int32_t value) {
    PutInt32(record_.data(), fields_[static_cast<std::size_t>(field - 1)].Offset(), value);
    return *this;
  }
  RecordBuilder& Null(int field) {
    const auto& f = fields_[static_cast<std::size_t>(field - 1)];
    std::memset(record_.data() + f.Offset(), 0, f.StorageSize() + 1u);
    return *this;
  }
  const std::vector<std::uint8_t>& Bytes() const { return record_; }

 private:
  const engine::TFieldDefinitions& fields_;
  std::vector<std::uint8_t> record_;
};

// An index file D:\T.IDX created afresh, with a host standing in for its table.
class IndexFileTest : public DriveDTest {
 protected:
  static constexpr const char* kIndex = "D:\\T.IDX";

  void CreateIndex() {
    index = std::make_unique<engine::TIndexFile>(nullptr, &host);
    index->SetFileName(kIndex);
    index->CreateNew();
    index->WriteHeader(true, false);
  }
  // Writes pages and header as the table's write-back does.
  void Flush() {
    index->WriteBack(false);
    index->WriteHeader(false, false);
  }
  void Reopen() {
    Flush();
    index->Close();
    index = std::make_unique<engine::TIndexFile>(nullptr, &host);
    index->SetFileName(kIndex);
    index->Open();
  }
  std::string HostPath() const { return Host("T.IDX"); }
  std::vector<std::uint8_t> FileBytes() const { return ReadBytes(HostPath()); }

  engine::TKeyLayout Layout(int slot, std::uint16_t language = 0) {
    return engine::TKeyLayout::ForDescriptor(index->Descriptor(slot), slot, fields, language, 0);
  }
  // The full walk must find nothing wrong.
  void ExpectSound(bool compareRecordCount = false, std::uint16_t language = 0) {
    engine::TIndexCheckOptions options;
    options.compareRecordCount = compareRecordCount;
    options.languageId = language;
    const engine::TIndexCheckReport report = engine::CheckIndexTrees(*index, fields, options);
    EXPECT_TRUE(report.Ok()) << report.Describe();
  }

  engine::TSimpleStorageHost host;
  engine::TFieldDefinitions fields;
  std::unique_ptr<engine::TIndexFile> index;
};

}  // namespace engine_test
