// TDataCursor: field access on record buffers, default values and validity
// rules.
//
// A field's slot is a null-flag byte (1 = value present) followed by its
// storage-size bytes (field_defs.h). Strings written through PutString are cut
// to the declared size, lose their trailing blanks and take the field's
// character case in the table's locale; an empty result is NULL. An
// auto-increment field has no slot: its value is the int32 at record offset 5
// and it is never NULL.
//
// Default, minimum and maximum texts read as values of the field's type under
// the formats of the table's language (data_table_values.h), which are
// installed for the length of NewRecord and of each validity check. Defaults
// honour the keywords DATE, TIME and NOW; a boolean default other than TRUE or
// FALSE raises the conversion error "'<text>' is not a valid boolean value",
// and any other default that does not read raises 10006 naming the field.
//
// Validity (before every insert and modify, when some field has a rule): a
// required field that is NULL raises 9732; a value below the minimum 9730,
// above the maximum 9731. NULL counts as zero (the empty string for strings).
// Strings compare in the table's collation (language 0 byte by byte), every
// other type with a number form by value (dates as day numbers, times as
// milliseconds, BCD by its decimal value). A bound that does not read as a
// value of the field's type raises 10006 rather than letting every value
// pass unchecked.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "engine/errors.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_table_values.h"
#include "engine/values/collation.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"

namespace engine {
namespace {

constexpr std::uint8_t kCaseLower = 1, kCaseUpper = 2;

}  // namespace

void TDataCursor::CheckRecordSize(const TRecordBuffer& record) const {
  if (record.size() != FRecordSize || FRecordSize == 0)
    RaiseEngineError(kErrRecordBufferCorrupt, FName);
}

std::size_t TDataCursor::SlotOf(std::uint32_t field) const {
  if (field < 1 || field > FFields.size()) RaiseEngineError(kErrInvalidField, FName);
  const TFieldDefinition& f = FFields[field - 1];
  const std::size_t at = f.IsAutoIncrement() ? kRecordAutoIncOffset : f.Offset();
  if (f.NotStored() || at + f.StorageSize() + (f.IsAutoIncrement() ? 0u : 1u) > FRecordSize)
    RaiseEngineError(kErrInvalidField, FName, f.Name());
  return at;
}

bool TDataCursor::IsNull(const TRecordBuffer& record, std::uint32_t field) const {
  CheckRecordSize(record);
  const std::size_t at = SlotOf(field);
  if (FFields[field - 1].IsAutoIncrement()) return false;
  return record[at] == 0;
}

std::vector<std::uint8_t> TDataCursor::GetField(const TRecordBuffer& record,
                                                std::uint32_t field) const {
  CheckRecordSize(record);
  const std::size_t at = SlotOf(field);
  const TFieldDefinition& f = FFields[field - 1];
  if (f.IsAutoIncrement())
    return {record.begin() + kRecordAutoIncOffset, record.begin() + kRecordAutoIncOffset + 4};
  if (record[at] == 0) return {};
  return {record.begin() + static_cast<std::ptrdiff_t>(at + 1),
          record.begin() + static_cast<std::ptrdiff_t>(at + 1 + f.StorageSize())};
}

void TDataCursor::PutField(TRecordBuffer& record, std::uint32_t field, const void* data,
                           std::size_t size) {
  CheckRecordSize(record);
  const std::size_t at = SlotOf(field);
  const TFieldDefinition& f = FFields[field - 1];
  if (f.IsAutoIncrement()) {
    std::memcpy(record.data() + at, data, std::min<std::size_t>(size, 4));
    return;
  }
  std::uint8_t* slot = record.data() + at;
  std::memset(slot + 1, 0, f.StorageSize());
  std::memcpy(slot + 1, data, std::min<std::size_t>(size, f.StorageSize()));
  if (f.Type() == kFieldBoolean) {
    const bool any = std::any_of(slot + 1, slot + 1 + f.StorageSize(), [](auto b) { return b; });
    bytes::PutU16(slot + 1, any ? 1 : 0);
  }
  slot[0] = 1;
}

void TDataCursor::PutNull(TRecordBuffer& record, std::uint32_t field) {
  CheckRecordSize(record);
  const std::size_t at = SlotOf(field);
  const TFieldDefinition& f = FFields[field - 1];
  if (f.IsAutoIncrement()) return;  // never NULL
  std::memset(record.data() + at, 0, f.StorageSize() + 1u);
}

void TDataCursor::PutString(TRecordBuffer& record, std::uint32_t field, std::string_view text) {
  const TFieldDefinition& f = FFields.at(field - 1);
  if (f.Type() != kFieldString) {
    PutField(record, field, text.data(), text.size());
    return;
  }
  std::string_view value = text.substr(0, f.Size());
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  // Only a field of one letter case needs a converted copy.
  std::string converted;
  if (f.CharCase() == kCaseUpper || f.CharCase() == kCaseLower) {
    const Collation collation{FLanguageId, FSortId};
    converted = f.CharCase() == kCaseUpper ? collation.Upper(value) : collation.Lower(value);
    value = converted;
  }
  if (value.empty()) {
    PutNull(record, field);
    return;
  }
  PutField(record, field, value.data(), value.size());
}

std::string TDataCursor::GetString(const TRecordBuffer& record, std::uint32_t field) const {
  // GetField's bytes up to the first zero, taken from the record in place:
  // one allocation at most (none for a short value), not two of the field's
  // full size.
  CheckRecordSize(record);
  const std::size_t at = SlotOf(field);
  const TFieldDefinition& f = FFields[field - 1];
  const std::uint8_t* from = nullptr;
  std::size_t size = 0;
  if (f.IsAutoIncrement()) {
    from = record.data() + kRecordAutoIncOffset;
    size = 4;
  } else {
    if (record[at] == 0) return {};
    from = record.data() + at + 1;
    size = f.StorageSize();
  }
  const void* zero = std::memchr(from, 0, size);
  if (zero != nullptr)
    size = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - from);
  return std::string(reinterpret_cast<const char*>(from), size);
}

