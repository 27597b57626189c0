// The parameter scan of SQL texts, the parameters' setters, and the
// parameter record they are bound with.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "engine/components/components_test_util.h"
#include "engine/components/file_stream.h"
#include "engine/components/sql_param_scan.h"
#include "engine/components/zorvad_params.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace {

using namespace engine;
using components_test::MessageOf;

TEST(ParamScan, TextsAndTheirParameters) {
  struct Case {
    const char* text;
    const char* engineText;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"values (:pFileName,:pFileTime)", "values (?,?)", {"pFileName", "pFileTime"}},
      {"where a = :p and b = :p", "where a = ? and b = ?", {"p", "p"}},
      {"where a = ':x' and b = :x", "where a = ':x' and b = ?", {"x"}},
      {"where a = \"12:30\" or c=:y;", "where a = \"12:30\" or c=?;", {"y"}},
      {"select '10::00', a::b from t", "select '10::00', a:b from t", {}},
      {"x = :'my name' and y = :\"other one\"", "x = ? and y = ?", {"my name", "other one"}},
      {"a=:p1\r\nb=:p2\nc=:p3)", "a=?\r\nb=?\nc=?)", {"p1", "p2", "p3"}},
      {"a = : b", "a = : b", {}},
      {"a = :", "a = :", {}},
      {"'unclosed :p", "'unclosed :p", {}},
      {"UpDate \"D:\\Bk\\Back.dat\" set FileTime=:pFileTime,Path =:pPath where FileName "
       "=:pFileName ",
       "UpDate \"D:\\Bk\\Back.dat\" set FileTime=?,Path =? where FileName =? ",
       {"pFileTime", "pPath", "pFileName"}},
  };
  for (const Case& c : cases) {
    const TParamScan scan = ScanParams(c.text);
    EXPECT_EQ(scan.engineText, c.engineText) << c.text;
    EXPECT_EQ(scan.names, c.names) << c.text;
  }
}

TEST(Params, SettersSetKindValueAndFlags) {
  struct Case {
    const char* what;
    std::function<void(TZORVADParam&)> set;
    TFieldType kind;
    std::string text;
  };
  const Case cases[] = {
      {"string", [](auto& p) { p.SetAsString("abc"); }, ftString, "abc"},
      {"integer", [](auto& p) { p.SetAsInteger(-7); }, ftInteger, "-7"},
      {"smallint", [](auto& p) { p.SetAsSmallInt(12); }, ftSmallint, "12"},
      {"word", [](auto& p) { p.SetAsWord(65535); }, ftWord, "65535"},
      {"boolean", [](auto& p) { p.SetAsBoolean(true); }, ftBoolean, "True"},
      {"float", [](auto& p) { p.SetAsFloat(1.5); }, ftFloat, "1.500000"},
      {"currency", [](auto& p) { p.SetAsCurrency(2.25); }, ftCurrency, "2.250000"},
      {"BCD", [](auto& p) { p.SetAsBCD(3.5); }, ftBCD, "3.500000"},
      {"date", [](auto& p) { p.SetAsDate(2.0); }, ftDate, "2.000000"},
      {"time", [](auto& p) { p.SetAsTime(0.5); }, ftTime, "0.500000"},
      {"date-time", [](auto& p) { p.SetAsDateTime(2.5); }, ftDateTime, "2.500000"},
      {"memo", [](auto& p) { p.SetAsMemo("long text"); }, ftMemo, "long text"},
      {"BLOB",
       [](auto& p) {
         p.SetAsBlob({'x', 0, 'y'});
       },
       ftBlob, std::string("x\0y", 3)},
      {"stream as graphic",
       [](auto& p) {
         TMemoryStream s({1, 2, 3});
         s.SetPosition(2);  // read from its start all the same
         p.LoadFromStream(s, ftGraphic);
       },
       ftGraphic, "\x01\x02\x03"},
  };
  for (const Case& c : cases) {
    TZORVADParam p("p");
    EXPECT_TRUE(p.IsNull()) << c.what;
    c.set(p);
    EXPECT_EQ(p.DataType(), c.kind) << c.what;
    EXPECT_FALSE(p.IsNull()) << c.what;
    EXPECT_TRUE(p.Bound()) << c.what;
    EXPECT_EQ(p.AsString(), c.text) << c.what;
    p.Clear();
    EXPECT_TRUE(p.IsNull()) << c.what;
    EXPECT_EQ(p.DataType(), c.kind) << c.what << ": clearing keeps the kind";
    EXPECT_EQ(p.AsString(), "") << c.what;
  }
  TZORVADParam p("p");
  p.SetAsString("x");
  p.SetDataType(ftBlob);
  EXPECT_EQ(p.DataType(), ftBlob);
  EXPECT_EQ(p.Bytes(), "") << "setting the kind empties the value";
}

