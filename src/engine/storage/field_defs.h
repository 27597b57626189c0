// Field definitions of a table: the 768-byte definition record stored in the
// data file, the field type codes, their storage sizes, and the layout and
// checks of a set of definitions.
//
// A definition is kept exactly as stored (TFieldDefinition wraps the 768
// bytes), so that copying, writing and enciphering it are plain byte moves.
// Layout of one definition (integers little-endian; "counted" = one length
// byte, then the characters, the rest of the area zero):
//
//   offset size  meaning
//      0     2   field number (int16), equal to the 1-based position
//      2    31   name, counted, 1..30 characters
//     33    51   description, counted, up to 50 characters
//     84     1   field type (kField... below)
//     85     1   subtype (kSubtype... below)
//     86     1   declared size: 1..250 for string, bytes, variable bytes; else 0
//     87     1   scale: decimals of a BCD field; else 0
//     88     1   storage size (computed)
//     89     1   effective scale (computed, a copy of offset 87)
//     90     2   offset of the field's slot in the record (uint16, computed)
//     92     1   required (NOT NULL)
//     93     1   character case on write: 0 unchanged, 1 lower, 2 upper
//     94    51   minimum value as text, counted
//    145    51   maximum value as text, counted
//    196    51   default value as text, counted
//    247     1   not stored: the field has no slot (helper fields of SQL results)
//    252     1   hidden: left out by the dataset components
//    253     1   descending: used only by the physical sort
//   other        zero
//
// Record layout built from the definitions: byte 0 status, 1..4 record number
// or free-chain link, 5..8 auto-increment value, then one slot per stored field
// in field order: a null-flag byte (1 = value present) and storage-size bytes.
// An auto-increment field (type 6, subtype 29) has no slot; its offset is 5.
// A not-stored field has no slot either; its offset is the running offset at
// its place, which it does not advance. Record size R = 9 + sum(storage + 1).
//
// Worked example (the backup catalog): FileName CHAR(250), FileTime INTEGER,
// isZip CHAR(1), Path CHAR(250), File BLOB give storage sizes 251, 4, 2, 251,
// 8, slot offsets 9, 261, 266, 269, 521 and R = 530.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Field type codes.
inline constexpr std::uint8_t kFieldInvalid = 0;
inline constexpr std::uint8_t kFieldString = 1;
inline constexpr std::uint8_t kFieldDate = 2;
inline constexpr std::uint8_t kFieldBlob = 3;
inline constexpr std::uint8_t kFieldBoolean = 4;
inline constexpr std::uint8_t kFieldInt16 = 5;
inline constexpr std::uint8_t kFieldInt32 = 6;
inline constexpr std::uint8_t kFieldFloat = 7;
inline constexpr std::uint8_t kFieldBcd = 8;
inline constexpr std::uint8_t kFieldBytes = 9;
inline constexpr std::uint8_t kFieldTime = 10;
inline constexpr std::uint8_t kFieldTimestamp = 11;
inline constexpr std::uint8_t kFieldUInt16 = 12;
inline constexpr std::uint8_t kFieldUInt32 = 13;
inline constexpr std::uint8_t kFieldExtended = 14;
inline constexpr std::uint8_t kFieldVarBytes = 15;

// Subtypes.
inline constexpr std::uint8_t kSubtypeMoney = 21;          // with type 7
inline constexpr std::uint8_t kSubtypeMemo = 22;           // with type 3
inline constexpr std::uint8_t kSubtypeBinary = 23;         // with type 3 (also 0, 25, 27)
inline constexpr std::uint8_t kSubtypeFormattedMemo = 24;  // with type 3
inline constexpr std::uint8_t kSubtypeGraphic = 26;        // with type 3
inline constexpr std::uint8_t kSubtypeTypedBinary = 28;    // with type 3
inline constexpr std::uint8_t kSubtypeAutoIncrement = 29;  // with type 6
inline constexpr std::uint8_t kSubtypeFixedChar = 31;      // with type 1
inline constexpr std::uint8_t kSubtypeWideString = 32;     // with type 1

inline constexpr std::size_t kFieldDefinitionSize = 768;  // bytes per stored definition
inline constexpr std::size_t kMaxFieldNameLength = 30;    // characters
inline constexpr std::size_t kMaxDescriptionLength = 50;  // characters (also value texts)
inline constexpr std::uint8_t kMaxDeclaredSize = 250;     // types 1, 9 and 15
inline constexpr std::uint16_t kMaxBcdScale = 4;          // last BCD digit holds the scale

// Record layout.
inline constexpr std::uint16_t kRecordStatusOffset = 0;   // uint8: 0 in use, 1 deleted
inline constexpr std::uint16_t kRecordLinkOffset = 1;     // int32: own number / free link
inline constexpr std::uint16_t kRecordAutoIncOffset = 5;  // int32: auto-increment value
inline constexpr std::uint16_t kFirstSlotOffset = 9;      // first field slot
inline constexpr std::uint8_t kRecordInUse = 0;
inline constexpr std::uint8_t kRecordDeleted = 1;

// One stored field definition: the 768 bytes with typed accessors.
class TFieldDefinition {
 public:
  // Byte offsets inside the definition.
  static constexpr std::size_t kNumber = 0, kName = 2, kDescription = 33, kType = 84, kSubtype = 85,
                               kSize = 86, kScale = 87, kStorage = 88, kEffectiveScale = 89,
                               kOffset = 90, kRequired = 92, kCase = 93, kMinimum = 94,
                               kMaximum = 145, kDefault = 196, kNotStored = 247, kHidden = 252,
                               kDescending = 253;

  TFieldDefinition() { bytes_.fill(0); }

  std::uint8_t* Bytes() { return bytes_.data(); }
  const std::uint8_t* Bytes() const { return bytes_.data(); }

