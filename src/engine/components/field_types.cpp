// Field kinds of stored fields (see field_types.h).
#include "engine/components/field_types.h"

namespace engine {

std::optional<TFieldKind> FieldKindOf(const TFieldDefinition& field) {
  switch (field.Type()) {
    case kFieldString:
      return TFieldKind{ftString, field.Size()};
    case kFieldDate:
      return TFieldKind{ftDate, 0};
    case kFieldBlob:
      switch (field.Subtype()) {
        case kSubtypeMemo:
          return TFieldKind{ftMemo, 0};
        case kSubtypeFormattedMemo:
          return TFieldKind{ftFmtMemo, 0};
        case kSubtypeGraphic:
          return TFieldKind{ftGraphic, 0};
        case kSubtypeTypedBinary:
          return TFieldKind{ftTypedBinary, 0};
        default:
          return TFieldKind{ftBlob, 0};
      }
    case kFieldBoolean:
      return TFieldKind{ftBoolean, 0};
    case kFieldInt16:
      return TFieldKind{ftSmallint, 0};
    case kFieldInt32:
      return TFieldKind{field.Subtype() == kSubtypeAutoIncrement ? ftAutoInc : ftInteger, 0};
    case kFieldFloat:
      return TFieldKind{field.Subtype() == kSubtypeMoney ? ftCurrency : ftFloat, 0};
    case kFieldBcd:
      return TFieldKind{ftBCD, field.Scale(), kBcdPrecision};
    case kFieldBytes:
      return TFieldKind{ftBytes, field.Size()};
    case kFieldTime:
      return TFieldKind{ftTime, 0};
    case kFieldTimestamp:
      return TFieldKind{ftDateTime, 0};
    case kFieldUInt16:
      return TFieldKind{ftWord, 0};
    case kFieldUInt32:
      return TFieldKind{ftInteger, 0};
    case kFieldVarBytes:
      return TFieldKind{ftVarBytes, field.Size()};
    case kFieldLargeInt:
    case kFieldLargeUInt:
      return TFieldKind{ftLargeint, 0};
    case kFieldAdt:
      return TFieldKind{ftADT, 0};
    case kFieldArray:
      return TFieldKind{ftArray, 0};
    case kFieldReference:
      return TFieldKind{ftReference, 0};
    case kFieldDataSet:
      return TFieldKind{ftDataSet, 0};
    default:
      return std::nullopt;
  }
}

bool IsBlobKind(TFieldType type) {
  return type >= ftBlob && type <= ftTypedBinary;
}

}  // namespace engine
