// Keys: value encodings, key building (nulls, descending fields, case),
// comparison under language 0 and under a locale, key bounds, successor and
// predecessor, and the character-order maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/storage/char_order.h"
#include "engine/storage/index_test_util.h"
#include "platform/locale.h"

namespace engine_test {
namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

Bytes Encode(std::uint8_t type, std::uint16_t size, Bytes stored, std::uint32_t lcid = 0) {
  Bytes out(size);
  EncodeKeyValue(type, size, stored.data(), out.data(), lcid);
  return out;
}
Bytes Le32(std::int32_t v) {
  Bytes b(4);
  bytes::PutI32(b.data(), v);
  return b;
}
Bytes Le64(std::int64_t v) {
  Bytes b(8);
  bytes::PutI64(b.data(), v);
  return b;
}
Bytes LeF64(double v) {
  Bytes b(8);
  bytes::PutF64(b.data(), v);
  return b;
}

TEST(IndexKeyEncoding, EachFieldType) {
  struct Case {
    const char* what;
    std::uint8_t type;
    std::uint16_t size;
    Bytes stored, expected;
  };
  const Case cases[] = {
      {"int32 1", kFieldInt32, 4, Le32(1), {0x80, 0, 0, 1}},
      {"int32 -1", kFieldInt32, 4, Le32(-1), {0x7F, 0xFF, 0xFF, 0xFF}},
      {"date", kFieldDate, 4, Le32(730000), {0x80, 0x0B, 0x23, 0x90}},
      {"time", kFieldTime, 4, Le32(0), {0x80, 0, 0, 0}},
      {"int16 -2", kFieldInt16, 2, {0xFE, 0xFF}, {0x7F, 0xFE}},
      {"boolean", kFieldBoolean, 2, {1, 0}, {0, 1}},
      {"uint16", kFieldUInt16, 2, {0x34, 0x12}, {0x12, 0x34}},
      {"double 1", kFieldFloat, 8, LeF64(1.0), {0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"double -1", kFieldFloat, 8, LeF64(-1.0), {0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"double -0", kFieldTimestamp, 8, LeF64(-0.0), {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"BCD 12.34", kFieldBcd, 8, Le64(12342), {0x80, 0, 0, 0, 0, 0, 0x30, 0x36}},
      {"bytes", kFieldBytes, 3, {9, 8, 7}, {9, 8, 7}},
      {"uint32 stays little-endian", kFieldUInt32, 4, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"string padded", kFieldString, 5, {'a', 'b', 0, 'x', 'y'}, {'a', 'b', 0, 0, 0}},
      {"string without terminator", kFieldString, 3, {'a', 'b', 'c'}, {'a', 'b', 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Encode(c.type, c.size, c.stored), c.expected) << c.what;
}

TEST(IndexKeyEncoding, ByteOrderIsValueOrder) {
  const std::vector<std::int32_t> ints = {
      std::numeric_limits<std::int32_t>::min(), -70000, -1, 0, 1, 255, 256,
      std::numeric_limits<std::int32_t>::max()};
  for (std::size_t i = 1; i < ints.size(); ++i) {
    EXPECT_LT(Encode(kFieldInt32, 4, Le32(ints[i - 1])), Encode(kFieldInt32, 4, Le32(ints[i])))
        << ints[i];
  }
  const std::vector<double> doubles = {
      -std::numeric_limits<double>::infinity(), -1e300, -2.5, -1e-300, 0.0, 1e-300, 2.5, 1e300,
      std::numeric_limits<double>::infinity()};
  for (std::size_t i = 1; i < doubles.size(); ++i) {
    EXPECT_LT(Encode(kFieldFloat, 8, LeF64(doubles[i - 1])),
              Encode(kFieldFloat, 8, LeF64(doubles[i])))
        << doubles[i];
  }
  EXPECT_LT(Encode(kFieldBcd, 8, Le64(-12342)), Encode(kFieldBcd, 8, Le64(12342)));
}

TEST(IndexKeyEncoding, UpperCaseMappingKeepsTheSlotSize) {
  const std::uint32_t english = platform::MakeLcid(0x0409, 0);
  EXPECT_EQ(Encode(kFieldString, 6, {'a', 0xC3, 0xA9, 'z', 0, 0}, english),
            (Bytes{'A', 0xC3, 0x89, 'Z', 0, 0}));
  // Upper case that grows in bytes (U+0250 -> U+2C6F) is cut at a character.
  EXPECT_EQ(Encode(kFieldString, 4, {'a', 0xC9, 0x90, 0}, english), (Bytes{'A', 0, 0, 0}));
}

class KeyBuildTest : public ::testing::Test {
 protected:
  TFieldDefinitions fields = LaidOut({Field("Name", kFieldString, 3), Field("N", kFieldInt32),
                                      Field("Id", kFieldInt32, 0, kSubtypeAutoIncrement)});
  std::vector<TKeyField> KeyFields(bool nameDescending) {
    std::vector<TKeyField> k(2);
    k[0] = {kFieldString, fields[0].StorageSize(), fields[0].Offset(), false, nameDescending};
    k[1] = {kFieldInt32, 4, kRecordAutoIncOffset, true, false};
    return k;
  }
  Bytes KeyOf(const TKeyLayout& layout, const std::string& name, std::int32_t autoInc = 7,
              bool null = false) {
    RecordBuilder r(fields);
    r.AutoInc(autoInc);
    if (null) {
      r.Null(1);
    } else {
      r.Str(1, name);
    }
    return layout.BuildKey(r.Bytes().data(), r.Bytes().size());
  }
};

TEST_F(KeyBuildTest, NullsAutoIncrementAndSuffix) {
  const TKeyLayout unique(KeyFields(false), true, false, false, 0, 0);
  EXPECT_EQ(unique.KeyLength(), 5 + 5);
  EXPECT_EQ(KeyOf(unique, "ab"), (Bytes{1, 'a', 'b', 0, 0, 1, 0x80, 0, 0, 7}));
  EXPECT_EQ(KeyOf(unique, "", 7, true), (Bytes{0, 0, 0, 0, 0, 1, 0x80, 0, 0, 7}));
  EXPECT_LT(unique.Compare(KeyOf(unique, "", 7, true).data(), KeyOf(unique, "a").data()), 0);
  const TKeyLayout nonUnique(KeyFields(false), false, false, false, 0, 0);
  EXPECT_EQ(nonUnique.KeyLength(), 14);
  const Bytes k = KeyOf(nonUnique, "ab", -1);
  EXPECT_EQ(Bytes(k.end() - 4, k.end()), (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
  // The system index: status byte and auto-increment value.
  const TKeyLayout system = TKeyLayout::SystemIndex();
  RecordBuilder r(fields);
  r.AutoInc(3);
  Bytes rec = r.Bytes();
  rec[0] = kRecordDeleted;
  EXPECT_EQ(system.BuildKey(rec.data(), rec.size()), (Bytes{1, 0x80, 0, 0, 3}));
}

TEST_F(KeyBuildTest, DescendingFieldUnderLanguageZeroIsInverted) {
  const TKeyLayout layout(KeyFields(true), true, false, false, 0, 0);
  // Flag and the characters inverted, the terminator byte kept.
  const Bytes ab = KeyOf(layout, "ab");
  EXPECT_EQ(Bytes(ab.begin(), ab.begin() + 5), (Bytes{0xFE, 0x9E, 0x9D, 0xFF, 0x00}));
  EXPECT_GT(layout.Compare(KeyOf(layout, "a").data(), KeyOf(layout, "b").data()), 0);
  // A null comes last in descending order.
  EXPECT_GT(layout.Compare(KeyOf(layout, "", 7, true).data(), KeyOf(layout, "a").data()), 0);
  // A descending index is stored plainly and compared in reverse.
  const TKeyLayout desc(KeyFields(true), true, true, false, 0, 0);
  EXPECT_EQ(KeyOf(desc, "ab")[1], 'a');
  EXPECT_GT(desc.Compare(KeyOf(desc, "a").data(), KeyOf(desc, "b").data()), 0);
}

TEST_F(KeyBuildTest, CaseInsensitiveKeysAreEqual) {
  const TKeyLayout nocase(KeyFields(false), true, false, true, 0, 0);
  const TKeyLayout cased(KeyFields(false), true, false, false, 0, 0);
  EXPECT_EQ(KeyOf(nocase, "aBc"), KeyOf(nocase, "AbC"));
  EXPECT_NE(KeyOf(cased, "aBc"), KeyOf(cased, "AbC"));
  const TKeyLayout germanNocase(KeyFields(false), true, false, true, 0x0407, 0);
  EXPECT_EQ(
      germanNocase.Compare(KeyOf(germanNocase, "abc").data(), KeyOf(germanNocase, "ABC").data()),
      0);
}

TEST_F(KeyBuildTest, LocaleComparisonFieldByField) {
  const TKeyLayout german(KeyFields(false), true, false, false, 0x0407, 0);
  const TKeyLayout phoneBook(KeyFields(false), true, false, false, 0x0407, 1);
  const TKeyLayout bytewise(KeyFields(false), true, false, false, 0, 0);
  auto order = [&](const TKeyLayout& l, const std::string& a, const std::string& b) {
    return l.Compare(KeyOf(l, a).data(), KeyOf(l, b).data());
  };
  EXPECT_LT(order(bytewise, "B", "a"), 0);  // bytes: upper case first
  EXPECT_GT(order(german, "B", "a"), 0);    // locale: letters first
  EXPECT_LT(order(german, "a", "A"), 0);    // case still counts
  // Accents are ignored ("\xC3\xA4" is a with umlaut, two bytes of the 3-byte slot).
  EXPECT_EQ(order(german, "\xC3\xA4", "a"), 0);
  EXPECT_LT(order(phoneBook, "\xC3\xA4", "af"), 0);  // phone book: ae
  // Equal strings fall through to the next field.
  EXPECT_LT(german.Compare(KeyOf(german, "x", 1).data(), KeyOf(german, "x", 2).data()), 0);
  // A descending field reverses only that field under a locale.
  const TKeyLayout germanDesc(KeyFields(true), true, false, false, 0x0407, 0);
  EXPECT_GT(order(germanDesc, "a", "b"), 0);
  EXPECT_EQ(KeyOf(germanDesc, "a")[1], 'a');  // not inverted
}

// A field runs descending when its index or the field itself is descending,
// both together included, in the bytewise order of language 0 and under a
// locale alike.
TEST_F(KeyBuildTest, DescendingIndexAndFieldAgreeBytewiseAndUnderALocale) {
  const struct {
    bool index, field;
    int aBeforeB;  // sign of Compare("a", "b")
  } cases[] = {{false, false, -1}, {false, true, 1}, {true, false, 1}, {true, true, 1}};
  for (const auto& k : cases) {
    for (std::uint16_t language : {std::uint16_t{0}, std::uint16_t{0x0409}}) {
      SCOPED_TRACE(std::to_string(k.index) + std::to_string(k.field) + " language " +
                   std::to_string(language));
      const TKeyLayout layout(KeyFields(k.field), true, k.index, false, language, 0);
      const int order = layout.Compare(KeyOf(layout, "a").data(), KeyOf(layout, "b").data());
      EXPECT_EQ(order > 0 ? 1 : (order < 0 ? -1 : 0), k.aBeforeB);
      // The bounds are the ends in that order.
      Bytes low(static_cast<std::size_t>(layout.KeyLength()));
      Bytes high(low.size());
      layout.LowestKey(low.data());
      layout.HighestKey(high.data());
      for (const char* name : {"a", "b", "zz"}) {
        EXPECT_LT(layout.Compare(low.data(), KeyOf(layout, name).data()), 0) << name;
        EXPECT_GT(layout.Compare(high.data(), KeyOf(layout, name).data()), 0) << name;
      }
      // A key completed from its null flag covers every non-NULL name.
      Bytes from = KeyOf(layout, "a");
      Bytes to = from;
      layout.CompleteKey(from.data(), 1, false);
      layout.CompleteKey(to.data(), 1, true);
      EXPECT_LE(layout.Compare(from.data(), KeyOf(layout, "zz").data()), 0);
      EXPECT_GE(layout.Compare(to.data(), KeyOf(layout, "zz").data()), 0);
    }
  }
}

TEST_F(KeyBuildTest, BoundsSuccessorAndPredecessor) {
  const TKeyLayout plain(KeyFields(false), false, false, false, 0, 0);
  Bytes low(plain.KeyLength()), high(plain.KeyLength());
  plain.LowestKey(low.data());
  plain.HighestKey(high.data());
  EXPECT_EQ(low, Bytes(14, 0x00));
  EXPECT_EQ(high, Bytes(14, 0xFF));

  const TKeyLayout german(KeyFields(false), false, false, false, 0x0407, 0);
  const auto map = TLanguageCharMapsList::Instance().GetMap(0x0407, 0);
  german.HighestKey(high.data());
  const std::uint8_t top = map->Largest();
  EXPECT_EQ(high,
            (Bytes{1, top, top, top, top, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  german.LowestKey(low.data());
  EXPECT_EQ(low[1], map->Smallest());
  EXPECT_EQ(low[0], 0);
  // Completing from byte 2 keeps the first two bytes.
  Bytes partial = {1, 'k', 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  german.CompleteKey(partial.data(), 2, false);
  EXPECT_EQ(partial, (Bytes{1, 'k', map->Smallest(), map->Smallest(), map->Smallest(), 0, 0, 0, 0,
                            0, 0, 0, 0, 0}));

  Bytes key = {1, 'a', 'b'};
  EXPECT_TRUE(plain.Successor(key.data(), 3));
  EXPECT_EQ(key, (Bytes{1, 'a', 'c'}));
  key = {1, 'a', 0xFF};
  EXPECT_TRUE(plain.Successor(key.data(), 3));
  EXPECT_EQ(key, (Bytes{1, 'b', 0x00}));
  EXPECT_TRUE(plain.Predecessor(key.data(), 3));
  EXPECT_EQ(key, (Bytes{1, 'a', 0xFF}));
  key = {0xFF, 0xFF};
  EXPECT_FALSE(plain.Successor(key.data(), 2));
  EXPECT_EQ(key, (Bytes{0xFF, 0xFF}));
  // Under a locale a string byte steps to its neighbour in the collation.
  key = {1, 'a'};
  std::uint8_t next = 0;
  ASSERT_TRUE(map->Next('a', next));
  EXPECT_TRUE(german.Successor(key.data(), 2));
  EXPECT_EQ(key[1], next);
  EXPECT_TRUE(german.Predecessor(key.data(), 2));
  EXPECT_EQ(key[1], 'a');
}

TEST(CharOrderMaps, IdentityForLanguageZeroAndCollationOrderOtherwise) {
  auto& list = TLanguageCharMapsList::Instance();
  const auto plain = list.GetMap(0, 0);
  for (int c = 0; c < 256; ++c) ASSERT_EQ(plain->Order()[static_cast<std::size_t>(c)], c);
  std::uint8_t n = 0;
  EXPECT_FALSE(plain->Next(0xFF, n));
  EXPECT_FALSE(plain->Prior(0x00, n));

  const auto german = list.GetMap(0x0407, 0);
  EXPECT_EQ(list.GetMap(0x0407, 0), german);  // built once
  EXPECT_LT(german->Rank('9'), german->Rank('a'));
  EXPECT_LT(german->Rank('a'), german->Rank('A'));
  EXPECT_LT(german->Rank('A'), german->Rank('b'));
  EXPECT_LT(german->Rank('Z'), german->Rank(0xC3));  // a lone non-ASCII byte sorts high
  // The map is a permutation.
  std::vector<int> seen(256, 0);
  for (std::uint8_t c : german->Order()) ++seen[c];
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 256);
}

}  // namespace
}  // namespace engine_test
