// Values of statement execution (sql_values.h).
#include "engine/sql/sql_values.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/sql/expr_error.h"
#include "engine/sql/sql_sources.h"
#include "engine/storage/data_file.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"

namespace engine {

namespace {

// Values up to this size (every number, date and time) are stored straight
// from a value of the field's own type.
constexpr std::size_t kDirectValueBytes = 16;

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return Order(a.size(), b.size());
}

}  // namespace

ExpTree ReadFieldValue(TDataCursor& cursor, TDataCursor::TRecordBuffer& record,
                       std::uint32_t field) {
  ExpTree value = NewToken();
  value->tokenClass = kClassConstant;
  const TFieldDefinition& f = cursor.Fields()[field - 1];
  SetTypeFromField(*value, f);
  if (cursor.IsNull(record, field)) {
    value->SetNull();
  } else if (f.Type() == kFieldBlob) {
    value->value = cursor.GetBlob(record, field);
    if (value->IsMemo()) value->value.push_back(0);
  } else {
    value->value = cursor.GetField(record, field);
  }
  return value;
}

ExpTree ConvertedTo(const TExpToken& value, const TExpToken& type) {
  ExpTree out = NewToken();
  out->tokenClass = kClassConstant;
  out->SetType(type.dataType, type.subType, type.size, type.scale);
  if (value.isNull) {
    out->SetNull();
    return out;
  }
  if (value.dataType == type.dataType && value.subType == type.subType &&
      value.scale == type.scale) {
    out->value = value.value;
    return out;
  }
  if (!ConvertValue(value, *out)) out->SetNull();
  return out;
}

void StoreValue(TDataCursor& cursor, TDataCursor::TRecordBuffer& record, std::uint32_t field,
                const TExpToken& value, std::string_view statementSuffix, bool truncateBlob) {
  const TFieldDefinition& f = cursor.Fields()[field - 1];
  if (value.isNull) {
    if (f.Type() == kFieldBlob && truncateBlob) cursor.PutBlob(record, field, nullptr, 0);
    cursor.PutNull(record, field);
    return;
  }
  if (f.Type() == kFieldBlob) {
    std::size_t size = value.value.size();
    if (value.IsStringOrMemo() && size > 0 && value.value[size - 1] == 0) --size;
    cursor.PutBlob(record, field, value.value.data(), size);
    return;
  }
  const bool sameType =
      value.dataType == f.Type() && (f.Type() != kFieldBcd || value.scale == f.Scale());
  if (sameType && f.Type() == kFieldString) {
    // The common case of a prepared INSERT: a string parameter into a string
    // field goes in without a converted copy.
    cursor.PutString(record, field, value.AsString());
    return;
  }
  if (sameType && value.value.size() <= kDirectValueBytes) {
    // A value of the field's own type (an integer parameter): its bytes,
    // zero-padded to the field's size, go in without a converted copy.
    std::array<std::uint8_t, kDirectValueBytes> bytes{};
    std::copy(value.value.begin(), value.value.end(), bytes.begin());
    cursor.PutField(record, field, bytes.data(),
                    std::min<std::size_t>(f.StorageSize(), bytes.size()));
    return;
  }
  ExpTree converted = NewToken();
  SetTypeFromField(*converted, f);
  bool ok = true;
  if (sameType) {
    converted->value = value.value;
  } else {
    TDataFile& data = cursor.Table()->DataFile();
    FormatSettingsScope scope(static_cast<std::uint16_t>(data.LanguageId()),
                              static_cast<std::uint16_t>(data.SortId()));
    ok = ConvertValue(value, *converted);
  }
  if (!ok) {
    std::string text;
    if (std::optional<std::string> t = ValueAsText(value)) text = *t;
    RaiseExpressionError(kErrSql, cursor.Name(),
                         "Type mismatch between column " + f.Name() + " and constant value " +
                             text + std::string(statementSuffix));
  }
  if (f.Type() == kFieldString) {
    cursor.PutString(record, field, converted->AsString());
    return;
  }
  std::vector<std::uint8_t> bytes = converted->value;
  bytes.resize(f.StorageSize(), 0);
  cursor.PutField(record, field, bytes.data(), bytes.size());
}

