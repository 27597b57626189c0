// Index keys: how a key is built from a record, how keys compare under a
// table's collation, and the key bounds that range searches use.
//
// Key format. For each key field in order: its null-flag byte (1 = value, 0 =
// null) and its value encoded over the field's storage size; a non-unique
// index appends the record's auto-increment value as a 4-byte key, so every key
// of such an index is distinct. A null field's value bytes are zero.
//
// Value encodings (big-endian, so that byte order is value order):
//   type                         encoding
//   1 string                     the characters, zero-padded; upper-cased first
//                                for a case-insensitive index
//   2 date, 6 int32, 10 time     4 bytes big-endian, top bit inverted
//   5 int16                      2 bytes big-endian, top bit inverted
//   4 boolean, 12 uint16         2 bytes big-endian
//   7 float, 11 timestamp        the double big-endian; top bit set for a value
//                                >= 0, every bit inverted for a negative value
//   8 BCD                        the stored int64 big-endian, top bit inverted
//   9, 13, 14, 15 and above      the stored bytes unchanged
//   3 BLOB                       not allowed in a key (12292)
// Example: the int32 1 encodes as 80 00 00 01 and -1 as 7F FF FF FF.
//
// Descending fields. With language 0 a field that is descending on its own
// (the index itself ascending) is stored inverted: its null flag and value
// bytes, for a string every byte but the last. Then bytewise order is the
// wanted order. With another language nothing is inverted; the comparison
// reverses that field's result instead.
//
// Comparison. In the system index and with language 0: bytewise over the
// whole key, reversed for a descending index. Otherwise field by field: a
// string field compares its null flag bytewise and then its characters with
// the locale comparison (string sort, non-spacing marks ignored); any other
// field compares bytewise; a field's result is reversed when the index or the
// field is descending. Bytes after the last field (the suffix) compare bytewise,
// reversed for a descending index. Both ways a field runs descending when the
// index or the field is descending (both together do not cancel out).
//
// Bounds. Lowest, highest, completion and stepping work in index order: in a
// byte that compares in reverse (every byte of a descending index; under a
// locale, the bytes of a descending field) the lowest key holds the largest
// value. Example: the lowest key of a descending INTEGER index under language
// 0 is FF FF FF FF FF, and its highest 00 00 00 00 00.
//
// Invariants: a key is exactly KeyLength() bytes; Compare is a total order
// consistent with the B-tree's order; building never reads outside the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/storage/char_order.h"
#include "engine/storage/field_defs.h"
#include "engine/storage/index_format.h"

namespace engine {

// One key field: where its slot lies in the record and how it encodes.
struct TKeyField {
  std::uint8_t type = kFieldString;
  std::uint16_t storageSize = 0;   // value bytes, without the null flag
  std::uint16_t recordOffset = 0;  // the null-flag byte's offset in the record
  bool autoIncrement = false;      // no slot: the value is the int32 at record offset 5
  bool descending = false;         // the field's own descending flag
};

// The role of each key byte, used to complete keys and to step between them.
enum class TKeyByteRole : std::uint8_t { NullFlag, StringValue, OtherValue, Suffix };

// Everything needed to build and compare the keys of one index.
class TKeyLayout {
 public:
  TKeyLayout() = default;
  // A layout from explicit fields. `languageId` 0 means byte order.
  TKeyLayout(std::vector<TKeyField> fields, bool unique, bool descending, bool caseInsensitive,
             std::uint16_t languageId, std::uint16_t sortId);

  // The layout of descriptor slot `slot` over a table's field definitions.
  // Raises 12292 for a BLOB field, 10026 for a bad key size and 8961 for a
  // field number that names no field (a corrupt descriptor).
  static TKeyLayout ForDescriptor(const TIndexDescriptor& descriptor, int slot,
                                  const TFieldDefinitions& fields, std::uint16_t languageId,
                                  std::uint16_t sortId, std::string_view tableName = {});
  // The system index: status byte + auto-increment key, bytewise.
  static TKeyLayout SystemIndex();