TEST(Params, ByNameFindsTheFirstOfTwoEqualNames) {
  TZORVADParams params;
  params.CreateParam(ftUnknown, "p", ptUnknown);
  params.CreateParam(ftUnknown, "P", ptUnknown);
  params.ParamByName("p").SetAsInteger(1);
  EXPECT_TRUE(params[0].Bound());
  EXPECT_FALSE(params[1].Bound());
  EXPECT_EQ(MessageOf([&] { params.ParamByName("q"); }), "Parameter 'q' not found");
  EXPECT_EQ(MessageOf([&] { BuildParamRecord(params); }), "No value for parameter 'P'");
}

template <typename T>
std::vector<std::uint8_t> BytesOf(T value) {
  std::vector<std::uint8_t> b(sizeof(T));
  std::memcpy(b.data(), &value, sizeof(T));
  return b;
}

// Loads `bytes` as `kind` through a stream.
std::function<void(TZORVADParam&)> Load(std::string bytes, TFieldType kind) {
  return [bytes, kind](TZORVADParam& p) {
    TMemoryStream s({bytes.begin(), bytes.end()});
    p.LoadFromStream(s, kind);
  };
}

TEST(Params, BindingRecordOfEveryKind) {
  constexpr std::uint8_t kByRef = 0xFF;  // the case expects a reference
  struct Case {
    const char* what;
    std::function<void(TZORVADParam&)> set;
    std::uint8_t type, subtype;
    std::uint16_t scale;
    std::uint32_t size;
    std::vector<std::uint8_t> value;  // {kByRef}: a length and a reference
  };
  const std::int32_t day = DayNumberFromDate(1899, 12, 31);  // TDateTime 1.0
  ASSERT_EQ(DayNumberFromDate(1, 1, 1), 1);
  const std::int32_t noon = 43'200'000;
  const Case cases[] = {
      {"string", [](auto& p) { p.SetAsString("ab"); }, 1, 0, 0, 3, {'a', 'b', 0}},
      {"250 characters inline", [](auto& p) { p.SetAsString(std::string(250, 'x')); }, 1, 0, 0, 251,
       [] {
         std::vector<std::uint8_t> v(250, 'x');
         v.push_back(0);
         return v;
       }()},
      {"300 characters by reference",
       [](auto& p) { p.SetAsString(std::string(300, 'x')); },
       1,
       0,
       0,
       kReferenceSize,
       {kByRef}},
      {"smallint", [](auto& p) { p.SetAsSmallInt(-2); }, 5, 0, 0, 2, {0xFE, 0xFF}},
      {"integer", [](auto& p) { p.SetAsInteger(258); }, 6, 0, 0, 4, {2, 1, 0, 0}},
      {"word", [](auto& p) { p.SetAsWord(513); }, 12, 0, 0, 2, {1, 2}},
      {"boolean", [](auto& p) { p.SetAsBoolean(true); }, 4, 0, 0, 2, {1, 0}},
      {"float", [](auto& p) { p.SetAsFloat(0.25); }, 7, 0, 0, 8, BytesOf(0.25)},
      {"currency", [](auto& p) { p.SetAsCurrency(0.25); }, 7, 0, 0, 8, BytesOf(0.25)},
      {"BCD", [](auto& p) { p.SetAsBCD(12.5); }, 8, 0, 4, 8, BytesOf(*EncodeBcd(12.5, 4))},
      {"date", [](auto& p) { p.SetAsDate(1.75); }, 2, 0, 0, 4, BytesOf(day)},
      {"time", [](auto& p) { p.SetAsTime(1.5); }, 10, 0, 0, 4, BytesOf(noon)},
      {"date-time", [](auto& p) { p.SetAsDateTime(1.5); }, 11, 0, 0, 8,
       BytesOf(static_cast<double>(day) * kMillisecondsPerDay + noon)},
      {"BLOB",
       [](auto& p) {
         p.SetAsBlob({'b', 'l'});
       },
       3,
       0,
       0,
       kReferenceSize,
       {kByRef}},
      {"memo", [](auto& p) { p.SetAsMemo("m"); }, 3, 22, 0, kReferenceSize, {kByRef}},
      {"graphic", Load("g", ftGraphic), 3, 26, 0, kReferenceSize, {kByRef}},
      {"formatted memo", Load("f", ftFmtMemo), 3, 24, 0, kReferenceSize, {kByRef}},
      {"Paradox OLE", Load("o", ftParadoxOle), 3, 0, 0, kReferenceSize, {kByRef}},
      {"dBASE OLE", Load("o", ftDBaseOle), 3, 0, 0, kReferenceSize, {kByRef}},
      {"typed binary", Load("tb", ftTypedBinary), 3, 28, 0, 2, {'t', 'b'}},
  };
  for (const Case& c : cases) {
    TZORVADParams params;
    params.CreateParam(ftUnknown, "first", ptUnknown).SetAsInteger(5);
    TZORVADParam& p = params.CreateParam(ftUnknown, "second", ptUnknown);
    c.set(p);
    const TParamRecord r = BuildParamRecord(params);
    ASSERT_EQ(r.descriptors.size(), 2u) << c.what;
    const TParamDescriptor& d = r.descriptors[1];
    EXPECT_EQ(d.number, 2) << c.what;
    EXPECT_EQ(d.name, "second") << c.what;
    EXPECT_EQ(d.type, c.type) << c.what;
    EXPECT_EQ(d.subtype, c.subtype) << c.what;
    EXPECT_EQ(d.scale, c.scale) << c.what;
    EXPECT_EQ(d.size, c.size) << c.what;
    EXPECT_EQ(d.offset, 1u + 4u) << c.what << ": slots follow without gaps";
    ASSERT_EQ(r.buffer.size(), d.offset + 1 + d.size) << c.what;
    EXPECT_EQ(r.buffer[d.offset], 1) << c.what;
    const std::vector<std::uint8_t> value(r.buffer.begin() + d.offset + 1, r.buffer.end());
    if (c.value == std::vector<std::uint8_t>{kByRef}) {
      std::uint32_t length = 0;
      const void* ref = nullptr;
      std::memcpy(&length, value.data(), 4);
      std::memcpy(&ref, value.data() + 4, sizeof ref);
      EXPECT_EQ(length, p.Bytes().size()) << c.what;
      EXPECT_EQ(ref, p.Bytes().data()) << c.what;
    } else {
      EXPECT_EQ(value, c.value) << c.what;
    }
    // NULL keeps the slot of the kind with a has-value byte of 0.
    p.Clear();
    const TParamRecord n = BuildParamRecord(params);
    EXPECT_EQ(n.buffer[n.descriptors[1].offset], 0) << c.what;
  }
}