namespace {

template <typename T>
T Fixed(const std::vector<std::uint8_t>& bytes) {
  T v{};
  std::memcpy(&v, bytes.data(), std::min(sizeof(T), bytes.size()));
  return v;
}

std::string_view StringOf(const std::vector<std::uint8_t>& bytes) {
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  const auto zero = std::find(bytes.begin(), bytes.end(), 0);
  return {data, static_cast<std::size_t>(zero - bytes.begin())};
}

int CompareRaw(int type, int subType, const std::vector<std::uint8_t>& a,
               const std::vector<std::uint8_t>& b, const Collation& collation,
               bool caseInsensitive) {
  switch (type) {
    case kFieldString:
      return collation.Compare(StringOf(a), StringOf(b), caseInsensitive);
    case kFieldBoolean:
    case kFieldInt16:
      return Order(Fixed<std::int16_t>(a), Fixed<std::int16_t>(b));
    case kFieldUInt16:
      return Order(Fixed<std::uint16_t>(a), Fixed<std::uint16_t>(b));
    case kFieldInt32:
    case kFieldDate:
    case kFieldTime:
      return Order(Fixed<std::int32_t>(a), Fixed<std::int32_t>(b));
    case kFieldFloat:
    case kFieldTimestamp:
      return Order(Fixed<double>(a), Fixed<double>(b));
    case kFieldBcd:
      return Order(DecodeBcd(Fixed<std::int64_t>(a)), DecodeBcd(Fixed<std::int64_t>(b)));
    case kFieldBlob:
      if (subType == kSubtypeMemo)
        return collation.Compare(StringOf(a), StringOf(b), caseInsensitive);
      return CompareBytes(a, b);
    default:
      return CompareBytes(a, b);
  }
}

}  // namespace

int CompareValues(const TExpToken& a, const TExpToken& b, const Collation& collation,
                  bool caseInsensitive) {
  if (a.isNull || b.isNull) return Order(!a.isNull, !b.isNull);
  if (a.dataType != b.dataType && IsNumberType(a.dataType) && IsNumberType(b.dataType))
    return Order(NumberAsDouble(a), NumberAsDouble(b));
  return CompareRaw(a.dataType, a.subType, a.value, b.value, collation, caseInsensitive);
}

TCell CellOf(const TExpToken& value) {
  TCell c;
  c.isNull = value.isNull;
  if (!value.isNull) c.bytes = value.value;
  return c;
}

ExpTree TokenOf(const TCell& cell, const TExpToken& type) {
  ExpTree t = NewToken();
  t->tokenClass = kClassConstant;
  t->SetType(type.dataType, type.subType, type.size, type.scale);
  if (cell.isNull) {
    t->SetNull();
  } else {
    t->value = cell.bytes;
  }
  return t;
}

int CompareCells(const TCell& a, const TCell& b, const TExpToken& type, const Collation& collation,
                 bool caseInsensitive) {
  if (a.isNull || b.isNull) return Order(!a.isNull, !b.isNull);
  return CompareRaw(type.dataType, type.subType, a.bytes, b.bytes, collation, caseInsensitive);
}

// ---- Aggregates ----------------------------------------------------------------------------

TAggregate::TAggregate(int kind, const TExpToken& argumentType, const Collation& collation)
    : FKind(kind), FType(argumentType), FCollation(collation), FScratch(NewToken()) {
  FScratch->SetType(argumentType.dataType, argumentType.subType, argumentType.size,
                    argumentType.scale);
}

void TAggregate::Add(const TCell& value) {
  if (value.isNull) return;
  ++FCount;
  switch (FKind) {
    case kAggregateSum:
    case kAggregateAvg:
      FScratch->value = value.bytes;
      FSum += NumberAsDouble(*FScratch);
      break;
    case kAggregateMin:
    case kAggregateMax:
      if (FBest.isNull) {
        FBest = value;
      } else {
        const int c = CompareCells(value, FBest, FType, FCollation);
        if ((FKind == kAggregateMin && c < 0) || (FKind == kAggregateMax && c > 0)) FBest = value;
      }
      break;
    default:
      break;
  }
}

ExpTree TAggregate::Result(const TExpToken& resultType) const {
  ExpTree value = NewToken();
  value->tokenClass = kClassConstant;
  switch (FKind) {
    case kAggregateCount:
      value->SetType(kFieldInt32, 0, kSize32, 0);
      value->SetInt32(static_cast<std::int32_t>(FCount));
      break;
    case kAggregateAvg:
      value->SetType(kFieldFloat, 0, kSize64, 0);
      value->SetDouble(FCount == 0 ? 0.0 : FSum / static_cast<double>(FCount));
      break;
    case kAggregateSum:
      value->SetType(kFieldFloat, 0, kSize64, 0);
      if (FCount == 0) {
        value->SetNull();
      } else {
        value->SetDouble(FSum);
      }
      break;
    default:
      value = TokenOf(FBest, FType);
      break;
  }
  return ConvertedTo(*value, resultType);
}

}  // namespace engine
