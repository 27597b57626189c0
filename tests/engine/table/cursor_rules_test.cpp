// Record rules of the cursor: default values read under the table's language,
// the keywords DATE, TIME and NOW, the checks of value texts at creation, and
// the validity rules (required, minimum, maximum) on insert and modify.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "engine/storage/data_file_bytes.h"
#include "engine/table/table_check.h"
#include "engine/table/table_test_util.h"
#include "engine/values/value_text.h"

namespace {

using engine::TDataCursor;
using engine::TFieldDefinition;
using engine::TFieldDefinitions;
using engine_test::EngineCodeOf;
using table_test::TableTest;

constexpr std::uint16_t kGerman = 0x0407;
constexpr std::int32_t kDay20240228 = 738944;  // 0001-01-01 is day 1
constexpr double kMsPerDay = 86400000.0;

std::vector<std::uint8_t> I16(std::int16_t v) {
  std::vector<std::uint8_t> b(2);
  engine::bytes::PutI16(b.data(), v);
  return b;
}
std::vector<std::uint8_t> I32(std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  engine::bytes::PutI32(b.data(), v);
  return b;
}
std::vector<std::uint8_t> I64(std::int64_t v) {
  std::vector<std::uint8_t> b(8);
  engine::bytes::PutI64(b.data(), v);
  return b;
}
std::vector<std::uint8_t> F64(double v) {
  std::vector<std::uint8_t> b(8);
  std::memcpy(b.data(), &v, 8);
  return b;
}

class RulesTest : public TableTest {
 protected:
  // A cursor opened without the open check (which refuses damaged value texts).
  std::unique_ptr<TDataCursor> OpenMaintenance(const std::string& name) {
    auto c = std::make_unique<TDataCursor>(dir_, name);
    engine::TCursorOptions o;
    o.maintenance = true;
    c->SetOptions(o);
    c->Open();
    return c;
  }
  // Creates a table without a primary key from `fields`.
  void Create(const std::string& name, const TFieldDefinitions& fields,
              std::uint16_t language = 0) {
    engine::TTableDefinition d;
    d.fields = fields;
    d.noPrimaryKey = true;
    d.languageId = language;
    CreateTable(name, d);
  }
  int CreateCode(const TFieldDefinitions& fields, std::uint16_t language = 0) {
    return EngineCodeOf([&] { Create("Probe", fields, language); });
  }
  // Overwrites the counted text at `offset` of field definition `field` in
  // the data file (definitions start at byte 127, 768 bytes each).
  void PatchDefinitionText(const std::string& table, int field, std::size_t offset,
                           const std::string& text) {
    std::fstream f(Host("Db/" + table + ".DAT"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(127 + 768 * (field - 1) + offset));
    const char length = static_cast<char>(text.size());
    f.write(&length, 1);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
};

// Every type with a text form reads its default under language 0; types
// without one get zero bytes that are not NULL.
TEST_F(RulesTest, DefaultsReadAsTheirFieldType) {
  struct Case {
    const char* name;
    std::uint8_t type;
    std::uint8_t size;
    std::uint8_t scale;
    const char* text;
    std::vector<std::uint8_t> stored;  // the slot's value bytes
  };
  const Case cases[] = {
      {"Str", engine::kFieldString, 6, 0, "abc  ", {'a', 'b', 'c', 0, 0, 0, 0}},
      {"Day", engine::kFieldDate, 0, 0, "2024-02-28", I32(kDay20240228)},
      {"Clock", engine::kFieldTime, 0, 0, "12:30", I32(45000000)},
      {"ClockSec", engine::kFieldTime, 0, 0, "12:30:15", I32(45015000)},
      {"ClockPm", engine::kFieldTime, 0, 0, "1:02 pm", I32(46920000)},
      {"Stamp", engine::kFieldTimestamp, 0, 0, "2024-02-28 12:00:00",
       F64(kDay20240228 * kMsPerDay + 43200000)},
      {"StampDay", engine::kFieldTimestamp, 0, 0, "2024-02-28", F64(kDay20240228 * kMsPerDay)},
      {"Yes", engine::kFieldBoolean, 0, 0, "true", I16(1)},
      {"No", engine::kFieldBoolean, 0, 0, "FALSE", I16(0)},
      {"Small", engine::kFieldInt16, 0, 0, "-5", I16(-5)},
      {"Whole", engine::kFieldInt32, 0, 0, " 123456 ", I32(123456)},
      {"Word", engine::kFieldUInt16, 0, 0, "65535", I16(-1)},
      {"Big", engine::kFieldUInt32, 0, 0, "4000000000",
       I32(static_cast<std::int32_t>(4000000000u))},
      {"Real", engine::kFieldFloat, 0, 0, "1.5", F64(1.5)},
      {"Money", engine::kFieldBcd, 0, 2, "12.345", I64(12352)},  // halves away from zero
      {"Minus", engine::kFieldBcd, 0, 2, "-12.34", I64(-12342)},
      {"Raw", engine::kFieldBytes, 3, 0, "x", {0, 0, 0}},
  };
  TFieldDefinitions fields;
  for (const Case& k : cases) {
    TFieldDefinition& f = engine::AppendField(fields, k.name, k.type, k.size);
    f.SetScale(k.scale);
    f.SetDefault(k.text);
  }
  engine::AppendField(fields, "Plain", engine::kFieldInt32);  // no default: stays NULL
  Create("Defaults", fields);
  auto c = OpenCursor("Defaults");
  const auto r = c->NewRecord();
  std::uint32_t i = 1;
  for (const Case& k : cases) {
    EXPECT_FALSE(c->IsNull(r, i)) << k.name;
    EXPECT_EQ(c->GetField(r, i), k.stored) << k.name;
    ++i;
  }
  EXPECT_TRUE(c->IsNull(r, i));
  // The defaults go in with the record.
  auto inserted = r;
  c->Insert(inserted);
  c->First();
  TDataCursor::TRecordBuffer back;
  ASSERT_EQ(c->Next(&back), 0);
  EXPECT_EQ(c->GetField(back, 2), I32(kDay20240228));
}

// A BLOB has no text form: its default is an empty BLOB (not NULL), which
// goes through the BLOB file like any other and leaves the set clean.
TEST_F(RulesTest, BlobDefaultIsAnEmptyBlob) {
  engine::TTableDefinition d = table_test::CatalogDefinition();
  d.fields[table_test::kFile - 1].SetDefault("x");
  TDataCursor make(dir_, "Blobs");
  engine::TCursorOptions o;
  o.exclusive = true;
  make.SetOptions(o);
  make.CreateTable(d);
  {
    auto c = OpenCursor("Blobs");
    auto r = c->NewRecord();
    EXPECT_FALSE(c->IsNull(r, table_test::kFile));
    c->PutString(r, table_test::kFileName, "a");
    c->Insert(r);
    c->First();
    TDataCursor::TRecordBuffer back;
    ASSERT_EQ(c->Next(&back), 0);
    EXPECT_FALSE(c->IsNull(back, table_test::kFile));
    EXPECT_TRUE(c->GetBlob(back, table_test::kFile).empty());
  }
  const engine::TTableCheckReport report = engine::CheckTableSet("D:\\Db\\Blobs.DAT");
  EXPECT_TRUE(report.Ok()) << report.Describe();
}

TEST_F(RulesTest, DefaultKeywordsTakeTheMomentTheBufferIsMade) {
  TFieldDefinitions fields;
  engine::AppendField(fields, "Day", engine::kFieldDate).SetDefault("date");
  engine::AppendField(fields, "Clock", engine::kFieldTime).SetDefault("Time");
  engine::AppendField(fields, "Now", engine::kFieldTimestamp).SetDefault("NOW");
  engine::AppendField(fields, "Today", engine::kFieldTimestamp).SetDefault("Date");
  engine::AppendField(fields, "TimeOnly", engine::kFieldTimestamp).SetDefault("TIME");
  Create("Keys", fields);
  auto c = OpenCursor("Keys");
  const engine::LocalDateTime before = engine::CurrentLocalDateTime();
  const auto r = c->NewRecord();
  const engine::LocalDateTime after = engine::CurrentLocalDateTime();
  if (before.dayNumber != after.dayNumber) GTEST_SKIP() << "ran across midnight";
  auto stamp = [&](std::uint32_t field) { return c->GetDouble(r, field); };
  EXPECT_EQ(c->GetInteger(r, 1), before.dayNumber);
  EXPECT_GE(c->GetInteger(r, 2), before.milliseconds);
  EXPECT_LE(c->GetInteger(r, 2), after.milliseconds);
  EXPECT_GE(stamp(3), before.dayNumber * kMsPerDay + before.milliseconds);
  EXPECT_LE(stamp(3), after.dayNumber * kMsPerDay + after.milliseconds);
  EXPECT_EQ(stamp(4), before.dayNumber * kMsPerDay);
  // TIME of a timestamp: the time of day on 1899-12-30 (day 693594).
  const double timeOnly = stamp(5) - 693594 * kMsPerDay;
  EXPECT_GE(timeOnly, before.milliseconds);
  EXPECT_LE(timeOnly, after.milliseconds);
}

// Value texts are checked at creation by the same readers, under the table's
// language; keywords belong to their types only.
TEST_F(RulesTest, CreationRefusesValueTextsThatDoNotRead) {
  struct Case {
    std::uint8_t type;
    const char* text;
    std::uint16_t language;
    bool accepted;
  };
  const Case cases[] = {
      {engine::kFieldDate, "2024-02-28", 0, true},
      {engine::kFieldDate, "2024-02-30", 0, false},  // no such day
      {engine::kFieldDate, "28.02.2024", 0, false},  // not language 0's order
      {engine::kFieldDate, "28.02.2024", kGerman, true},
      {engine::kFieldDate, "NOW", 0, false},  // a timestamp keyword
      {engine::kFieldTime, "25:00", 0, false},
      {engine::kFieldTime, "DATE", 0, false},
      {engine::kFieldTimestamp, "2024-02-28 23:59:59", 0, true},
      {engine::kFieldInt16, "40000", 0, false},  // out of range
      {engine::kFieldInt32, "1.5", 0, false},
      {engine::kFieldBoolean, "yes", 0, false},
      {engine::kFieldFloat, "1,5", 0, false},
      {engine::kFieldBcd, "abc", 0, false},
      {engine::kFieldUInt32, "-1", 0, false},
      {engine::kFieldString, "anything 12:00", 0, true},
  };
  for (const Case& k : cases) {
    for (std::size_t offset :
         {TFieldDefinition::kMinimum, TFieldDefinition::kMaximum, TFieldDefinition::kDefault}) {
      TFieldDefinitions fields;
      TFieldDefinition& f = engine::AppendField(
          fields, "F", k.type, k.type == engine::kFieldString ? std::uint8_t{20} : std::uint8_t{0});
      if (offset == TFieldDefinition::kMinimum) f.SetMinimum(k.text);
      if (offset == TFieldDefinition::kMaximum) f.SetMaximum(k.text);
      if (offset == TFieldDefinition::kDefault) f.SetDefault(k.text);
      EXPECT_EQ(CreateCode(fields, k.language), k.accepted ? 0 : engine::kErrInvalidValidityCheck)
          << int{k.type} << " '" << k.text << "' at " << offset;
      if (k.accepted) dir_->DeleteTable("Probe");
    }
  }
  // Keywords name moments for defaults only; as a bound they do not read.
  TFieldDefinitions fields;
  engine::AppendField(fields, "F", engine::kFieldDate).SetDefault("DATE");
  EXPECT_EQ(CreateCode(fields), 0);
  dir_->DeleteTable("Probe");
  fields.front().SetMinimum("DATE");
  EXPECT_EQ(CreateCode(fields), engine::kErrInvalidValidityCheck);
  fields.front().SetMinimum("");
  fields.front().SetMaximum("date");
  EXPECT_EQ(CreateCode(fields), engine::kErrInvalidValidityCheck);
}

// Whatever creation accepts, a later open accepts too: no table is made that
// cannot be opened again.
TEST_F(RulesTest, EveryCreatedTableOpens) {
  struct Case {
    std::uint8_t type;
    const char* text;
    std::uint16_t language;
    bool mustCreate;  // false: creation may refuse it, but must not make it unopenable
  };
  const Case cases[] = {
      {engine::kFieldFloat, "1,5", kGerman, true},  // the German decimal comma
      {engine::kFieldFloat, "1.5", kGerman, false},
      {engine::kFieldBcd, "12,25", kGerman, true},
      {engine::kFieldDate, "28.02.2024", kGerman, true},
      {engine::kFieldTime, "13:05", kGerman, true},
      {engine::kFieldFloat, "1e3", 0, true},
      {engine::kFieldTimestamp, "2024-02-28 1:02:03 PM", 0, true},
  };
  int made = 0;
  for (const Case& k : cases) {
    TFieldDefinitions fields;
    engine::AppendField(fields, "F", k.type).SetDefault(k.text);
    const std::string name = "Made" + std::to_string(made++);
    const int created = EngineCodeOf([&] { Create(name, fields, k.language); });
    if (k.mustCreate) {
      EXPECT_EQ(created, 0) << k.text;
    }
    if (created != 0) continue;
    EXPECT_EQ(EngineCodeOf([&] { OpenCursor(name); }), 0) << k.text;
  }
}

TEST_F(RulesTest, DefaultsFollowTheTablesLanguage) {
  TFieldDefinitions fields;
  engine::AppendField(fields, "Day", engine::kFieldDate).SetDefault("28.02.2024");
  engine::AppendField(fields, "Clock", engine::kFieldTime).SetDefault("13:05:00");
  engine::AppendField(fields, "Stamp", engine::kFieldTimestamp).SetDefault("28.02.2024 12:00:00");
  Create("German", fields, kGerman);
  auto c = OpenCursor("German");
  const auto r = c->NewRecord();
  EXPECT_EQ(c->GetInteger(r, 1), kDay20240228);
  EXPECT_EQ(c->GetInteger(r, 2), 13 * 3600000 + 5 * 60000);
  EXPECT_EQ(c->GetDouble(r, 3), kDay20240228 * kMsPerDay + 43200000);
}

// Texts that slipped past creation (a file written elsewhere) make the open
// check refuse the table (8961); a maintenance cursor, which skips the check,
// fails when a buffer is made, with the conversion error or 10006 naming the
// field.
TEST_F(RulesTest, DefaultThatDoesNotReadFailsWhenTheBufferIsMade) {
  TFieldDefinitions fields;
  engine::AppendField(fields, "Flag", engine::kFieldBoolean).SetDefault("TRUE");
  engine::AppendField(fields, "Day", engine::kFieldDate).SetDefault("2024-02-28");
  Create("Odd", fields);

  PatchDefinitionText("Odd", 1, TFieldDefinition::kDefault, "yes");
  {
    auto c = OpenMaintenance("Odd");  // the open check would refuse the definition
    try {
      c->NewRecord();
      ADD_FAILURE() << "no conversion error";
    } catch (const engine::EZORVADEngineError&) {
      ADD_FAILURE() << "an engine error instead of the conversion error";
    } catch (const engine::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "'yes' is not a valid boolean value");
    }
  }
  PatchDefinitionText("Odd", 1, TFieldDefinition::kDefault, "TRUE");
  PatchDefinitionText("Odd", 2, TFieldDefinition::kDefault, "2024-02-30");
  EXPECT_EQ(EngineCodeOf([&] { OpenCursor("Odd"); }), engine::kErrHeaderCorrupt);
  auto c = OpenMaintenance("Odd");
  try {
    c->NewRecord();
    ADD_FAILURE() << "no error";
  } catch (const engine::EZORVADEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), engine::kErrInvalidValidityCheck);
    EXPECT_NE(e.Message().find("'Day'"), std::string::npos) << e.Message();
  }
}

