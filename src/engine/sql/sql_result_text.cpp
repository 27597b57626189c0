// Result values as text (sql_result_text.h).
#include "engine/sql/sql_result_text.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "engine/sql/sql_values.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace engine {

namespace {

constexpr const char* kNullText = "\\N";
constexpr char kHexDigits[] = "0123456789abcdef";

std::string DateText(std::int32_t day) {
  const CivilDate d = DateFromDayNumber(day);
  char b[48];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", d.year, d.month, d.day);
  return b;
}

std::string TimeText(std::int64_t ms) {
  ms = ((ms % kMsPerDay) + kMsPerDay) % kMsPerDay;
  char b[48];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", static_cast<int>(ms / kMsPerHour),
                static_cast<int>(ms / kMsPerMinute % 60), static_cast<int>(ms / kMsPerSecond % 60),
                static_cast<int>(ms % kMsPerSecond));
  return b;
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
  std::string s = "\\x";
  for (const std::uint8_t c : bytes) {
    s += kHexDigits[c >> 4];
    s += kHexDigits[c & 15];
  }
  return s;
}

std::string BcdText(std::int64_t stored) {
  const int scale = BcdScale(stored);
  const std::uint64_t magnitude = stored < 0 ? static_cast<std::uint64_t>(-(stored + 1)) + 1
                                             : static_cast<std::uint64_t>(stored);
  std::string digits = std::to_string(magnitude / 10);
  if (scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(scale))
      digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  }
  return (stored < 0 ? "-" : "") + digits;
}

}  // namespace

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string FormatValueText(const TExpToken& v) {
  if (v.isNull) return kNullText;
  switch (v.dataType) {
    case kFieldString:
      return EscapeText(v.AsString());
    case kFieldBoolean:
      return v.AsBoolean() ? "TRUE" : "FALSE";
    case kFieldInt16:
      return std::to_string(v.AsInt16());
    case kFieldUInt16:
      return std::to_string(v.AsUInt16());
    case kFieldInt32:
      return std::to_string(v.AsInt32());
    case kFieldFloat: {
      char b[32];
      const auto r = std::to_chars(b, b + sizeof b, v.AsDouble());
      return std::string(b, r.ptr);
    }
    case kFieldBcd:
      return BcdText(v.AsInt64());
    case kFieldDate:
      return DateText(v.AsInt32());
    case kFieldTime:
      return TimeText(v.AsInt32());
    case kFieldTimestamp: {
      const double t = v.AsDouble();
      const auto ms = static_cast<std::int64_t>(t);
      return DateText(static_cast<std::int32_t>(ms / kMsPerDay)) + " " + TimeText(ms % kMsPerDay);
    }
    case kFieldBlob:
      if (v.IsMemo()) return EscapeText(v.AsString());
      return HexText(v.value);
    default:
      return HexText(v.value);
  }
}

std::string FormatFieldText(TDataCursor& cursor, TDataCursor::TRecordBuffer& record,
                            std::uint32_t field) {
  return FormatValueText(*ReadFieldValue(cursor, record, field));
}

}  // namespace engine
