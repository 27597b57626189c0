// Query parameters and their binding record (see zorvad_params.h).
#include "engine/components/zorvad_params.h"

#include <cmath>
#include <cstring>

#include "engine/components/component_messages.h"
#include "engine/components/dataset.h"
#include "engine/components/file_stream.h"
#include "engine/database_error.h"
#include "engine/files/table_names.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace engine {

// ---- Dates ---------------------------------------------------------------------------------

std::int32_t DayNumberOf(TDateTime value) {
  static const std::int32_t kDayOfDateTimeZero = DayNumberFromDate(1899, 12, 30);
  return kDayOfDateTimeZero + static_cast<std::int32_t>(std::floor(value));
}

std::int32_t MillisecondsOf(TDateTime value) {
  const double fraction = value - std::floor(value);
  const auto ms = static_cast<std::int32_t>(std::llround(fraction * kMillisecondsPerDay));
  return ms >= static_cast<std::int32_t>(kMillisecondsPerDay) ? 0 : ms;
}

// ---- TZORVADParam --------------------------------------------------------------------------

void TZORVADParam::SetValue(TFieldType type) {
  FDataType = type;
  FNull = false;
  FBound = true;
}

void TZORVADParam::SetDataType(TFieldType type) {
  FDataType = type;
  FBytes.clear();
  FInteger = 0;
  FFloat = 0;
}

void TZORVADParam::SetAsString(const std::string& value) {
  FBytes = value;
  SetValue(ftString);
}
void TZORVADParam::SetAsInteger(std::int32_t value) {
  FInteger = value;
  SetValue(ftInteger);
}
void TZORVADParam::SetAsSmallInt(std::int16_t value) {
  FInteger = value;
  SetValue(ftSmallint);
}
void TZORVADParam::SetAsWord(std::uint16_t value) {
  FInteger = value;
  SetValue(ftWord);
}
void TZORVADParam::SetAsBoolean(bool value) {
  FInteger = value ? 1 : 0;
  SetValue(ftBoolean);
}
void TZORVADParam::SetAsFloat(double value) {
  FFloat = value;
  SetValue(ftFloat);
}
void TZORVADParam::SetAsCurrency(double value) {
  FFloat = value;
  SetValue(ftCurrency);
}
void TZORVADParam::SetAsBCD(double value) {
  FFloat = value;
  SetValue(ftBCD);
}
void TZORVADParam::SetAsDate(TDateTime value) {
  FFloat = value;
  SetValue(ftDate);
}
void TZORVADParam::SetAsTime(TDateTime value) {
  FFloat = value;
  SetValue(ftTime);
}
void TZORVADParam::SetAsDateTime(TDateTime value) {
  FFloat = value;
  SetValue(ftDateTime);
}
void TZORVADParam::SetAsMemo(const std::string& value) {
  FBytes = value;
  SetValue(ftMemo);
}
void TZORVADParam::SetAsBlob(std::vector<std::uint8_t> value) {
  FBytes.assign(value.begin(), value.end());
  SetValue(ftBlob);
}

void TZORVADParam::LoadFromStream(TStream& stream, TFieldType type) {
  const std::vector<std::uint8_t> bytes = stream.ReadAll();
  FBytes.assign(bytes.begin(), bytes.end());
  SetValue(type);
}

void TZORVADParam::LoadFromFile(const std::string& path, TFieldType type) {
  TFileStream stream(path, TFileStream::TMode::fmOpenRead);
  LoadFromStream(stream, type);
}

void TZORVADParam::Clear() {
  FNull = true;
  FBytes.clear();
  FInteger = 0;
  FFloat = 0;
}

void TZORVADParam::AssignValue(const TZORVADParam& other) {
  FDataType = other.FDataType;
  FParamType = other.FParamType;
  FNull = other.FNull;
  FBound = other.FBound;
  FBytes = other.FBytes;
  FInteger = other.FInteger;
  FFloat = other.FFloat;
}

