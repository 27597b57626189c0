// The toolkit's field kinds (TFieldType) and how they meet the engine's field
// types: which kind a stored field becomes when a dataset opens, and which
// engine type, subtype and value size a parameter of a kind is bound as.
//
// Dataset fields (engine type, subtype -> kind, size given):
//   1 string -> ftString (declared size)   2 -> ftDate
//   3 BLOB: subtype 22 ftMemo, 24 ftFmtMemo, 26 ftGraphic, 28 ftTypedBinary, else ftBlob
//   4 -> ftBoolean   5 -> ftSmallint   6 -> ftInteger (subtype 29: ftAutoInc)
//   7 -> ftFloat (subtype 21: ftCurrency)   8 -> ftBCD (precision 20, size = scale)
//   9 -> ftBytes (declared size)   10 -> ftTime   11 -> ftDateTime   12 -> ftWord
//   13 -> ftInteger   15 -> ftVarBytes (declared size)   18, 19 -> ftLargeint
//   20..23 -> ftADT, ftArray, ftReference, ftDataSet   14 and any other: no field
#pragma once

#include <cstdint>
#include <optional>

#include "engine/storage/field_defs.h"

namespace engine {

// The numbering is the stored form of a parameter's data type (the catalog
// sets pFile's type to 15).
enum TFieldType : int {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
};
inline constexpr int kLastFieldType = ftGuid;

// Engine field types beyond the table layer's own codes.
inline constexpr std::uint8_t kFieldLargeInt = 18;
inline constexpr std::uint8_t kFieldLargeUInt = 19;
inline constexpr std::uint8_t kFieldAdt = 20;
inline constexpr std::uint8_t kFieldArray = 21;
inline constexpr std::uint8_t kFieldReference = 22;
inline constexpr std::uint8_t kFieldDataSet = 23;

inline constexpr int kBcdPrecision = 20;  // digits of a BCD field
inline constexpr int kParamBcdScale = 4;  // scale of a BCD parameter

struct TFieldKind {
  TFieldType type;
  int size;  // declared size, the scale of a BCD field, or 0
  int precision = 0;
};

// The kind of a stored field, or none when the dataset makes no field for it.
std::optional<TFieldKind> FieldKindOf(const TFieldDefinition& field);

bool IsBlobKind(TFieldType type);

}  // namespace engine