  std::int16_t Number() const;
  void SetNumber(std::int16_t number);
  std::string Name() const { return GetCounted(kName, kMaxFieldNameLength); }
  void SetName(std::string_view name) { SetCounted(kName, kMaxFieldNameLength, name); }
  std::string Description() const { return GetCounted(kDescription, kMaxDescriptionLength); }
  void SetDescription(std::string_view text) {
    SetCounted(kDescription, kMaxDescriptionLength, text);
  }
  std::uint8_t Type() const { return bytes_[kType]; }
  void SetType(std::uint8_t type) { bytes_[kType] = type; }
  std::uint8_t Subtype() const { return bytes_[kSubtype]; }
  void SetSubtype(std::uint8_t subtype) { bytes_[kSubtype] = subtype; }
  std::uint8_t Size() const { return bytes_[kSize]; }
  void SetSize(std::uint8_t size) { bytes_[kSize] = size; }
  std::uint8_t Scale() const { return bytes_[kScale]; }
  void SetScale(std::uint8_t scale) { bytes_[kScale] = scale; }
  std::uint8_t StorageSize() const { return bytes_[kStorage]; }
  std::uint8_t EffectiveScale() const { return bytes_[kEffectiveScale]; }
  std::uint16_t Offset() const;
  void SetOffset(std::uint16_t offset);
  bool Required() const { return bytes_[kRequired] != 0; }
  void SetRequired(bool required) { bytes_[kRequired] = required ? 1 : 0; }
  std::uint8_t CharCase() const { return bytes_[kCase]; }
  void SetCharCase(std::uint8_t charCase) { bytes_[kCase] = charCase; }
  std::string Minimum() const { return GetCounted(kMinimum, kMaxDescriptionLength); }
  void SetMinimum(std::string_view text) { SetCounted(kMinimum, kMaxDescriptionLength, text); }
  std::string Maximum() const { return GetCounted(kMaximum, kMaxDescriptionLength); }
  void SetMaximum(std::string_view text) { SetCounted(kMaximum, kMaxDescriptionLength, text); }
  std::string Default() const { return GetCounted(kDefault, kMaxDescriptionLength); }
  void SetDefault(std::string_view text) { SetCounted(kDefault, kMaxDescriptionLength, text); }
  bool NotStored() const { return bytes_[kNotStored] != 0; }
  void SetNotStored(bool value) { bytes_[kNotStored] = value ? 1 : 0; }
  bool Hidden() const { return bytes_[kHidden] != 0; }
  void SetHidden(bool value) { bytes_[kHidden] = value ? 1 : 0; }
  bool Descending() const { return bytes_[kDescending] != 0; }
  void SetDescending(bool value) { bytes_[kDescending] = value ? 1 : 0; }

  bool IsAutoIncrement() const {
    return Type() == kFieldInt32 && Subtype() == kSubtypeAutoIncrement;
  }
  // True when the field has a slot of its own in the record.
  bool HasSlot() const { return !IsAutoIncrement() && !NotStored(); }

  // Sets the computed storage size and effective scale from type, size and scale.
  void ComputeStorage();

 private:
  // Counted strings are read with the length byte clamped to the area, so a
  // corrupt length never reads past the definition.
  std::string GetCounted(std::size_t at, std::size_t maxLength) const;
  void SetCounted(std::size_t at, std::size_t maxLength, std::string_view text);

  std::array<std::uint8_t, kFieldDefinitionSize> bytes_;
};

using TFieldDefinitions = std::vector<TFieldDefinition>;

// Appends a field numbered one after the last (size: characters or bytes for
// the sized types, 0 otherwise) and answers it for further settings.
TFieldDefinition& AppendField(TFieldDefinitions& fields, std::string_view name, std::uint8_t type,
                              std::uint8_t size = 0);

// Storage size of a field in bytes (without the null-flag byte), by type and
// declared size. 0 for the invalid type 0.
std::uint32_t StorageSizeOf(std::uint8_t type, std::uint8_t declaredSize);

// True when `name` may name a field or index: starts with an ASCII letter,
// '_' or a byte from 129 to 254.
bool IsValidNameStart(std::string_view name);

// Decides whether a minimum, maximum or default text converts to the field's
// type. The table layer may install the conversions of the table's language;
// DefaultValueTextConverts is used otherwise.
using TValueTextCheck = std::function<bool(const TFieldDefinition&, std::string_view)>;
bool DefaultValueTextConverts(const TFieldDefinition& field, std::string_view text);
// Makes the check of a table's language and sort. The table layer owns the
// conversions and hands a maker down to the checks of stored definitions.
using TValueTextCheckMaker = TValueTextCheck (*)(std::uint16_t languageId, std::uint16_t sortId);

// Checks and lays out definitions for a new table, in place: names trimmed and
// validated (10038), numbers, types and sizes (10000), value texts (10006);
// size forced to 0 for types other than 1, 9, 15; scale forced to 0 except
// for BCD; storage sizes, effective scales and slot offsets computed.
// Returns the record size (which the caller refuses above 65535). Errors name
// `tableName`.
std::uint32_t LayOutDefinitions(TFieldDefinitions& fields, std::string_view tableName,
                                const TValueTextCheck& valueCheck = DefaultValueTextConverts);

// Verifies stored definitions as read from a data file, without changing
// them: every rule of LayOutDefinitions, plus that field i has number i and
// the stored storage size, effective scale and offset equal the recomputed
// ones, and that the resulting record size equals `recordSize`. Returns an
// empty string when they hold, otherwise a description of the first fault.
std::string VerifyDefinitions(const TFieldDefinitions& fields, std::uint32_t recordSize,
                              const TValueTextCheck& valueCheck = DefaultValueTextConverts);

}  // namespace engine