void TZORVADParam::AssignField(const TField& field) {
  if (field.IsNull()) {
    SetDataType(field.DataType() == ftAutoInc ? ftInteger : field.DataType());
    Clear();
    FBound = true;
    return;
  }
  switch (field.DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      SetAsInteger(field.AsInteger());
      return;
    case ftBoolean:
      SetAsBoolean(field.AsBoolean());
      return;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      SetAsFloat(field.AsFloat());
      return;
    default:
      break;
  }
  if (field.IsBlob()) {
    FBytes = field.AsString();
    SetValue(field.DataType());
    return;
  }
  SetAsString(field.AsString());
}

std::string TZORVADParam::AsString() const {
  if (FNull) return {};
  switch (FDataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return std::to_string(FInteger);
    case ftBoolean:
      return FInteger != 0 ? "True" : "False";
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return std::to_string(FFloat);
    default:
      return FBytes;
  }
}

std::int32_t TZORVADParam::AsInteger() const {
  if (FNull) return 0;
  switch (FDataType) {
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return static_cast<std::int32_t>(std::llround(FFloat));
    case ftString:
    case ftMemo:
      return static_cast<std::int32_t>(ReadInteger(FBytes).value_or(0));
    default:
      return static_cast<std::int32_t>(FInteger);
  }
}

double TZORVADParam::AsFloat() const {
  switch (FDataType) {
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return FNull ? 0 : FFloat;
    default:
      return AsInteger();
  }
}

// ---- TZORVADParams -------------------------------------------------------------------------

TZORVADParam& TZORVADParams::CreateParam(TFieldType type, const std::string& name,
                                         TParamType paramType) {
  FItems.push_back(std::make_unique<TZORVADParam>(name, type, paramType));
  return *FItems.back();
}

TZORVADParam* TZORVADParams::FindParam(const std::string& name) const {
  for (const auto& p : FItems) {
    if (SameText(p->Name(), name)) return p.get();
  }
  return nullptr;
}

TZORVADParam& TZORVADParams::ParamByName(const std::string& name) const {
  TZORVADParam* p = FindParam(name);
  if (!p) RaiseDatabaseError(kMsgParameterNotFound, name);
  return *p;
}

void TZORVADParams::AssignValues(const TZORVADParams& old) {
  for (const auto& p : FItems) {
    for (const auto& o : old.FItems) {
      if (o->Name() == p->Name()) {
        p->AssignValue(*o);
        break;
      }
    }
  }
}

// ---- Binding -------------------------------------------------------------------------------

namespace {

struct TEngineKind {
  std::uint8_t type;
  std::uint8_t subtype;
};

// The engine type of a kind; type 0 for ftUnknown; nullopt for kinds the
// engine does not store.
std::optional<TEngineKind> EngineKindOf(TFieldType kind) {
  switch (kind) {
    case ftUnknown:
      return TEngineKind{kFieldInvalid, 0};
    case ftString:
      return TEngineKind{kFieldString, 0};
    case ftSmallint:
      return TEngineKind{kFieldInt16, 0};
    case ftInteger:
    case ftAutoInc:
      return TEngineKind{kFieldInt32, 0};
    case ftWord:
      return TEngineKind{kFieldUInt16, 0};
    case ftBoolean:
      return TEngineKind{kFieldBoolean, 0};
    case ftFloat:
    case ftCurrency:
      return TEngineKind{kFieldFloat, 0};
    case ftBCD:
      return TEngineKind{kFieldBcd, 0};
    case ftDate:
      return TEngineKind{kFieldDate, 0};
    case ftTime:
      return TEngineKind{kFieldTime, 0};
    case ftDateTime:
      return TEngineKind{kFieldTimestamp, 0};
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
      return TEngineKind{kFieldBlob, 0};
    case ftMemo:
      return TEngineKind{kFieldBlob, kSubtypeMemo};
    case ftGraphic:
      return TEngineKind{kFieldBlob, kSubtypeGraphic};
    case ftFmtMemo:
      return TEngineKind{kFieldBlob, kSubtypeFormattedMemo};
    case ftTypedBinary:
      return TEngineKind{kFieldBlob, kSubtypeTypedBinary};
    default:
      return std::nullopt;
  }
}

template <typename T>
void Append(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));  // little-endian hosts, as the engine's files
  out.insert(out.end(), raw, raw + sizeof(T));
}