void TDataCursor::PutInteger(TRecordBuffer& record, std::uint32_t field, std::int64_t value) {
  const TFieldDefinition& f = FFields.at(field - 1);
  std::uint8_t raw[8] = {};
  switch (f.Type()) {
    case kFieldInt16:
    case kFieldBoolean:
    case kFieldUInt16:
      bytes::PutU16(raw, static_cast<std::uint16_t>(value));
      break;
    case kFieldBcd:
      PutDouble(record, field, static_cast<double>(value));
      return;
    case kFieldFloat:
    case kFieldTimestamp: {
      const double d = static_cast<double>(value);
      std::memcpy(raw, &d, sizeof d);
      break;
    }
    default:
      bytes::PutI32(raw, static_cast<std::int32_t>(value));
  }
  PutField(record, field, raw, sizeof raw);
}

std::int64_t TDataCursor::GetInteger(const TRecordBuffer& record, std::uint32_t field) const {
  const std::vector<std::uint8_t> b = GetField(record, field);
  if (b.empty()) return 0;
  switch (FFields.at(field - 1).Type()) {
    case kFieldInt16:
      return static_cast<std::int16_t>(bytes::GetU16(b.data()));
    case kFieldBoolean:
    case kFieldUInt16:
      return bytes::GetU16(b.data());
    case kFieldUInt32:
      return static_cast<std::uint32_t>(bytes::GetI32(b.data()));
    case kFieldFloat:
    case kFieldTimestamp:
    case kFieldBcd:
      return static_cast<std::int64_t>(GetDouble(record, field));
    default:
      return bytes::GetI32(b.data());
  }
}

