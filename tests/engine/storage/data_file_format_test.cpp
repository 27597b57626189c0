// The data file's bytes on disk: the backup catalog's header, definitions and
// a row; field layout rules and creation limits; encrypted tables.
#include <gtest/gtest.h>

#include "engine/files/cipher.h"
#include "engine/storage/data_file_fixture.h"

namespace engine_test {
namespace {

using namespace engine;
namespace h = data_header;

class DataFileFormatTest : public TableFilesTest {};

TEST_F(DataFileFormatTest, CatalogHeaderAndDefinitionsAreByteExact) {
  Create(CatalogFields());
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.DAT"));
  ASSERT_EQ(f.size(), 3967u);  // 127 + 5 * 768, no records yet

  struct Expect {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  const Expect header[] = {
      {0, {1, 0, 0, 0}},                       // one header write so far
      {4, {0x00, 0x02, 0, 0}},                 // BLOB block size 512
      {8, {4}},                                // format
      {9, {0, 0, 0, 0}},                       // no free record
      {13, {1, 0, 0, 0}},                      // next record 1
      {17, {0, 0, 0, 0}},                      // last auto-increment
      {21, {0x12, 0x02}},                      // record size 530
      {23, {5, 0}},                            // five fields
      {25, {1, 0}},                            // one BLOB field
      {86, {0}},                               // not encrypted
      {87, std::vector<std::uint8_t>(16, 0)},  // no password
      {107, {1, 0, 0, 0}},                     // user version 1.0
      {111, {1}},                              // marker at the time of the write
      {112, {0, 0, 0, 0}},                     // last BLOB id
      {116, {0xD0, 0x52, 0, 0, 0, 0, 0, 0}},   // engine version 21200
      {124, {0, 0, 0}},
  };
  for (const Expect& e : header) {
    EXPECT_EQ(
        std::vector<std::uint8_t>(f.begin() + e.offset, f.begin() + e.offset + e.bytes.size()),
        e.bytes)
        << "header offset " << e.offset;
  }
  EXPECT_EQ(f[35], 7);  // counted description "catalog"
  EXPECT_EQ(std::string(f.begin() + 36, f.begin() + 43), "catalog");
  // Last write time: today, as days since 1899-12-30 minus 693594 (negative).
  EXPECT_LT(bytes::GetF64(&f[27]), -600000.0);

  // Definitions at 127, 895, 1663, 2431, 3199.
  const std::uint8_t* fileName = &f[127];
  EXPECT_EQ(bytes::GetI16(fileName), 1);
  EXPECT_EQ(fileName[2], 8);
  EXPECT_EQ(std::string(fileName + 3, fileName + 11), "FileName");
  EXPECT_EQ(fileName[84], 1);
  EXPECT_EQ(fileName[86], 250);
  EXPECT_EQ(fileName[88], 251);
  EXPECT_EQ(bytes::GetU16(fileName + 90), 9);
  const std::uint8_t* file = &f[3199];
  EXPECT_EQ(bytes::GetI16(file), 5);
  EXPECT_EQ(file[84], 3);
  EXPECT_EQ(file[85], 23);
  EXPECT_EQ(file[88], 8);
  EXPECT_EQ(file[90], 0x09);
  EXPECT_EQ(file[91], 0x02);
  const std::uint16_t slots[] = {9, 261, 266, 269, 521};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(bytes::GetU16(&f[127 + 768 * i + 90]), slots[i]) << "field " << i + 1;
}

TEST_F(DataFileFormatTest, CatalogRowBytes) {
  Create(CatalogFields());
  std::int32_t n = 0;
  for (int row = 0; row < 2; ++row) {
    n = Append([](std::uint8_t* r) {
      PutString(r, 9, "report.doc");
      PutInt32(r, 261, 0x2D6A5C21);
      PutString(r, 266, "N");
      PutString(r, 269, "C:\\Docs\\");
      r[521] = 1;
      bytes::PutI32(r + 522, 512);
      bytes::PutI32(r + 526, 7);
    });
  }
  Flush();
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.DAT"));
  ASSERT_EQ(f.size(), 3967u + 2 * 530);
  const std::uint8_t* r = &f[3967 + (n - 1) * 530];  // record 2
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(bytes::GetI32(r + 1), 2);
  EXPECT_EQ(bytes::GetI32(r + 5), 2);  // second auto-increment value
  EXPECT_EQ(r[9], 1);
  EXPECT_EQ(std::string(r + 10, r + 20), "report.doc");
  EXPECT_TRUE(std::all_of(r + 20, r + 261, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(r[261], 1);
  EXPECT_EQ(bytes::GetI32(r + 262), 0x2D6A5C21);
  EXPECT_EQ(r[266], 1);
  EXPECT_EQ(r[267], 'N');
  EXPECT_EQ(r[268], 0);
  EXPECT_EQ(r[269], 1);
  EXPECT_EQ(std::string(r + 270, r + 278), "C:\\Docs\\");
  EXPECT_TRUE(std::all_of(r + 278, r + 521, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(r[521], 1);
  EXPECT_EQ(std::vector<std::uint8_t>(r + 522, r + 530),
            (std::vector<std::uint8_t>{0x00, 0x02, 0, 0, 7, 0, 0, 0}));
  EXPECT_EQ(bytes::GetI32(&f[13]), 3);  // next record number
  EXPECT_EQ(bytes::GetI32(&f[17]), 2);  // last auto-increment
}

TEST(FieldLayoutTest, OffsetsAndStorageSizes) {
  const TFieldDefinitions fields = LaidOut(
      {Field("A", kFieldInt32, 0, kSubtypeAutoIncrement), Field("B", kFieldBcd),
       Field("C", kFieldExtended), Field("D", kFieldBytes, 3), Field("E", kFieldTimestamp)});
  EXPECT_EQ(fields[0].Offset(), 5);  // auto-increment: no slot
  EXPECT_EQ(fields[1].Offset(), 9);
  EXPECT_EQ(fields[2].Offset(), 18);  // BCD 8 + flag
  EXPECT_EQ(fields[3].Offset(), 29);  // extended 10 + flag
  EXPECT_EQ(fields[4].Offset(), 33);  // bytes 3 + flag
  TFieldDefinitions again = fields;
  EXPECT_EQ(LayOutDefinitions(again, "T"), 42u);
  EXPECT_EQ(VerifyDefinitions(fields, 42), "");
}

TEST(FieldLayoutTest, RefusedDefinitions) {
  struct Case {
    const char* what;
    TFieldDefinitions fields;
    int code;
  } cases[] = {
      {"digit first", {Field("1st", kFieldInt32)}, kErrInvalidFieldName},
      {"blank name", {Field("   ", kFieldInt32)}, kErrInvalidFieldName},
      {"duplicate ignoring case",
       {Field("Name", kFieldInt32), Field("NAME", kFieldInt16)},
       kErrInvalidFieldName},
      {"type 0", {Field("A", kFieldInvalid)}, kErrInvalidFieldDefinition},
      {"string of 251", {Field("A", kFieldString, 251)}, kErrInvalidFieldDefinition},
  };
  for (Case& c : cases) {
    for (std::size_t i = 0; i < c.fields.size(); ++i)
      c.fields[i].SetNumber(static_cast<std::int16_t>(i + 1));
    EXPECT_EQ(EngineCodeOf([&] { LayOutDefinitions(c.fields, "T"); }), c.code) << c.what;
  }
  TFieldDefinition bad = Field("N", kFieldInt16);
  bad.SetNumber(1);
  bad.SetDefault("70000");  // does not fit 16 bits
  TFieldDefinitions one{bad};
  EXPECT_EQ(EngineCodeOf([&] { LayOutDefinitions(one, "T"); }), kErrInvalidValidityCheck);
  bad.SetDefault("-5");
  one = {bad};
  EXPECT_EQ(EngineCodeOf([&] { LayOutDefinitions(one, "T"); }), 0);
  // Names are trimmed, and sizes of fixed types forced to 0.
  TFieldDefinitions trimmed{Field("  Padded ", kFieldInt32, 9)};
  trimmed[0].SetNumber(1);
  LayOutDefinitions(trimmed, "T");
  EXPECT_EQ(trimmed[0].Name(), "Padded");
  EXPECT_EQ(trimmed[0].Size(), 0);
}

TEST_F(DataFileFormatTest, BlobFieldAndRecordSizeLimits) {
  auto blobs = [](int count) {
    TFieldDefinitions fields;
    for (int i = 0; i < count; ++i) fields.push_back(Field("B" + std::to_string(i), kFieldBlob));
    return LaidOut(fields);
  };
  auto create = [&](const TFieldDefinitions& fields) {
    return EngineCodeOf([&] {
      TDataFileSpec plan;
      plan.fields = fields;
      TDataFile file(nullptr, &host);
      file.SetFileName("D:\\Limits.DAT");
      file.CreateDataFile(plan);
    });
  };
  EXPECT_EQ(create(blobs(64)), 0);
  EXPECT_EQ(create(blobs(65)), kErrBlobDefinition);

  // Byte fields of 250 (slots of 251) and one smaller field up to the target size.
  auto strings = [](std::uint32_t target) {
    TFieldDefinitions fields;
    std::uint32_t size = kFirstSlotOffset;
    int i = 0;
    while (target - size > 251) {
      fields.push_back(Field("S" + std::to_string(i++), kFieldBytes, 250));
      size += 251;
    }
    fields.push_back(
        Field("S" + std::to_string(i), kFieldBytes, static_cast<std::uint8_t>(target - size - 1)));
    return LaidOut(fields);
  };
  EXPECT_EQ(create(strings(65535)), 0);
  EXPECT_EQ(create(strings(65536)), kErrRecordSizeExceeded);
}

TEST_F(DataFileFormatTest, EncryptedTableHidesDefinitionsRecordsAndPassword) {
  Create(CatalogFields(), /*encrypted=*/true);
  Append([](std::uint8_t* r) { PutString(r, 9, "VisibleName"); });
  Flush();
  const std::vector<std::uint8_t> f = ReadBytes(Host("Back.DAT"));
  const std::string text(f.begin(), f.end());
  // The header stays readable: record size and field count in the clear.
  EXPECT_EQ(bytes::GetU16(&f[h::kRecordSize]), 530);
  EXPECT_EQ(f[h::kEncrypted], 1);
  EXPECT_EQ(text.find("secret"), std::string::npos);
  EXPECT_EQ(text.find("catalog"), std::string::npos);
  EXPECT_EQ(text.find("FileName"), std::string::npos);
  EXPECT_EQ(text.find("VisibleName"), std::string::npos);

  Reopen();
  EXPECT_EQ(data->Password(), "secret");
  EXPECT_EQ(data->Description(), "catalog");
  EXPECT_EQ(data->GetDefinition(1).Name(), "FileName");
  TRecord* r = data->GetRecord(nullptr, 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r->Data() + 10), 11), "VisibleName");
  data->ReleaseRecord(r);
  EXPECT_EQ(data->FindDefinition("filename"), 1u);
  EXPECT_TRUE(data->Diagnose().empty());
}

TEST_F(DataFileFormatTest, OlderWritersPartlyEncipheredDefinitionsAreReadAndUpgraded) {
  // 100 fields: 76,800 bytes of definitions, of which an older writer (engine
  // version 0) enciphered only the first 76,800 mod 65,536 = 11,264.
  TFieldDefinitions fields;
  for (int i = 0; i < 100; ++i) fields.push_back(Field("F" + std::to_string(i), kFieldInt32));
  Create(LaidOut(fields), /*encrypted=*/true);
  CloseAll();
  std::vector<std::uint8_t> f = ReadBytes(Host("Back.DAT"));
  std::uint8_t* area = &f[127];
  Decipher(area, 76800, kDataKey);
  Encipher(area, 11264, kDataKey);
  bytes::PutI64(&f[h::kEngineVersionAt], 0);
  PatchBytes(Host("Back.DAT"), 0, f);

  Reopen();
  EXPECT_EQ(data->GetDefinition(1).Name(), "F0");
  EXPECT_EQ(data->GetDefinition(100).Name(), "F99");
  EXPECT_TRUE(data->Diagnose().empty());
  // Rewriting the definitions upgrades the file to this writer's rule.
  TFieldDefinition renamed = data->GetDefinition(100);
  renamed.SetName("Last");
  data->SetDefinitionProperties(100, renamed);
  data->WriteDefinitions();
  Reopen();
  EXPECT_EQ(data->EngineVersion(), kEngineVersion);
  EXPECT_EQ(data->GetDefinition(1).Name(), "F0");
  EXPECT_EQ(data->GetDefinition(100).Name(), "Last");
}

TEST(CipherTest, RoundTripsAndStartsAfreshPerUnit) {
  std::vector<std::uint8_t> unit(100, 0);
  std::vector<std::uint8_t> a = unit, b = unit;
  Encipher(a.data(), a.size(), kDataKey);
  Encipher(b.data(), 50, kDataKey);
  Encipher(b.data() + 50, 50, kDataKey);
  EXPECT_NE(a, unit);
  EXPECT_EQ(std::vector<std::uint8_t>(a.begin(), a.begin() + 50),
            std::vector<std::uint8_t>(b.begin(), b.begin() + 50));
  EXPECT_NE(std::vector<std::uint8_t>(a.begin() + 50, a.end()),
            std::vector<std::uint8_t>(a.begin(), a.begin() + 50));  // no repeating stream
  Decipher(a.data(), a.size(), kDataKey);
  EXPECT_EQ(a, unit);
  std::vector<std::uint8_t> other = unit;
  Encipher(other.data(), other.size(), kHeaderKey);
  Decipher(other.data(), other.size(), kDataKey);
  EXPECT_NE(other, unit);  // the keys are not interchangeable
}

}  // namespace
}  // namespace engine_test