class ValidityTest : public RulesTest {
 protected:
  enum Field : std::uint32_t { kNum = 1, kDay, kClock, kStamp, kMoney, kReal, kText, kNeeded };

  void SetUp() override {
    RulesTest::SetUp();
    TFieldDefinitions fields;
    TFieldDefinition* f = &engine::AppendField(fields, "Num", engine::kFieldInt32);
    f->SetMinimum("1");
    f->SetMaximum("10");
    f = &engine::AppendField(fields, "Day", engine::kFieldDate);
    f->SetMinimum("2024-01-01");
    f->SetMaximum("2024-12-31");
    f = &engine::AppendField(fields, "Clock", engine::kFieldTime);
    f->SetMinimum("08:00");
    f->SetMaximum("17:30");
    engine::AppendField(fields, "Stamp", engine::kFieldTimestamp).SetMinimum("2024-01-01 12:00");
    f = &engine::AppendField(fields, "Money", engine::kFieldBcd);
    f->SetScale(2);
    f->SetMinimum("-0.05");
    engine::AppendField(fields, "Real", engine::kFieldFloat).SetMaximum("1.5");
    f = &engine::AppendField(fields, "Text", engine::kFieldString, 5);
    f->SetMinimum("b");
    f->SetMaximum("d");
    engine::AppendField(fields, "Needed", engine::kFieldString, 3).SetRequired(true);
    Create("Rules", fields);
    cursor_ = OpenCursor("Rules");
  }
  void TearDown() override {
    cursor_.reset();
    RulesTest::TearDown();
  }
  // A record that passes every rule.
  TDataCursor::TRecordBuffer Valid() {
    TDataCursor& c = *cursor_;
    auto r = c.NewRecord();
    c.PutInteger(r, kNum, 5);
    c.PutInteger(r, kDay, kDay20240228);
    c.PutInteger(r, kClock, 12 * 3600000);
    c.PutDouble(r, kStamp, kDay20240228 * kMsPerDay);
    c.PutDouble(r, kMoney, 0);
    c.PutDouble(r, kReal, 1.5);
    c.PutString(r, kText, "c");
    c.PutString(r, kNeeded, "x");
    return r;
  }
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(ValidityTest, InsertAndModifyCheckEveryRule) {
  using Change = std::function<void(TDataCursor&, TDataCursor::TRecordBuffer&)>;
  struct Case {
    const char* what;
    Change change;
    int code;
  };
  const int below = engine::kErrValueBelowMinimum, above = engine::kErrValueAboveMaximum;
  const Case cases[] = {
      {"valid", [](auto&, auto&) {}, 0},
      {"NULL counts as 0, below 1", [](auto& c, auto& r) { c.PutNull(r, kNum); }, below},
      {"0", [](auto& c, auto& r) { c.PutInteger(r, kNum, 0); }, below},
      {"1 is the minimum", [](auto& c, auto& r) { c.PutInteger(r, kNum, 1); }, 0},
      {"10 is the maximum", [](auto& c, auto& r) { c.PutInteger(r, kNum, 10); }, 0},
      {"11", [](auto& c, auto& r) { c.PutInteger(r, kNum, 11); }, above},
      {"day before 2024", [](auto& c, auto& r) { c.PutInteger(r, kDay, kDay20240228 - 59); },
       below},
      {"2024-01-01", [](auto& c, auto& r) { c.PutInteger(r, kDay, kDay20240228 - 58); }, 0},
      {"2024-12-31", [](auto& c, auto& r) { c.PutInteger(r, kDay, kDay20240228 + 307); }, 0},
      {"2025-01-01", [](auto& c, auto& r) { c.PutInteger(r, kDay, kDay20240228 + 308); }, above},
      {"07:59:59.999", [](auto& c, auto& r) { c.PutInteger(r, kClock, 8 * 3600000 - 1); }, below},
      {"17:30:00.001", [](auto& c, auto& r) { c.PutInteger(r, kClock, 63000001); }, above},
      {"timestamp a second early",
       [](auto& c, auto& r) { c.PutDouble(r, kStamp, (kDay20240228 - 58) * kMsPerDay + 43199000); },
       below},
      {"NULL timestamp", [](auto& c, auto& r) { c.PutNull(r, kStamp); }, below},
      {"-0.06", [](auto& c, auto& r) { c.PutDouble(r, kMoney, -0.06); }, below},
      {"-0.05", [](auto& c, auto& r) { c.PutDouble(r, kMoney, -0.05); }, 0},
      {"1.5000001", [](auto& c, auto& r) { c.PutDouble(r, kReal, 1.5000001); }, above},
      {"a", [](auto& c, auto& r) { c.PutString(r, kText, "a"); }, below},
      {"NULL text counts as ''", [](auto& c, auto& r) { c.PutNull(r, kText); }, below},
      {"b is the minimum", [](auto& c, auto& r) { c.PutString(r, kText, "b"); }, 0},
      {"dz sorts after d", [](auto& c, auto& r) { c.PutString(r, kText, "dz"); }, above},
      {"C sorts before b bytewise", [](auto& c, auto& r) { c.PutString(r, kText, "C"); }, below},
      {"required left NULL", [](auto& c, auto& r) { c.PutNull(r, kNeeded); },
       engine::kErrValueRequired},
  };
  TDataCursor& c = *cursor_;
  auto keep = Valid();
  c.Insert(keep);  // the row the modifications try to change
  std::int64_t rows = 1;
  for (const Case& k : cases) {
    auto r = Valid();
    k.change(c, r);
    EXPECT_EQ(EngineCodeOf([&] { c.Insert(r); }), k.code) << "insert: " << k.what;
    if (k.code == 0) ++rows;
    EXPECT_EQ(c.RecordCount(), rows) << k.what;

    c.First();
    TDataCursor::TRecordBuffer current;
    ASSERT_EQ(c.Next(&current), 0);
    const std::int64_t number = c.GetInteger(current, kNum);
    auto changed = current;
    k.change(c, changed);
    EXPECT_EQ(EngineCodeOf([&] { c.Modify(changed); }), k.code) << "modify: " << k.what;
    if (k.code != 0) {
      // Nothing was written: the row reads back as it was.
      c.First();
      ASSERT_EQ(c.Next(&current), 0);
      EXPECT_EQ(c.GetInteger(current, kNum), number) << k.what;
    }
  }
}

TEST_F(ValidityTest, MessagesNameTheFieldAndTheTable) {
  struct Case {
    Field field;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {kNum, engine::kErrValueBelowMinimum,
       "The value for the field 'Num' in table 'Rules.DAT' is below the minimum allowable value"},
      {kDay, engine::kErrValueAboveMaximum,
       "The value for the field 'Day' in table 'Rules.DAT' is above the maximum allowable value"},
      {kNeeded, engine::kErrValueRequired,
       "A value must be provided for the field 'Needed' in table 'Rules.DAT'"},
  };
  for (const Case& k : cases) {
    auto r = Valid();
    if (k.field == kNum) cursor_->PutInteger(r, kNum, -3);
    if (k.field == kDay) cursor_->PutInteger(r, kDay, kDay20240228 + 1000);
    if (k.field == kNeeded) cursor_->PutNull(r, kNeeded);
    try {
      cursor_->Insert(r);
      ADD_FAILURE() << k.text;
    } catch (const engine::EZORVADEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), k.code);
      EXPECT_EQ(e.Errors(0).Message(), k.text);
    }
  }
}

