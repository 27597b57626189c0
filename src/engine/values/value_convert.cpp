// Conversion of expression values between field types (see value_convert.h).
#include "engine/values/value_convert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/values/format_settings.h"
#include "engine/values/value_text.h"

namespace engine {
namespace {

constexpr int kCurrencyDecimals = 4;   // a string read as a currency value
constexpr int kMaxStoredBcdScale = 9;  // the scale digit of the stored form
constexpr double kPowersOfTen[] = {1.0, 10.0, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr std::size_t kFixedBufferSize = 512;  // the longest fixed form of a double
// The largest magnitude of the BCD form: magnitude x 10 + scale fits int64.
constexpr std::uint64_t kMaxBcdMagnitude = 922337203685477579ULL;

double RoundHalfAway(double v) {
  return std::round(v);
}

// The decimal digits of `magnitude` (>= 0) rounded half away from zero at
// `places` decimals, with the decimal point implied `places` digits from the
// right. Rounding works on the shortest decimal form of the double, so 12.345
// rounds to 12.35 as written, not as its binary neighbour 12.3449999...
std::string RoundedDigits(double magnitude, int places) {
  char buffer[kFixedBufferSize];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed);
  const std::string text(buffer, ec == std::errc() ? end : buffer);
  const std::size_t dot = text.find('.');
  std::string digits = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
  fraction.resize(static_cast<std::size_t>(places) + 1, '0');
  const char next = fraction.back();
  fraction.pop_back();
  digits += fraction;
  if (next >= '5') {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
      digits = "1" + digits;
    } else {
      ++digits[i - 1];
    }
  }
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

double RoundTo(double v, int decimals) {
  return RoundDecimal(v, decimals);
}

// The raw bytes of a value as the target's field form, when they cover it.
bool FromRawBytes(const TExpToken& source, TExpToken& target, std::size_t size) {
  if (source.value.size() < size) return false;
  target.SetBytes(source.value.data(), size);
  return true;
}

bool ToInteger(double v, std::int64_t low, std::int64_t high, std::int64_t& out) {
  if (!std::isfinite(v)) return false;
  const double r = RoundHalfAway(v);
  if (r < static_cast<double>(low) || r > static_cast<double>(high)) return false;
  out = static_cast<std::int64_t>(r);
  return true;
}

// A source value as a number: from a number type, BOOLEAN or a string.
std::optional<double> SourceNumber(const TExpToken& source, bool currency) {
  if (source.dataType == kFieldString) {
    std::optional<double> v = ReadFloat(source.AsString(), CurrentFormatSettings());
    if (v && currency) v = RoundTo(*v, kCurrencyDecimals);
    return v;
  }
  if (IsNumberType(source.dataType) || source.dataType == kFieldBoolean) {
    return NumberAsDouble(source);
  }
  return std::nullopt;
}

bool ConvertToInteger(const TExpToken& source, TExpToken& target) {
  std::int64_t low, high;
  switch (target.dataType) {
    case kFieldInt16:
      low = std::numeric_limits<std::int16_t>::min(),
      high = std::numeric_limits<std::int16_t>::max();
      break;
    case kFieldUInt16:
      low = 0, high = std::numeric_limits<std::uint16_t>::max();
      break;
    default:
      low = std::numeric_limits<std::int32_t>::min(),
      high = std::numeric_limits<std::int32_t>::max();
      break;
  }
  std::int64_t v;
  if (source.dataType == kFieldString) {
    const std::optional<std::int64_t> read = ReadInteger(source.AsString());
    if (!read || *read < low || *read > high) return false;
    v = *read;
  } else if (IsIntegerType(source.dataType) || source.dataType == kFieldBoolean) {
    v = IntegerValue(source);
    if (v < low || v > high) return false;
  } else if (IsNumberType(source.dataType)) {
    if (!ToInteger(NumberAsDouble(source), low, high, v)) return false;
  } else {
    return false;
  }
  if (target.dataType == kFieldInt16) {
    target.SetInt16(static_cast<std::int16_t>(v));
  } else if (target.dataType == kFieldUInt16) {
    target.SetUInt16(static_cast<std::uint16_t>(v));
  } else {
    target.SetInt32(static_cast<std::int32_t>(v));
  }
  return true;
}

bool ConvertToDateTime(const TExpToken& source, TExpToken& target) {
  const FormatSettings& settings = CurrentFormatSettings();
  const int from = source.dataType;
  const int to = target.dataType;
  if (from == kFieldString) {
    const std::string_view text = source.AsString();
    if (to == kFieldDate) {
      const auto day = ReadDate(text, settings);
      if (!day) return false;
      target.SetInt32(*day);
    } else if (to == kFieldTime) {
      const auto ms = ReadTime(text, settings);
      if (!ms) return false;
      target.SetInt32(*ms);
    } else {
      const auto ts = ReadTimestamp(text, settings);
      if (!ts) return false;
      target.SetDouble(*ts);
    }
    return true;
  }
  double instant;  // milliseconds since day 0
  if (from == kFieldDate || from == kFieldTimestamp) {
    instant = InstantOf(source);
  } else if (from == kFieldTime) {
    instant = source.AsInt32();
  } else {
    return false;
  }
  if (!std::isfinite(instant)) return false;
  const double day = std::floor(instant / static_cast<double>(kMsPerDay));
  const double ms = instant - day * static_cast<double>(kMsPerDay);
  if (to == kFieldDate) {
    if (from == kFieldTime || day < 1 || day > MaxDayNumber()) return false;
    target.SetInt32(static_cast<std::int32_t>(day));
  } else if (to == kFieldTime) {
    target.SetInt32(from == kFieldDate ? 0 : static_cast<std::int32_t>(ms));
  } else {
    target.SetDouble(instant);
  }
  return true;
}

}  // namespace

bool IsIntegerType(int type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldUInt16;
}

bool IsNumberType(int type) {
  return IsIntegerType(type) || type == kFieldFloat || type == kFieldBcd;
}

bool IsDateTimeType(int type) {
  return type == kFieldDate || type == kFieldTime || type == kFieldTimestamp;
}

std::optional<std::int64_t> EncodeBcd(double value, int scale) {
  if (scale < 0 || scale > static_cast<int>(kMaxBcdScale) || !std::isfinite(value)) {
    return std::nullopt;
  }
  const std::string digits = RoundedDigits(std::fabs(value), scale);
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (ec != std::errc() || end != digits.data() + digits.size() || magnitude > kMaxBcdMagnitude) {
    return std::nullopt;
  }
  const std::int64_t stored = static_cast<std::int64_t>(magnitude) * 10 + scale;
  return value < 0 && magnitude != 0 ? -stored : stored;
}

double RoundDecimal(double value, int places) {
  if (!std::isfinite(value) || places < 0) return value;
  std::string digits = RoundedDigits(std::fabs(value), places);
  const std::size_t n = static_cast<std::size_t>(places);
  if (digits.size() <= n) digits = std::string(n + 1 - digits.size(), '0') + digits;
  digits = digits.substr(0, digits.size() - n) + "." + digits.substr(digits.size() - n);
  double v = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return value < 0 ? -v : v;
}

int BcdScale(std::int64_t stored) {
  const std::uint64_t m =
      stored < 0 ? 0 - static_cast<std::uint64_t>(stored) : static_cast<std::uint64_t>(stored);
  return static_cast<int>(m % 10);
}

double DecodeBcd(std::int64_t stored) {
  const std::uint64_t m =
      stored < 0 ? 0 - static_cast<std::uint64_t>(stored) : static_cast<std::uint64_t>(stored);
  const int scale = static_cast<int>(m % 10);
  const double v = static_cast<double>(m / 10) / kPowersOfTen[std::min(scale, kMaxStoredBcdScale)];
  return stored < 0 ? -v : v;
}

double NumberAsDouble(const TExpToken& node) {
  switch (node.dataType) {
    case kFieldFloat:
      return node.AsDouble();
    case kFieldBcd:
      return DecodeBcd(node.AsInt64());
    default:
      return static_cast<double>(IntegerValue(node));
  }
}

std::int64_t IntegerValue(const TExpToken& node) {
  switch (node.dataType) {
    case kFieldInt16:
      return node.AsInt16();
    case kFieldUInt16:
      return node.AsUInt16();
    case kFieldInt32:
    case kFieldDate:
    case kFieldTime:
      return node.AsInt32();
    case kFieldBoolean:
      return node.AsBoolean() ? 1 : 0;
    case kFieldFloat:
    case kFieldBcd: {
      std::int64_t v = 0;
      ToInteger(NumberAsDouble(node), std::numeric_limits<std::int32_t>::min(),
                std::numeric_limits<std::int32_t>::max(), v);
      return v;
    }
    default:
      return 0;
  }
}

double InstantOf(const TExpToken& node) {
  if (node.dataType == kFieldDate) {
    return static_cast<double>(node.AsInt32()) * static_cast<double>(kMsPerDay);
  }
  if (node.dataType == kFieldTime) return node.AsInt32();
  return node.AsDouble();
}

std::optional<std::string> ValueAsText(const TExpToken& node) {
  const FormatSettings& settings = CurrentFormatSettings();
  switch (node.dataType) {
    case kFieldString:
    case kFieldBytes:
      return std::string(node.AsString());
    case kFieldBlob:
      if (!node.IsMemo()) return std::nullopt;
      return std::string(node.AsString());
    case kFieldBoolean:
      return node.AsBoolean() ? "TRUE" : "FALSE";
    case kFieldInt16:
    case kFieldInt32:
    case kFieldUInt16:
      return std::to_string(IntegerValue(node));
    case kFieldFloat:
      return FormatFloat(node.AsDouble(), settings);
    case kFieldBcd: {
      const std::int64_t stored = node.AsInt64();
      const int scale = std::min(BcdScale(stored), kMaxStoredBcdScale);
      const std::uint64_t m =
          stored < 0 ? 0 - static_cast<std::uint64_t>(stored) : static_cast<std::uint64_t>(stored);
      const std::string digits = std::to_string(m / 10);
      std::string whole = digits, fraction;
      if (scale > 0) {
        const std::string padded =
            std::string(
                digits.size() <= static_cast<std::size_t>(scale) ? scale + 1 - digits.size() : 0,
                '0') +
            digits;
        whole = padded.substr(0, padded.size() - scale);
        fraction = padded.substr(padded.size() - scale);
      }
      std::string out = (stored < 0 ? "-" : "") + whole;
      if (scale > 0) out += settings.decimalSeparator + fraction;
      return out;
    }
    case kFieldDate:
      return FormatDate(node.AsInt32(), settings);
    case kFieldTime:
      return FormatTime(node.AsInt32(), settings);
    case kFieldTimestamp:
      return FormatTimestamp(node.AsDouble(), settings);
    default:
      return std::nullopt;
  }
}

bool ConvertValue(const TExpToken& source, TExpToken& target) {
  if (source.isNull) {
    target.SetNull();
    return true;
  }
  const int from = source.dataType;
  switch (target.dataType) {
    case kFieldString: {
      std::optional<std::string> text = ValueAsText(source);
      if (!text) return false;
      if (target.size > 0 && text->size() > static_cast<std::size_t>(target.size - 1)) {
        text->resize(target.size - 1);
      }
      target.SetString(*text);
      return true;
    }
    case kFieldBytes: {
      std::vector<std::uint8_t> raw;
      if (from == kFieldString) {
        const std::string_view s = source.AsString();
        raw.assign(s.begin(), s.end());
      } else if (from == kFieldBlob && !source.IsMemo()) {
        return false;
      } else {
        raw = source.value;
      }
      if (target.size > 0) raw.resize(target.size, 0);
      target.SetBytes(raw.data(), raw.size());
      return true;
    }
    case kFieldBlob:
      if (from == kFieldString) {
        const std::string_view s = source.AsString();
        target.SetBytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
        return true;
      }
      if (from == kFieldBlob || from == kFieldBytes) {
        target.SetBytes(source.value.data(), source.value.size());
        return true;
      }
      return false;
    case kFieldBoolean:
      if (from == kFieldBytes) return FromRawBytes(source, target, kSize16);
      if (from == kFieldString) {
        const std::optional<std::string> text = ValueAsText(source);
        std::string upper;
        for (char c : *text) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        while (!upper.empty() && upper.back() == ' ') upper.pop_back();
        while (!upper.empty() && upper.front() == ' ') upper.erase(upper.begin());
        if (upper != "TRUE" && upper != "FALSE") return false;
        target.SetBoolean(upper == "TRUE");
        return true;
      }
      if (from == kFieldBoolean || IsNumberType(from)) {
        target.SetBoolean(NumberAsDouble(source) != 0);
        return true;
      }
      return false;
    case kFieldInt16:
    case kFieldInt32:
    case kFieldUInt16:
      if (from == kFieldBytes) {
        return FromRawBytes(source, target, target.dataType == kFieldInt32 ? kSize32 : kSize16);
      }
      return ConvertToInteger(source, target);
    case kFieldFloat: {
      if (from == kFieldBytes) return FromRawBytes(source, target, kSize64);
      const std::optional<double> v = SourceNumber(source, false);
      if (!v) return false;
      target.SetDouble(*v);
      return true;
    }
    case kFieldBcd: {
      if (from == kFieldBytes) return FromRawBytes(source, target, kSize64);
      const std::optional<double> v = SourceNumber(source, true);
      if (!v) return false;
      const std::optional<std::int64_t> stored = EncodeBcd(*v, target.scale);
      if (!stored) return false;
      target.SetInt64(*stored);
      return true;
    }
    case kFieldDate:
    case kFieldTime:
    case kFieldTimestamp:
      if (from == kFieldBytes) {
        return FromRawBytes(source, target, target.dataType == kFieldTimestamp ? kSize64 : kSize32);
      }
      return ConvertToDateTime(source, target);
    default:
      if (from == target.dataType) {
        target.SetBytes(source.value.data(), source.value.size());
        return true;
      }
      return false;
  }
}

}  // namespace engine
