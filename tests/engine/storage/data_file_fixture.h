// Fixtures of the data and BLOB file tests: the backup catalog's table set on
// drive D:, a host that plays the table object's role, byte surgery on the
// stored files, and helpers to build field definitions and rows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_test_util.h"
#include "engine/storage/blob_file.h"
#include "engine/storage/data_file.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/storage/field_defs.h"
#include "engine/table/blob_buffer.h"

namespace engine_test {

inline engine::TFieldDefinition Field(const std::string& name, std::uint8_t type,
                                      std::uint8_t size = 0, std::uint8_t subtype = 0) {
  engine::TFieldDefinition f;
  f.SetName(name);
  f.SetType(type);
  f.SetSize(size);
  f.SetSubtype(subtype);
  return f;
}

// Numbers the fields 1..n and lays them out.
inline engine::TFieldDefinitions LaidOut(engine::TFieldDefinitions fields) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    fields[i].SetNumber(static_cast<std::int16_t>(i + 1));
  engine::LayOutDefinitions(fields, "T");
  return fields;
}

// FileName CHAR(250), FileTime INTEGER, isZip CHAR(1), Path CHAR(250), File BLOB(0,2).
inline engine::TFieldDefinitions CatalogFields() {
  return LaidOut({Field("FileName", engine::kFieldString, 250),
                  Field("FileTime", engine::kFieldInt32), Field("isZip", engine::kFieldString, 1),
                  Field("Path", engine::kFieldString, 250),
                  Field("File", engine::kFieldBlob, 0, engine::kSubtypeBinary)});
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Overwrites bytes of a closed file in place.
inline void PatchBytes(const std::string& hostPath, std::size_t offset,
                       const std::vector<std::uint8_t>& bytes) {
  std::fstream io(hostPath, std::ios::binary | std::ios::in | std::ios::out);
  io.seekp(static_cast<std::streamoff>(offset));
  io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
inline void PatchI32(const std::string& hostPath, std::size_t offset, std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  engine::bytes::PutI32(b.data(), v);
  PatchBytes(hostPath, offset, b);
}

// Puts a counted-string-free value into a string slot: flag 1, characters.
inline void PutString(std::uint8_t* record, std::uint16_t slot, const std::string& text) {
  record[slot] = 1;
  std::memcpy(record + slot + 1, text.data(), text.size());
}
inline void PutInt32(std::uint8_t* record, std::uint16_t slot, std::int32_t v) {
  record[slot] = 1;
  engine::bytes::PutI32(record + slot + 1, v);
}

// A data file (and BLOB file when the fields have BLOBs) on D:, created from
// `fields` and written once so that the files are complete on disk.
class TableFilesTest : public DriveDTest {
 protected:
  static constexpr const char* kData = "D:\\Back.DAT";
  static constexpr const char* kBlob = "D:\\Back.BLB";

  void Create(const engine::TFieldDefinitions& fields, bool encrypted = false,
              std::int32_t blockSize = 512) {
    engine::TDataFileSpec plan;
    plan.fields = fields;
    plan.userMajor = 1;
    plan.encrypted = encrypted;
    plan.password = encrypted ? "secret" : "";
    plan.description = "catalog";
    plan.blobBlockSize = blockSize;
    data = std::make_unique<engine::TDataFile>(nullptr, &host);
    data->SetFileName(kData);
    data->CreateDataFile(plan);
    data->WriteHeader(true, false);
    data->WriteDefinitions();
    if (data->BlobFieldCount() > 0) {
      blob = std::make_unique<engine::TBlobFile>(nullptr, &host);
      blob->SetFileName(kBlob);
      blob->SetBlockSize(data->BlobBlockSize());
      blob->SetEncrypted(encrypted);
      blob->CreateNew();
      blob->WriteHeader(true, false);
    }
  }

  // Writes everything back as the table's FlushTable does.
  void Flush() {
    data->WriteBack(false);
    data->WriteHeader(false, false);
    data->WriteDefinitions();
    if (blob) {
      blob->WriteBack(false);
      blob->WriteHeader(false, false);
    }
  }

  void CloseAll() {
    if (blob) blob->Close();
    data->Close();
  }

  // Closes and reopens both files, as a new table object would.
  void Reopen() {
    CloseAll();
    data = std::make_unique<engine::TDataFile>(nullptr, &host);
    data->SetFileName(kData);
    data->Open();
    if (blob) {
      blob = std::make_unique<engine::TBlobFile>(nullptr, &host);
      blob->SetFileName(kBlob);
      blob->SetBlockSize(data->BlobBlockSize());
      blob->SetEncrypted(data->Encrypted());
      blob->Open();
    }
  }

  // Appends a row with fields filled by `fill`; returns its record number.
  template <class Fill>
  std::int32_t Append(Fill fill) {
    engine::TRecord* record = data->AllocateRecord(nullptr);
    const std::int32_t n = record->Number();
    std::fill(record->buffer.begin(), record->buffer.end(), std::uint8_t{0});
    engine::bytes::PutI32(record->Data() + engine::kRecordLinkOffset, n);
    engine::bytes::PutI32(record->Data() + engine::kRecordAutoIncOffset, data->NextAutoIncrement());
    fill(record->Data());
    data->MarkRecordChanged(record);
    data->ReleaseRecord(record);
    return n;
  }
  std::int32_t AppendInt(std::uint16_t slot, std::int32_t v) {
    return Append([&](std::uint8_t* r) { PutInt32(r, slot, v); });
  }

  void TearDown() override {
    blob.reset();
    data.reset();
    DriveDTest::TearDown();
  }

  engine::TSimpleStorageHost host;
  std::unique_ptr<engine::TDataFile> data;
  std::unique_ptr<engine::TBlobFile> blob;
};

}  // namespace engine_test