TEST_F(RulesTest, StringBoundsCompareInTheTablesCollation) {
  // Bytewise "a" (0x61) sorts after "B" (0x42); in German order it sorts before.
  struct Case {
    std::uint16_t language;
    int code;
  };
  const Case cases[] = {{0, 0}, {kGerman, engine::kErrValueBelowMinimum}};
  for (const Case& k : cases) {
    const std::string name = "Coll" + std::to_string(k.language);
    TFieldDefinitions fields;
    engine::AppendField(fields, "Text", engine::kFieldString, 5).SetMinimum("B");
    Create(name, fields, k.language);
    auto c = OpenCursor(name);
    auto r = c->NewRecord();
    c->PutString(r, 1, "a");
    EXPECT_EQ(EngineCodeOf([&] { c->Insert(r); }), k.code) << k.language;
  }
}

TEST_F(RulesTest, BoundThatDoesNotReadIsReportedNotIgnored) {
  TFieldDefinitions fields;
  engine::AppendField(fields, "Day", engine::kFieldDate).SetMaximum("2024-12-31");
  Create("Odd", fields);
  PatchDefinitionText("Odd", 1, TFieldDefinition::kMaximum, "2024-02-30");
  EXPECT_EQ(EngineCodeOf([&] { OpenCursor("Odd"); }), engine::kErrHeaderCorrupt);
  auto c = OpenMaintenance("Odd");
  auto r = c->NewRecord();
  c->PutInteger(r, 1, kDay20240228 + 5000);
  EXPECT_EQ(EngineCodeOf([&] { c->Insert(r); }), engine::kErrInvalidValidityCheck);
}