void TDataCursor::PutDouble(TRecordBuffer& record, std::uint32_t field, double value) {
  const TFieldDefinition& f = FFields.at(field - 1);
  if (f.Type() == kFieldBcd) {
    // Rounded half away from zero on the value's shortest decimal form, so
    // 2.345 at scale 2 is 2.35 although its double lies just below.
    const std::optional<std::int64_t> stored = EncodeBcd(value, f.Scale());
    if (!stored) {
      throw EDatabaseError("The value " + std::to_string(value) + " does not fit the field '" +
                           f.Name() + "' in table '" + FName + "'");
    }
    std::uint8_t raw[8];
    bytes::PutI64(raw, *stored);
    PutField(record, field, raw, sizeof raw);
    return;
  }
  if (f.Type() != kFieldFloat && f.Type() != kFieldTimestamp) {
    PutInteger(record, field, static_cast<std::int64_t>(std::llround(value)));
    return;
  }
  PutField(record, field, &value, sizeof value);
}

double TDataCursor::GetDouble(const TRecordBuffer& record, std::uint32_t field) const {
  const TFieldDefinition& f = FFields.at(field - 1);
  const std::vector<std::uint8_t> b = GetField(record, field);
  if (b.empty()) return 0;
  if (f.Type() == kFieldFloat || f.Type() == kFieldTimestamp) {
    double d;
    std::memcpy(&d, b.data(), sizeof d);
    return d;
  }
  if (f.Type() == kFieldBcd) {
    return DecodeBcd(bytes::GetI64(b.data()));
  }
  return static_cast<double>(GetInteger(record, field));
}

void TDataCursor::PutBlob(TRecordBuffer& record, std::uint32_t field, const void* data,
                          std::size_t size) {
  CheckRecordSize(record);
  if (!FTable->HasBlobs()) RaiseEngineError(kErrInvalidBlobField, FName);
  int code = FBlobs.Open(this, &FTable->BlobFile(), FFields, field, record.data(), FRecordSize);
  if (code == 0) code = FBlobs.Truncate(FFields, field, record.data(), FRecordSize, 0);
  if (code == 0 && size > 0) {
    code = FBlobs.Write(FFields, field, record.data(), FRecordSize, 0,
                        static_cast<std::uint32_t>(size), static_cast<const std::uint8_t*>(data));
  }
  if (code != 0) RaiseEngineError(code, FName, FFields.at(field - 1).Name());
  if (size == 0) record[SlotOf(field)] = 1;  // an empty BLOB, not NULL
}

void TDataCursor::DiscardBlobs(TRecordBuffer& record) {
  if (record.size() != FRecordSize) return;
  for (std::uint32_t field = 1; field <= FFields.size(); ++field) {
    // Answers 10030 for a field whose BLOB is not open: nothing to discard.
    if (FFields[field - 1].Type() == kFieldBlob)
      FBlobs.Close(FFields, field, record.data(), FRecordSize);
  }
}

std::vector<std::uint8_t> TDataCursor::GetBlob(TRecordBuffer& record, std::uint32_t field) {
  CheckRecordSize(record);
  if (!FTable->HasBlobs()) RaiseEngineError(kErrInvalidBlobField, FName);
  if (IsNull(record, field)) return {};
  int code = FBlobs.Open(this, &FTable->BlobFile(), FFields, field, record.data(), FRecordSize);
  if (code != 0) RaiseEngineError(code, FName, FFields.at(field - 1).Name());
  std::uint32_t size = 0;
  FBlobs.Size(FFields, field, record.data(), FRecordSize, size);
  std::vector<std::uint8_t> content;
  WithinMemory(FName, [&] { content.resize(size); });
  std::uint32_t done = 0;
  code = FBlobs.Read(FFields, field, record.data(), FRecordSize, 0, size, content.data(), done);
  const int closed = FBlobs.Close(FFields, field, record.data(), FRecordSize);
  if (code == 0) code = closed;
  if (code != 0) RaiseEngineError(code, FName, FFields.at(field - 1).Name());
  return content;
}