void AppendReference(std::vector<std::uint8_t>& out, const std::string& bytes) {
  Append<std::uint32_t>(out, static_cast<std::uint32_t>(bytes.size()));
  Append<const void*>(out, bytes.data());
}

// The value bytes of a parameter that is not NULL.
std::vector<std::uint8_t> ValueBytes(const TZORVADParam& p) {
  std::vector<std::uint8_t> v;
  switch (p.DataType()) {
    case ftString:
      if (p.Bytes().size() > kMaxInlineString) {
        AppendReference(v, p.Bytes());
      } else {
        v.assign(p.Bytes().begin(), p.Bytes().end());
        v.push_back(0);
      }
      break;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      Append<std::uint16_t>(v, static_cast<std::uint16_t>(p.AsInteger()));
      break;
    case ftInteger:
    case ftAutoInc:
      Append<std::int32_t>(v, p.AsInteger());
      break;
    case ftFloat:
    case ftCurrency:
      Append<double>(v, p.AsFloat());
      break;
    case ftBCD: {
      const std::optional<std::int64_t> stored = EncodeBcd(p.AsFloat(), kParamBcdScale);
      if (!stored) throw EDatabaseError("The value of parameter '" + p.Name() + "' does not fit");
      Append<std::int64_t>(v, *stored);
      break;
    }
    case ftDate:
      Append<std::int32_t>(v, DayNumberOf(p.AsDateTime()));
      break;
    case ftTime:
      Append<std::int32_t>(v, MillisecondsOf(p.AsDateTime()));
      break;
    case ftDateTime:
      Append<double>(v, static_cast<double>(DayNumberOf(p.AsDateTime())) * kMillisecondsPerDay +
                            MillisecondsOf(p.AsDateTime()));
      break;
    case ftTypedBinary:
      v.assign(p.Bytes().begin(), p.Bytes().end());
      break;
    default:  // the other BLOB kinds
      AppendReference(v, p.Bytes());
      break;
  }
  return v;
}

// The value size of a kind (the size column of the table); a NULL parameter
// keeps the slot of its kind.
std::uint32_t ValueSize(const TZORVADParam& p) {
  switch (p.DataType()) {
    case ftString:
      return p.Bytes().size() > kMaxInlineString ? kReferenceSize
                                                 : static_cast<std::uint32_t>(p.Bytes().size() + 1);
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime:
      return 8;
    case ftTypedBinary:
      return static_cast<std::uint32_t>(p.Bytes().size());
    case ftUnknown:
      RaiseDatabaseError(kMsgUnknownFieldType, p.Name());
    default:
      return kReferenceSize;
  }
}

}  // namespace

TParamRecord BuildParamRecord(const TZORVADParams& params) {
  TParamRecord record;
  for (int i = 0; i < params.Count(); ++i) {
    const TZORVADParam& p = params[i];
    const std::optional<TEngineKind> kind = EngineKindOf(p.DataType());
    if (!kind) RaiseDatabaseError(kMsgUnsupportedFieldType, p.Name());
    if (kind->type == kFieldInvalid) RaiseDatabaseError(kMsgNoParameterValue, p.Name());
    TParamDescriptor d;
    d.number = static_cast<std::uint16_t>(i + 1);
    d.name = p.Name().substr(0, kMaxParamNameLength);
    d.type = kind->type;
    d.subtype = kind->subtype;
    d.scale = p.DataType() == ftBCD ? kParamBcdScale : 0;
    d.size = ValueSize(p);
    d.byReference =
        d.type == kFieldBlob ? p.DataType() != ftTypedBinary : p.Bytes().size() > kMaxInlineString;
    d.offset = static_cast<std::uint32_t>(record.buffer.size());
    record.buffer.push_back(p.IsNull() ? 0 : 1);
    if (p.IsNull()) {
      record.buffer.resize(record.buffer.size() + d.size, 0);
    } else {
      const std::vector<std::uint8_t> value = ValueBytes(p);
      record.buffer.insert(record.buffer.end(), value.begin(), value.end());
      record.buffer.resize(d.offset + 1 + d.size, 0);
    }
    record.descriptors.push_back(std::move(d));
  }
  return record;
}

}  // namespace engine