// The BCD form rounds half away from zero on the value's decimal form: 2.345
// is just below 2.345 as a double, yet it is stored as 2.35.
TEST_F(RulesTest, BcdValuesRoundHalfAwayFromZero) {
  struct Case {
    double value;
    std::int64_t stored;
    double back;
  };
  const Case cases[] = {
      {12.34, 12342, 12.34},  {-12.34, -12342, -12.34}, {2.345, 2352, 2.35},
      {-2.345, -2352, -2.35}, {0.005, 12, 0.01},        {1.004, 1002, 1.0},
  };
  TFieldDefinitions fields;
  engine::AppendField(fields, "Money", engine::kFieldBcd).SetScale(2);
  Create("Bcd", fields);
  auto c = OpenCursor("Bcd");
  for (const Case& k : cases) {
    auto r = c->NewRecord();
    c->PutDouble(r, 1, k.value);
    EXPECT_EQ(c->GetField(r, 1), I64(k.stored)) << k.value;
    EXPECT_DOUBLE_EQ(c->GetDouble(r, 1), k.back) << k.value;
  }
  auto r = c->NewRecord();
  EXPECT_THROW(c->PutDouble(r, 1, 1e300), engine::EDatabaseError);
  EXPECT_TRUE(c->IsNull(r, 1));
}

}  // namespace