// ---- Defaults and validity --------------------------------------------------------

TDataCursor::TRecordBuffer TDataCursor::NewRecord() {
  CheckOpen();
  TRecordBuffer record(FRecordSize, 0);
  if (FHasDefaults) ApplyDefaults(record);
  return record;
}

void TDataCursor::ApplyDefaults(TRecordBuffer& record) {
  CheckRecordSize(record);
  const FormatSettingsScope formats(FLanguageId, FSortId);
  const LocalDateTime now = CurrentLocalDateTime();  // one moment for every field
  for (std::uint32_t i = 1; i <= FieldCount(); ++i) {
    const TFieldDefinition& f = FFields[i - 1];
    const std::string text = f.Default();
    if (text.empty() || !f.HasSlot()) continue;
    if (f.Type() == kFieldString) {
      PutString(record, i, text);
      continue;
    }
    const auto value = FieldValueFromText(f, text, TValueTextUse::kDefault, now);
    if (!value) {
      if (f.Type() == kFieldBoolean)
        throw EDatabaseError("'" + text + "' is not a valid boolean value");
      RaiseEngineError(kErrInvalidValidityCheck, FName, f.Name());
    }
    const std::size_t at = SlotOf(i);
    std::memcpy(record.data() + at + 1, value->data(),
                std::min<std::size_t>(value->size(), f.StorageSize()));
    record[at] = 1;  // a value, also the zero bytes of types without a text form
  }
}

void TDataCursor::CheckValidity(const TRecordBuffer& record) {
  if (!FHasValidity) return;
  CheckRecordSize(record);
  const FormatSettingsScope formats(FLanguageId, FSortId);
  const LocalDateTime now = CurrentLocalDateTime();  // not read: bounds have no keywords
  const Collation collation{FLanguageId, FSortId};
  for (std::uint32_t i = 1; i <= FieldCount(); ++i) {
    const TFieldDefinition& f = FFields[i - 1];
    if (!f.HasSlot() && !f.IsAutoIncrement()) continue;
    const bool isNull = IsNull(record, i);
    if (f.Required() && isNull) RaiseEngineError(kErrValueRequired, FName, f.Name());
    const std::string bounds[2] = {f.Minimum(), f.Maximum()};
    if (bounds[0].empty() && bounds[1].empty()) continue;
    // Sign of (value - bound) for each bound that is set.
    int order[2] = {0, 0};
    if (f.Type() == kFieldString) {
      const std::string v = isNull ? std::string() : GetString(record, i);
      for (int b = 0; b < 2; ++b) {
        if (!bounds[b].empty()) order[b] = collation.Compare(v, bounds[b]);
      }
    } else {
      std::vector<std::uint8_t> stored = GetField(record, i);
      if (isNull) stored.assign(f.StorageSize(), 0);  // NULL counts as zero
      const std::optional<double> v = FieldNumberOf(f, stored.data(), stored.size());
      if (!v) continue;  // no number form (bytes, BLOBs): nothing to compare
      for (int b = 0; b < 2; ++b) {
        if (bounds[b].empty()) continue;
        const auto bound = FieldValueFromText(f, bounds[b], TValueTextUse::kBound, now);
        const std::optional<double> limit =
            bound ? FieldNumberOf(f, bound->data(), bound->size()) : std::nullopt;
        if (!limit) RaiseEngineError(kErrInvalidValidityCheck, FName, f.Name());
        order[b] = *v < *limit ? -1 : (*v > *limit ? 1 : 0);
      }
    }
    if (!bounds[0].empty() && order[0] < 0)
      RaiseEngineError(kErrValueBelowMinimum, FName, f.Name());
    if (!bounds[1].empty() && order[1] > 0)
      RaiseEngineError(kErrValueAboveMaximum, FName, f.Name());
  }
}

}  // namespace engine
