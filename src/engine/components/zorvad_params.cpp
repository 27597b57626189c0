// Query parameters and their binding record (see zorvad_params.h).
#include "engine/components/zorvad_params.h"

#include <cmath>

#include "engine/components/component_messages.h"
#include "engine/components/dataset.h"
#include "engine/components/file_stream.h"
#include "engine/database_error.h"
#include "engine/files/table_names.h"
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

}  // namespace engine
