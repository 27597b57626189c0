// Key building, value encodings, collation and key bounds: see index_keys.h.
#include "engine/storage/index_keys.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/errors.h"
#include "engine/storage/data_file_bytes.h"
#include "platform/locale.h"

namespace engine {
namespace {

constexpr std::uint8_t kTopBit = 0x80;
constexpr std::uint8_t kNullFlagValue = 1;  // the field has a value
constexpr std::uint32_t kCollationFlags = platform::kNormIgnoreNonSpace | platform::kSortStringSort;

void PutBigEndian(std::uint64_t value, int size, std::uint8_t* out) {
  for (int i = size - 1; i >= 0; --i) {
    out[i] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
}

std::uint64_t GetLittleEndian(const std::uint8_t* in, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

// Cuts a UTF-8 string to at most `limit` bytes without splitting a character.
std::size_t CutAtCharacter(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<std::uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

int Sign(int value) {
  return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, int length) {
  return length <= 0 ? 0 : Sign(std::memcmp(a, b, static_cast<std::size_t>(length)));
}

int BoundedLength(const std::uint8_t* text, int limit) {
  const void* zero = std::memchr(text, 0, static_cast<std::size_t>(limit));
  return zero != nullptr ? static_cast<int>(static_cast<const std::uint8_t*>(zero) - text) : limit;
}

}  // namespace

void EncodeInt32Key(std::int32_t value, std::uint8_t* out) {
  PutBigEndian(static_cast<std::uint32_t>(value), 4, out);
  out[0] ^= kTopBit;
}

void EncodeKeyValue(std::uint8_t type, std::uint16_t storageSize, const std::uint8_t* stored,
                    std::uint8_t* out, std::uint32_t upperCaseLcid) {
  std::memset(out, 0, storageSize);
  switch (type) {
    case kFieldString: {
      if (storageSize == 0) return;
      // The characters up to the terminator; the last byte always stays 0.
      const int length = BoundedLength(stored, storageSize - 1);
      if (upperCaseLcid == 0) {
        std::memcpy(out, stored, static_cast<std::size_t>(length));
        return;
      }
      const std::string upper =
          platform::LCMapStringA(upperCaseLcid, platform::kLcmapUppercase,
                                 std::string_view(reinterpret_cast<const char*>(stored),
                                                  static_cast<std::size_t>(length)));
      std::memcpy(out, upper.data(), CutAtCharacter(upper, storageSize - 1u));
      return;
    }
    case kFieldDate:
    case kFieldInt32:
    case kFieldTime:
      if (storageSize < 4) break;
      PutBigEndian(GetLittleEndian(stored, 4), 4, out);
      out[0] ^= kTopBit;
      return;
    case kFieldInt16:
      if (storageSize < 2) break;
      PutBigEndian(GetLittleEndian(stored, 2), 2, out);
      out[0] ^= kTopBit;
      return;
    case kFieldBoolean:
    case kFieldUInt16:
      if (storageSize < 2) break;
      PutBigEndian(GetLittleEndian(stored, 2), 2, out);
      return;
    case kFieldFloat:
    case kFieldTimestamp: {
      if (storageSize < 8) break;
      std::uint64_t bits = GetLittleEndian(stored, 8);
      const bool negative = (bits >> 63) != 0 && (bits << 1) != 0;  // -0.0 counts as >= 0
      bits = negative ? ~bits : (bits | (std::uint64_t{1} << 63));
      PutBigEndian(bits, 8, out);
      return;
    }
    case kFieldBcd:
      if (storageSize < 8) break;
      PutBigEndian(GetLittleEndian(stored, 8), 8, out);
      out[0] ^= kTopBit;
      return;
    default:
      break;
  }
  // Bytes, unsigned 32-bit, extended floats, variable bytes, unknown types,
  // and any slot too small for its type: the stored bytes unchanged.
  std::memcpy(out, stored, storageSize);
}

TKeyLayout::TKeyLayout(std::vector<TKeyField> fields, bool unique, bool descending,
                       bool caseInsensitive, std::uint16_t languageId, std::uint16_t sortId)
    : FFields(std::move(fields)),
      FUnique(unique),
      FDescending(descending),
      FCaseInsensitive(caseInsensitive),
      FLanguageId(languageId),
      FSortId(sortId) {
  Init();
}

void TKeyLayout::Init() {
  FRoles.clear();
  for (const TKeyField& field : FFields) {
    FRoles.push_back(TKeyByteRole::NullFlag);
    const TKeyByteRole role =
        field.type == kFieldString ? TKeyByteRole::StringValue : TKeyByteRole::OtherValue;
    FRoles.insert(FRoles.end(), field.storageSize, role);
  }
  if (FSystem) {
    FRoles.assign(static_cast<std::size_t>(kSystemKeyLength), TKeyByteRole::OtherValue);
  } else if (!FUnique) {
    FRoles.insert(FRoles.end(), kNonUniqueSuffixSize, TKeyByteRole::Suffix);
  }
  FKeyLength = static_cast<int>(FRoles.size());
  FCharMap = TLanguageCharMapsList::Instance().GetMap(UsesCollation() ? FLanguageId : 0,
                                                      UsesCollation() ? FSortId : 0);
  InitReversed();
}

TKeyLayout TKeyLayout::SystemIndex() {
  TKeyLayout layout;
  layout.FSystem = true;
  layout.FUnique = true;
  layout.Init();
  return layout;
}

TKeyLayout TKeyLayout::ForDescriptor(const TIndexDescriptor& descriptor, int slot,
                                     const TFieldDefinitions& fields, std::uint16_t languageId,
                                     std::uint16_t sortId, std::string_view tableName) {
  if (slot == kSystemSlot) return SystemIndex();
  const int count = descriptor.FieldCount();
  if (count > kMaxKeyFields) RaiseEngineError(kErrHeaderCorrupt, tableName);
  std::vector<TKeyField> keyFields;
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    const int number = descriptor.FieldNumber(i);
    if (number < 1 || static_cast<std::size_t>(number) > fields.size()) {
      RaiseEngineError(kErrHeaderCorrupt, tableName);
    }
    const TFieldDefinition& definition = fields[static_cast<std::size_t>(number - 1)];
    if (definition.Type() == kFieldBlob) {
      RaiseEngineError(kErrInvalidIndexFieldType, tableName, {}, {},
                       slot == kPrimarySlot ? "Primary" : descriptor.Name());
    }
    TKeyField field;
    field.type = definition.Type();
    field.storageSize = definition.StorageSize();
    field.autoIncrement = definition.IsAutoIncrement();
    field.recordOffset = field.autoIncrement ? kRecordAutoIncOffset : definition.Offset();
    field.descending = descriptor.FieldDescending(i);
    sum += field.storageSize + 1;
    keyFields.push_back(field);
  }
  if (sum > kMaxKeyFieldBytes || (sum == 0 && count > 0)) {
    RaiseEngineError(kErrInvalidKeySize, tableName, {}, {}, descriptor.Name());
  }
  return TKeyLayout(std::move(keyFields), slot == kPrimarySlot || descriptor.Unique(),
                    descriptor.Descending(), descriptor.CaseInsensitive(), languageId, sortId);
}

void TKeyLayout::BuildKey(const std::uint8_t* record, std::size_t recordSize,
                          std::uint8_t* key) const {
  std::memset(key, 0, static_cast<std::size_t>(FKeyLength));
  auto autoIncrementOf = [&]() -> std::int32_t {
    if (recordSize < kRecordAutoIncOffset + 4u) RaiseEngineError(kErrRecordBufferCorrupt);
    return bytes::GetI32(record + kRecordAutoIncOffset);
  };
  if (FSystem) {
    if (recordSize < 1) RaiseEngineError(kErrRecordBufferCorrupt);
    key[0] = record[kRecordStatusOffset];
    EncodeInt32Key(autoIncrementOf(), key + 1);
    return;
  }
  const std::uint32_t upperLcid =
      FCaseInsensitive
          ? platform::MakeLcid(FLanguageId != 0 ? FLanguageId : platform::kLangEnglishUsa,
                               FLanguageId != 0 ? FSortId : 0)
          : 0;
  std::size_t at = 0;
  for (const TKeyField& field : FFields) {
    std::uint8_t* out = key + at;
    if (field.autoIncrement) {
      out[0] = kNullFlagValue;
      std::uint8_t stored[4];
      bytes::PutI32(stored, autoIncrementOf());
      EncodeKeyValue(kFieldInt32, std::min<std::uint16_t>(field.storageSize, 4), stored, out + 1,
                     0);
    } else {
      if (field.recordOffset + 1u + field.storageSize > recordSize) {
        RaiseEngineError(kErrRecordBufferCorrupt);
      }
      const std::uint8_t* slot = record + field.recordOffset;
      out[0] = slot[0] != 0 ? kNullFlagValue : 0;
      if (out[0] != 0) EncodeKeyValue(field.type, field.storageSize, slot + 1, out + 1, upperLcid);
    }
    // Byte order: a descending field is stored inverted (its null flag too;
    // for a string every byte but the terminator). In a descending index the
    // whole comparison is reversed instead, which already makes the field
    // descending; inverting it as well would make it ascending again.
    if (FLanguageId == 0 && field.descending && !FDescending) {
      std::size_t inverted = 1u + field.storageSize;
      if (field.type == kFieldString && field.storageSize > 0) --inverted;
      for (std::size_t i = 0; i < inverted; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    }
    at += 1u + field.storageSize;
  }
  if (!FUnique) EncodeInt32Key(autoIncrementOf(), key + at);
}

std::vector<std::uint8_t> TKeyLayout::BuildKey(const std::uint8_t* record,
                                               std::size_t recordSize) const {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FKeyLength));
  BuildKey(record, recordSize, key.data());
  return key;
}

int TKeyLayout::Compare(const std::uint8_t* a, const std::uint8_t* b, int length) const {
  length = std::min(length, FKeyLength);
  if (!UsesCollation()) {
    const int order = CompareBytes(a, b, length);
    return FDescending ? -order : order;
  }
  const platform::Lcid lcid = platform::MakeLcid(FLanguageId, FSortId);
  int at = 0;
  for (const TKeyField& field : FFields) {
    if (at >= length) return 0;
    const int fieldLength = 1 + field.storageSize;
    int order;
    if (field.type == kFieldString) {
      order = Sign(static_cast<int>(a[at]) - static_cast<int>(b[at]));
      const int chars = std::min<int>(field.storageSize, length - at - 1);
      if (order == 0 && chars > 0) {
        const auto* textA = a + at + 1;
        const auto* textB = b + at + 1;
        const int result = platform::CompareStringA(
            lcid, kCollationFlags, reinterpret_cast<const char*>(textA),
            BoundedLength(textA, chars), reinterpret_cast<const char*>(textB),
            BoundedLength(textB, chars));
        order = result == platform::kCstrLessThan      ? -1
                : result == platform::kCstrGreaterThan ? 1
                : result == platform::kCstrEqual       ? 0
                                                       : CompareBytes(textA, textB, chars);
      }
    } else {
      order = CompareBytes(a + at, b + at, std::min(fieldLength, length - at));
    }
    // Reversed when the index or the field is descending, as the bytewise
    // order of language 0 does (see BuildKey).
    if (order != 0) return (FDescending || field.descending) ? -order : order;
    at += fieldLength;
  }
  const int order = CompareBytes(a + at, b + at, length - at);
  return FDescending ? -order : order;
}

void TKeyLayout::InitReversed() {
  FReversed.assign(static_cast<std::size_t>(FKeyLength), FDescending);
  if (!UsesCollation()) return;  // bytewise: descending fields are stored inverted
  std::size_t at = 0;
  for (const TKeyField& field : FFields) {
    const std::size_t end = std::min(FReversed.size(), at + 1u + field.storageSize);
    for (; at < end; ++at) FReversed[at] = FDescending || field.descending;
  }
}

void TKeyLayout::CompleteKey(std::uint8_t* key, int from, bool high) const {
  const bool collated = UsesCollation();
  for (int i = std::max(from, 0); i < FKeyLength; ++i) {
    const TKeyByteRole role = FRoles[static_cast<std::size_t>(i)];
    // The byte's largest value is the highest in index order unless the byte
    // compares in reverse (a descending index or field).
    const bool largest = high != static_cast<bool>(FReversed[static_cast<std::size_t>(i)]);
    if (!collated) {
      key[i] = largest ? 0xFF : 0x00;
    } else if (role == TKeyByteRole::NullFlag) {
      key[i] = largest ? 1 : 0;
    } else if (role == TKeyByteRole::StringValue) {
      key[i] = largest ? FCharMap->Largest() : FCharMap->Smallest();
    } else {
      key[i] = largest ? 0xFF : 0x00;
    }
  }
}

bool TKeyLayout::StepByte(std::uint8_t* key, int length, bool forward) const {
  length = std::min(length, FKeyLength);
  const bool collated = UsesCollation();
  std::vector<std::uint8_t> saved(key, key + std::max(length, 0));
  for (int i = length - 1; i >= 0; --i) {
    // A step forward in index order raises the byte's value unless the byte
    // compares in reverse.
    const bool up = forward != static_cast<bool>(FReversed[static_cast<std::size_t>(i)]);
    const bool viaMap =
        collated && FRoles[static_cast<std::size_t>(i)] == TKeyByteRole::StringValue;
    std::uint8_t stepped = 0;
    if (viaMap) {
      if (up ? FCharMap->Next(key[i], stepped) : FCharMap->Prior(key[i], stepped)) {
        key[i] = stepped;
        return true;
      }
      key[i] = up ? FCharMap->Smallest() : FCharMap->Largest();  // carry
    } else {
      if (up ? key[i] != 0xFF : key[i] != 0x00) {
        key[i] = static_cast<std::uint8_t>(up ? key[i] + 1 : key[i] - 1);
        return true;
      }
      key[i] = up ? 0x00 : 0xFF;  // carry
    }
  }
  std::copy(saved.begin(), saved.end(), key);
  return false;
}

bool TKeyLayout::Successor(std::uint8_t* key, int length) const {
  return StepByte(key, length, true);
}
bool TKeyLayout::Predecessor(std::uint8_t* key, int length) const {
  return StepByte(key, length, false);
}

int KeyLengthFor(const TIndexDefinition& definition, const TFieldDefinitions& fields,
                 std::string_view tableName, std::string_view indexName, bool allowEmpty) {
  if (definition.fieldNumbers.size() > static_cast<std::size_t>(kMaxKeyFields)) {
    RaiseEngineError(kErrIndexLimits, tableName);
  }
  int sum = 0;
  for (std::int16_t number : definition.fieldNumbers) {
    if (number < 1 || static_cast<std::size_t>(number) > fields.size()) {
      RaiseEngineError(kErrInvalidIndexField, tableName, std::to_string(number), {}, indexName);
    }
    const TFieldDefinition& field = fields[static_cast<std::size_t>(number - 1)];
    if (field.Type() == kFieldBlob) {
      RaiseEngineError(kErrInvalidIndexFieldType, tableName, {}, {}, indexName);
    }
    sum += field.StorageSize() + 1;
  }
  if (sum > kMaxKeyFieldBytes || (sum == 0 && !allowEmpty)) {
    RaiseEngineError(kErrInvalidKeySize, tableName, {}, {}, indexName);
  }
  if (sum == 0) return 0;
  return sum + (definition.unique ? 0 : kNonUniqueSuffixSize);
}

}  // namespace engine
