// TZORVADParam and TZORVADParams: the named parameters of a query, and the
// parameter record they are bound to an engine statement with.
//
// A parameter has a name, a kind (TFieldType), a parameter type, a null flag,
// a bound flag and a value (text, bytes, integer or float; dates and times as
// the toolkit's TDateTime: days since 1899-12-30 with the time as fraction).
// Every setter sets the kind, clears the null flag and marks the parameter
// bound; Clear sets the null flag and empties the value, keeping the kind;
// SetDataType sets the kind and empties the value. A new parameter is of kind
// ftUnknown and NULL. Names may repeat in a list; lookups by name (ignoring
// case) find the first.
//
// Parameter record (BuildParamRecord): for each parameter in list order a
// descriptor (1-based number, name cut to 30 characters, engine type and
// subtype, scale, value size, slot offset), and one value buffer of slots
// without gaps, each slot a has-value byte (1 not NULL, 0 NULL) and the value:
//
//   kind                   type (subtype)   size       value bytes
//   ftString               1                length+1   characters and a zero byte;
//                                                      longer than 250: a reference
//   ftSmallint / ftWord    5 / 12           2          16-bit integer
//   ftInteger, ftAutoInc   6                4          32-bit integer
//   ftBoolean              4                2          16-bit 0 or 1
//   ftFloat, ftCurrency    7                8          IEEE double
//   ftBCD                  8, scale 4       8          the stored BCD form
//   ftDate                 2                4          day number (0001-01-01 is 1)
//   ftTime                 10               4          milliseconds since midnight
//   ftDateTime             11               8          double: day number * 86,400,000 + ms
//   ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle
//                          3 (0,22,26,24,0,0) reference
//   ftTypedBinary          3 (28)           length     the bytes themselves
//
// A reference is a 32-bit length followed by a pointer to the bytes (held by
// the parameter, which must stay unchanged until the execution returns), so
// its size is 4 + the size of a pointer. ftUnknown has engine type 0: binding
// raises "No value for parameter '%s'" (its size would be "Field '%s' is of
// unknown type"); ftBytes, ftVarBytes and every kind above ftTypedBinary raise
// "Field '%s' is of an unsupported type".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/field_types.h"
#include "engine/components/stream.h"

namespace engine {

class TField;

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// The toolkit's date-time: days since 1899-12-30, the time of day as fraction.
using TDateTime = double;

inline constexpr std::size_t kMaxParamNameLength = 30;
inline constexpr std::size_t kMaxInlineString = 250;  // longer strings go by reference
inline constexpr std::uint32_t kReferenceSize = 4 + sizeof(const void*);
inline constexpr std::uint32_t kMillisecondsPerDay = 86'400'000;

class TZORVADParam {
 public:
  explicit TZORVADParam(std::string name = {}, TFieldType dataType = ftUnknown,
                        TParamType paramType = ptUnknown)
      : FName(std::move(name)), FDataType(dataType), FParamType(paramType) {}

  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TFieldType DataType() const noexcept { return FDataType; }
  void SetDataType(TFieldType type);
  TParamType ParamType() const noexcept { return FParamType; }
  void SetParamType(TParamType type) { FParamType = type; }
  bool IsNull() const noexcept { return FNull; }
  bool Bound() const noexcept { return FBound; }
  void SetBound(bool value) { FBound = value; }

  void SetAsString(const std::string& value);
  void SetAsInteger(std::int32_t value);
  void SetAsSmallInt(std::int16_t value);
  void SetAsWord(std::uint16_t value);
  void SetAsBoolean(bool value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsBCD(double value);
  void SetAsDate(TDateTime value);
  void SetAsTime(TDateTime value);
  void SetAsDateTime(TDateTime value);
  void SetAsMemo(const std::string& value);
  void SetAsBlob(std::vector<std::uint8_t> value);
  // Every byte of the stream from its start, as `type`.
  void LoadFromStream(TStream& stream, TFieldType type);
  // The whole file (opened for reading; EFOpenError when it cannot be), as `type`.
  void LoadFromFile(const std::string& path, TFieldType type);
  void Clear();
  // Value, kind, null and bound flags of `other` (the name stays).
  void AssignValue(const TZORVADParam& other);
  // The value of a dataset field, by the field's kind.
  void AssignField(const TField& field);

  std::string AsString() const;
  std::int32_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const { return AsInteger() != 0; }
  TDateTime AsDateTime() const { return FFloat; }
  // The value bytes of a text or BLOB kind.
  const std::string& Bytes() const noexcept { return FBytes; }

 private:
  void SetValue(TFieldType type);

  std::string FName;
  TFieldType FDataType;
  TParamType FParamType;
  bool FNull = true;
  bool FBound = false;
  std::string FBytes;         // text and BLOB kinds
  std::int64_t FInteger = 0;  // integer and boolean kinds
  double FFloat = 0;          // float, currency, BCD, dates and times
};

class TZORVADParams {
 public:
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  TZORVADParam& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }
  TZORVADParam& operator[](int index) const { return Items(index); }
  TZORVADParam& CreateParam(TFieldType type, const std::string& name, TParamType paramType);
  // The first parameter of that name (ignoring case), or nullptr.
  TZORVADParam* FindParam(const std::string& name) const;
  // The same; "Parameter '%s' not found" when there is none.
  TZORVADParam& ParamByName(const std::string& name) const;
  void Clear() { FItems.clear(); }
  // Each parameter takes the value of the first of `old` with exactly its name.
  void AssignValues(const TZORVADParams& old);

 private:
  std::vector<std::unique_ptr<TZORVADParam>> FItems;
};

struct TParamDescriptor {
  std::uint16_t number = 0;  // 1-based
  std::string name;          // at most 30 characters
  std::uint8_t type = 0;     // engine field type
  std::uint8_t subtype = 0;
  std::uint16_t scale = 0;
  std::uint32_t size = 0;    // value bytes, without the has-value byte
  std::uint32_t offset = 0;  // of the slot (its has-value byte) in the buffer
  bool byReference = false;  // the value is a 32-bit length and a pointer
};

struct TParamRecord {
  std::vector<TParamDescriptor> descriptors;
  std::vector<std::uint8_t> buffer;
};

// The descriptors and value buffer of `params` (the rules above).
TParamRecord BuildParamRecord(const TZORVADParams& params);

// Day numbers (0001-01-01 is day 1) and milliseconds of a TDateTime.
std::int32_t DayNumberOf(TDateTime value);
std::int32_t MillisecondsOf(TDateTime value);

}  // namespace engine