  int KeyLength() const { return FKeyLength; }
  bool Unique() const { return FUnique; }
  bool Descending() const { return FDescending; }
  bool CaseInsensitive() const { return FCaseInsensitive; }
  bool IsSystem() const { return FSystem; }
  std::uint16_t LanguageId() const { return FLanguageId; }
  std::uint16_t SortId() const { return FSortId; }
  // Whether keys order by their bytes (reversed when Descending()), with no
  // collation.
  bool Bytewise() const { return !UsesCollation(); }
  const std::vector<TKeyField>& Fields() const { return FFields; }
  TKeyByteRole Role(int position) const { return FRoles[static_cast<std::size_t>(position)]; }

  // Builds the key of a record (R bytes) into `key` (KeyLength() bytes).
  void BuildKey(const std::uint8_t* record, std::size_t recordSize, std::uint8_t* key) const;
  std::vector<std::uint8_t> BuildKey(const std::uint8_t* record, std::size_t recordSize) const;

  // Orders key `a` against key `b` over their first `length` bytes (at most
  // KeyLength()): negative, zero or positive.
  int Compare(const std::uint8_t* a, const std::uint8_t* b, int length) const;
  int Compare(const std::uint8_t* a, const std::uint8_t* b) const {
    return Compare(a, b, FKeyLength);
  }

  // The lowest and highest possible keys, and completion of a partial key
  // from byte `from` on with the lowest (high = false) or highest values.
  void LowestKey(std::uint8_t* key) const { CompleteKey(key, 0, false); }
  void HighestKey(std::uint8_t* key) const { CompleteKey(key, 0, true); }
  void CompleteKey(std::uint8_t* key, int from, bool high) const;
  // Steps the key's byte `length - 1` to the next (previous) character or
  // value in index order, carrying into earlier bytes. False when no later
  // (earlier) key of that length exists; the key is then unchanged.
  bool Successor(std::uint8_t* key, int length) const;
  bool Predecessor(std::uint8_t* key, int length) const;

 private:
  void Init();
  bool UsesCollation() const { return FLanguageId != 0 && !FSystem; }
  bool StepByte(std::uint8_t* key, int length, bool forward) const;
  void InitReversed();

  std::vector<TKeyField> FFields;
  std::vector<TKeyByteRole> FRoles;
  std::vector<bool> FReversed;  // per key byte: compares in reverse (index order)
  int FKeyLength = 0;
  bool FUnique = true;
  bool FDescending = false;
  bool FCaseInsensitive = false;
  bool FSystem = false;
  std::uint16_t FLanguageId = 0;
  std::uint16_t FSortId = 0;
  std::shared_ptr<const TCharOrderMap> FCharMap;  // the collation's character order
};

// Value encodings, usable on their own (the data file's sort uses them).
void EncodeInt32Key(std::int32_t value, std::uint8_t* out);
// Encodes one field value from its stored form (`stored`, storageSize bytes)
// into `out` (storageSize bytes). `upperCaseLcid` upper-cases strings when not 0.
void EncodeKeyValue(std::uint8_t type, std::uint16_t storageSize, const std::uint8_t* stored,
                    std::uint8_t* out, std::uint32_t upperCaseLcid);

// Sum of (storage size + 1) over the key fields of a definition, validating
// as a creator must: 9487 for more than 16 fields, 10023 for an unknown field
// number, 12292 for a BLOB field (reported with `indexName`), 10026 for a sum
// outside 1..524 (0 allowed when `allowEmpty`). Returns the key length,
// including the suffix for a non-unique index.
int KeyLengthFor(const TIndexDefinition& definition, const TFieldDefinitions& fields,
                 std::string_view tableName, std::string_view indexName, bool allowEmpty);

}  // namespace engine
