// The parameter record a query binds to its statement (see zorvad_params.h).
#include <cstring>

#include "engine/components/component_messages.h"
#include "engine/components/zorvad_params.h"
#include "engine/database_error.h"
#include "engine/values/value_convert.h"

namespace engine {

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
