// Value texts of field definitions read as field values (see
// data_table_values.h). The conversions themselves are the expression
// language's (value_convert.h, value_text.h): a string node is converted into
// a node of the field's type, so a default reads exactly as a CAST of the
// same text would under the same formats.
#include "engine/table/data_table_values.h"

#include <cstring>
#include <limits>

#include "engine/files/table_names.h"
#include "engine/storage/data_file_bytes.h"
#include "engine/values/expr_token.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"

namespace engine {
namespace {

constexpr int kTimestampTimeYear = 1899;  // a timestamp's TIME keyword falls on 1899-12-30
constexpr int kTimestampTimeMonth = 12;
constexpr int kTimestampTimeDay = 30;

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::vector<std::uint8_t> Int32Bytes(std::int32_t v) {
  std::vector<std::uint8_t> out(sizeof v);
  bytes::PutI32(out.data(), v);
  return out;
}

std::vector<std::uint8_t> DoubleBytes(double v) {
  std::vector<std::uint8_t> out(sizeof v);
  std::memcpy(out.data(), &v, sizeof v);
  return out;
}

double StampOf(std::int32_t dayNumber, std::int32_t milliseconds) {
  return static_cast<double>(dayNumber) * static_cast<double>(kMsPerDay) + milliseconds;
}

// The keyword values of a default text; nullopt when `key` is no keyword of
// the field's type.
std::optional<std::vector<std::uint8_t>> KeywordValue(std::uint8_t type, const std::string& key,
                                                      const LocalDateTime& now) {
  switch (type) {
    case kFieldDate:
      if (key == "DATE") return Int32Bytes(now.dayNumber);
      break;
    case kFieldTime:
      if (key == "TIME") return Int32Bytes(now.milliseconds);
      break;
    case kFieldTimestamp:
      if (key == "NOW") return DoubleBytes(StampOf(now.dayNumber, now.milliseconds));
      if (key == "DATE") return DoubleBytes(StampOf(now.dayNumber, 0));
      if (key == "TIME") {
        const std::int32_t day =
            DayNumberFromDate(kTimestampTimeYear, kTimestampTimeMonth, kTimestampTimeDay);
        return DoubleBytes(StampOf(day, now.milliseconds));
      }
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FieldValueFromText(const TFieldDefinition& field,
                                                            std::string_view text,
                                                            TValueTextUse use,
                                                            const LocalDateTime& now) {
  const std::uint8_t type = field.Type();
  if (type == kFieldString) return std::vector<std::uint8_t>(text.begin(), text.end());
  const std::string trimmed = Trim(text);
  if (use == TValueTextUse::kDefault) {
    if (auto keyword = KeywordValue(type, UpperAscii(trimmed), now)) return keyword;
  }
  switch (type) {
    case kFieldBoolean: {
      // TRUE is 1 in a record (the expression language's -1 is its own form).
      const std::string key = UpperAscii(trimmed);
      if (key != "TRUE" && key != "FALSE") return std::nullopt;
      std::vector<std::uint8_t> out(sizeof(std::uint16_t));
      bytes::PutU16(out.data(), key == "TRUE" ? 1 : 0);
      return out;
    }
    case kFieldUInt32: {
      const std::optional<std::int64_t> v = ReadInteger(trimmed);
      if (!v || *v < 0 || *v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
      return Int32Bytes(static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)));
    }
    case kFieldDate:
    case kFieldInt16:
    case kFieldInt32:
    case kFieldUInt16:
    case kFieldFloat:
    case kFieldBcd:
    case kFieldTime:
    case kFieldTimestamp: {
      TExpToken source;
      source.SetType(kFieldString, 0, static_cast<int>(trimmed.size()) + 1, 0);
      source.SetString(trimmed);
      TExpToken target;
      target.SetType(type, field.Subtype(), static_cast<int>(field.StorageSize()), field.Scale());
      if (!ConvertValue(source, target) || target.isNull) return std::nullopt;
      std::vector<std::uint8_t> out = target.value;
      out.resize(field.StorageSize(), 0);
      return out;
    }
    default:
      // No text form: the value is zero bytes (a value, not NULL).
      return std::vector<std::uint8_t>(field.StorageSize(), 0);
  }
}

std::optional<double> FieldNumberOf(const TFieldDefinition& field, const std::uint8_t* storage,
                                    std::size_t size) {
  auto fits = [&](std::size_t need) { return storage != nullptr && size >= need; };
  switch (field.Type()) {
    case kFieldInt16:
      if (!fits(2)) return std::nullopt;
      return static_cast<std::int16_t>(bytes::GetU16(storage));
    case kFieldBoolean:
    case kFieldUInt16:
      if (!fits(2)) return std::nullopt;
      return bytes::GetU16(storage);
    case kFieldInt32:
    case kFieldDate:
    case kFieldTime:
      if (!fits(4)) return std::nullopt;
      return bytes::GetI32(storage);
    case kFieldUInt32:
      if (!fits(4)) return std::nullopt;
      return static_cast<std::uint32_t>(bytes::GetI32(storage));
    case kFieldFloat:
    case kFieldTimestamp: {
      if (!fits(8)) return std::nullopt;
      double d;
      std::memcpy(&d, storage, sizeof d);
      return d;
    }
    case kFieldBcd:
      if (!fits(8)) return std::nullopt;
      return DecodeBcd(bytes::GetI64(storage));
    default:
      return std::nullopt;
  }
}

TValueTextCheck ValueTextCheckFor(std::uint16_t languageId, std::uint16_t sortId) {
  return [languageId, sortId](const TFieldDefinition& field, std::string_view text) {
    // A text that is the field's minimum or maximum is read as a bound (a
    // bound "DATE" is refused even when the default is "DATE" too).
    const bool bound = text == field.Minimum() || text == field.Maximum();
    const FormatSettingsScope scope(languageId, sortId);
    return FieldValueFromText(field, text, bound ? TValueTextUse::kBound : TValueTextUse::kDefault,
                              CurrentLocalDateTime())
        .has_value();
  };
}

}  // namespace engine