TEST(Params, KindsTheEngineCannotTakeAreRefused) {
  struct Case {
    TFieldType kind;
    std::string message;
  };
  const Case cases[] = {
      {ftUnknown, "No value for parameter 'p'"},
      {ftBytes, "Field 'p' is of an unsupported type"},
      {ftVarBytes, "Field 'p' is of an unsupported type"},
      {ftCursor, "Field 'p' is of an unsupported type"},
      {ftGuid, "Field 'p' is of an unsupported type"},
  };
  for (const Case& c : cases) {
    TZORVADParams params;
    params.CreateParam(c.kind, "p", ptInput);
    EXPECT_EQ(MessageOf([&] { BuildParamRecord(params); }), c.message) << c.kind;
  }
  TZORVADParams longName;
  longName.CreateParam(ftInteger, std::string(40, 'n'), ptInput).SetAsInteger(1);
  EXPECT_EQ(BuildParamRecord(longName).descriptors[0].name, std::string(30, 'n'));
}

class ParamFiles : public components_test::ComponentsTest {};

TEST_F(ParamFiles, LoadFromFileTakesTheWholeFile) {
  const std::string content(70'000, 'z');
  std::ofstream(Host("Bk/in.bin"), std::ios::binary) << content;
  TZORVADParam p("pFile");
  p.SetDataType(ftBlob);
  p.LoadFromFile("D:\\Bk\\in.bin", ftBlob);
  EXPECT_EQ(p.Bytes(), content);
  EXPECT_EQ(p.DataType(), ftBlob);
  EXPECT_THROW(p.LoadFromFile("D:\\Bk\\missing.bin", ftBlob), EFOpenError);
}

}  // namespace
