// Evaluation of expression trees (rules in expr_eval.h).
#include "engine/sql/expr_eval.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/sql/expr_error.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace engine {
namespace {

constexpr int kMaxRoundPlaces = 32;
// Milliseconds added to a TIME are taken modulo a day; beyond this shift the
// sum could leave 64 bits, and the result is NULL.
constexpr std::int64_t kMaxTimeShift = std::int64_t{1} << 53;
// 2^63: doubles below it in magnitude convert to 64-bit integers.
constexpr double kInt64Bound = 9223372036854775808.0;

std::int32_t Wrap32(std::int64_t v) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

std::int32_t WrapTime(std::int64_t ms) {
  const std::int64_t r = ms % kMsPerDay;
  return static_cast<std::int32_t>(r < 0 ? r + kMsPerDay : r);
}

bool ValidDay(std::int64_t day) {
  return day >= 1 && day <= MaxDayNumber();
}

bool ValidStamp(double stamp) {
  return std::isfinite(stamp) && stamp >= static_cast<double>(kMsPerDay) &&
         stamp < (static_cast<double>(MaxDayNumber()) + 1) * static_cast<double>(kMsPerDay);
}

// Integer arithmetic never wraps. A result whose exact value lies outside the
// range of the node's type (INTEGER 2147483647 + 1, WORD 0 - 2, ABS of
// -2147483648) is given as a FLOAT holding that value, exact up to 2^53 and
// the nearest double beyond (products of two large values); comparisons and
// further arithmetic then work on the true value.
void SetWideResult(TExpToken& result, double v) {
  result.SetType(kFieldFloat, 0, kSize64, 0);
  result.SetDouble(v);
}

void SetIntegerResult(TExpToken& result, std::int64_t v) {
  switch (result.dataType) {
    case kFieldInt16:
      if (v < std::numeric_limits<std::int16_t>::min() ||
          v > std::numeric_limits<std::int16_t>::max())
        break;
      result.SetInt16(static_cast<std::int16_t>(v));
      return;
    case kFieldUInt16:
      if (v < 0 || v > std::numeric_limits<std::uint16_t>::max()) break;
      result.SetUInt16(static_cast<std::uint16_t>(v));
      return;
    default:
      if (v < std::numeric_limits<std::int32_t>::min() ||
          v > std::numeric_limits<std::int32_t>::max())
        break;
      result.SetInt32(static_cast<std::int32_t>(v));
      return;
  }
  SetWideResult(result, static_cast<double>(v));
}

// The integer a number node holds: the integer types, and a FLOAT that an
// integer result widened into (integral and within 64 bits).
bool WholeNumber(const TExpToken& node, std::int64_t& v) {
  if (IsIntegerType(node.dataType)) {
    v = IntegerValue(node);
    return true;
  }
  if (node.dataType != kFieldFloat) return false;
  const double d = node.AsDouble();
  if (!(d >= -kInt64Bound && d < kInt64Bound) || std::trunc(d) != d) return false;
  v = static_cast<std::int64_t>(d);
  return true;
}

void SetNumberResult(TExpToken& result, double v) {
  if (!std::isfinite(v)) {
    result.SetNull();
    return;
  }
  if (result.dataType == kFieldFloat) {
    result.SetDouble(v);
  } else if (result.dataType == kFieldBcd) {
    const std::optional<std::int64_t> stored = EncodeBcd(v, result.scale);
    if (stored) {
      result.SetInt64(*stored);
    } else {
      result.SetNull();
    }
  } else {
    const double r = std::round(v);
    if (r >= -kInt64Bound && r < kInt64Bound) {
      SetIntegerResult(result, static_cast<std::int64_t>(r));
    } else {
      SetWideResult(result, r);
    }
  }
}

void SetText(TExpToken& result, std::string_view text) {
  if (result.dataType == kFieldBlob) {
    result.SetBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  } else {
    result.SetString(text);
  }
}

class Evaluator {
 public:
  explicit Evaluator(const EvaluationContext& context) : context_(context) {}
  ExpTree Eval(const TExpToken& node);

 private:
  ExpTree MakeResult(const TExpToken& node) const {
    ExpTree result = NewToken();
    result->tokenClass = kClassConstant;
    result->SetType(node.dataType, node.subType, node.size, node.scale);
    return result;
  }
  bool IsTrue(const TExpToken& node) {
    ExpTree v = Eval(node);
    return !v->isNull && v->AsBoolean();
  }
  // <0, 0, >0 for two non-NULL values.
  int Compare(const TExpToken& a, const TExpToken& b, bool caseInsensitive = false) const;
  bool Equal(const TExpToken& a, const TExpToken& b) const;
  // An ordering comparison (kOpLess ...) under the NULL rules.
  bool Ordered(int code, const TExpToken& a, const TExpToken& b) const;

  ExpTree Column(const TExpToken& node);
  ExpTree Unary(const TExpToken& node);
  ExpTree Binary(const TExpToken& node);
  ExpTree Arithmetic(const TExpToken& node, const TExpToken& l, const TExpToken& r);
  ExpTree Extended(const TExpToken& node);
  ExpTree StringCompare(const TExpToken& node);
  ExpTree Function(const TExpToken& node);

  const EvaluationContext& context_;
};

int Evaluator::Compare(const TExpToken& a, const TExpToken& b, bool caseInsensitive) const {
  const int ta = a.dataType, tb = b.dataType;
  auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  if (a.IsStringOrMemo() || b.IsStringOrMemo()) {
    return context_.collation.Compare(a.AsString(), b.AsString(), caseInsensitive);
  }
  if ((ta == kFieldDate || ta == kFieldTimestamp) && (tb == kFieldDate || tb == kFieldTimestamp)) {
    return sign(InstantOf(a), InstantOf(b));
  }
  if (ta == kFieldTime && tb == kFieldTime) return sign(a.AsInt32(), b.AsInt32());
  if (ta == kFieldBoolean && tb == kFieldBoolean) return sign(a.AsBoolean(), b.AsBoolean());
  if (IsIntegerType(ta) && IsIntegerType(tb)) return sign(IntegerValue(a), IntegerValue(b));
  if (IsNumberType(ta) && IsNumberType(tb)) return sign(NumberAsDouble(a), NumberAsDouble(b));
  // Raw bytes (BYTES, BLOBs): lexicographic, a prefix first.
  const std::size_t n = std::min(a.value.size(), b.value.size());
  const int c = n ? std::memcmp(a.value.data(), b.value.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return sign(a.value.size(), b.value.size());
}

bool Evaluator::Equal(const TExpToken& a, const TExpToken& b) const {
  if (a.isNull || b.isNull) return a.isNull && b.isNull;
  return Compare(a, b) == 0;
}

bool Evaluator::Ordered(int code, const TExpToken& a, const TExpToken& b) const {
  int c;
  if (a.IsStringOrMemo() || b.IsStringOrMemo()) {
    // NULL orders as the empty string.
    c = context_.collation.Compare(a.isNull ? std::string_view() : a.AsString(),
                                   b.isNull ? std::string_view() : b.AsString());
  } else {
    if (a.isNull || b.isNull) return false;
    c = Compare(a, b);
  }
  switch (code) {
    case kOpLess:
      return c < 0;
    case kOpLessEqual:
      return c <= 0;
    case kOpGreater:
      return c > 0;
    default:
      return c >= 0;
  }
}

ExpTree Evaluator::Eval(const TExpToken& node) {
  switch (node.tokenClass) {
    case kClassColumn:
      return Column(node);
    case kClassUnary:
      return Unary(node);
    case kClassBinary:
      return Binary(node);
    case kClassExtended:
      return Extended(node);
    case kClassStringCompare:
      return StringCompare(node);
    case kClassFunction:
      return Function(node);
    default: {  // constants and parameters
      ExpTree result = MakeResult(node);
      result->value = node.value;
      result->isNull = node.isNull;
      return result;
    }
  }
}

ExpTree Evaluator::Column(const TExpToken& node) {
  ExpTree result = MakeResult(node);
  if (context_.reader) {
    context_.reader->ReadColumn(node, *result);
  } else if (node.writtenAsString) {
    result->SetType(node.stringType, node.stringSubType, node.stringSize, node.stringScale);
    result->SetString(node.AsString());
  } else {
    RaiseExpressionError(
        context_.errorCode, context_.tableName,
        "Internal error: Column '" + node.columnName + "'" + " specified illegally");
  }
  return result;
}

ExpTree Evaluator::Unary(const TExpToken& node) {
  ExpTree operand = Eval(*node.left);
  ExpTree result = MakeResult(node);
  if (operand->isNull) {
    result->SetNull();
    return result;
  }
  if (node.code == kOpNot) {
    result->SetBoolean(!operand->AsBoolean());
    return result;
  }
  if (node.code == kOpPlusSign) {
    result->value = operand->value;
    return result;
  }
  switch (operand->dataType) {
    case kFieldFloat:  // also an integer that was widened
      SetWideResult(*result, -operand->AsDouble());
      break;
    case kFieldBcd:
      SetNumberResult(*result, -DecodeBcd(operand->AsInt64()));
      break;
    case kFieldTimestamp:
      result->SetDouble(-operand->AsDouble());
      break;
    default:
      SetIntegerResult(*result, -IntegerValue(*operand));
      break;
  }
  return result;
}

ExpTree Evaluator::Binary(const TExpToken& node) {
  ExpTree result = MakeResult(node);
  if (node.code == kOpAnd || node.code == kOpOr) {
    const bool right = IsTrue(*node.right);
    bool value;
    if (node.code == kOpAnd) {
      value = right && IsTrue(*node.left);
    } else {
      value = right || IsTrue(*node.left);
    }
    result->SetBoolean(value);
    return result;
  }
  ExpTree l = Eval(*node.left);
  ExpTree r = Eval(*node.right);
  switch (node.code) {
    case kOpEqual:
      result->SetBoolean(Equal(*l, *r));
      return result;
    case kOpNotEqual:
      result->SetBoolean(!Equal(*l, *r));
      return result;
    case kOpLess:
    case kOpLessEqual:
    case kOpGreater:
    case kOpGreaterEqual:
      result->SetBoolean(Ordered(node.code, *l, *r));
      return result;
    default:
      return Arithmetic(node, *l, *r);
  }
}

ExpTree Evaluator::Arithmetic(const TExpToken& node, const TExpToken& l, const TExpToken& r) {
  ExpTree result = MakeResult(node);
  const int type = node.dataType;
  const int lt = l.dataType, rt = r.dataType;
  if (node.code == kOpAdd && (type == kFieldString || (type == kFieldBlob && l.IsStringOrMemo()))) {
    if (l.isNull && r.isNull) {
      result->SetNull();
    } else {
      std::string text(l.isNull ? std::string_view() : l.AsString());
      text += r.isNull ? std::string_view() : r.AsString();
      SetText(*result, text);
    }
    return result;
  }
  if (l.isNull || r.isNull) {
    result->SetNull();
    return result;
  }
  const bool add = node.code == kOpAdd;
  const bool subtract = node.code == kOpSubtract;
  switch (type) {
    case kFieldDate: {
      const std::int64_t day = lt == kFieldDate ? l.AsInt32() : r.AsInt32();
      std::int64_t n = 0;
      const bool shift =
          WholeNumber(lt == kFieldDate ? r : l, n) && n >= -MaxDayNumber() && n <= MaxDayNumber();
      const std::int64_t v = shift ? (subtract ? day - n : day + n) : 0;
      if (ValidDay(v)) {
        result->SetInt32(static_cast<std::int32_t>(v));
      } else {
        result->SetNull();
      }
      return result;
    }
    case kFieldTime: {
      const std::int64_t ms = lt == kFieldTime ? l.AsInt32() : r.AsInt32();
      std::int64_t n = 0;
      if (!WholeNumber(lt == kFieldTime ? r : l, n) || n > kMaxTimeShift || n < -kMaxTimeShift) {
        result->SetNull();
        return result;
      }
      result->SetInt32(WrapTime(subtract ? ms - n : ms + n));
      return result;
    }
    case kFieldTimestamp: {
      const double stamp = lt == kFieldTimestamp ? l.AsDouble() : r.AsDouble();
      const double days = NumberAsDouble(lt == kFieldTimestamp ? r : l);
      const double v = stamp + (subtract ? -days : days) * static_cast<double>(kMsPerDay);
      if (ValidStamp(v)) {
        result->SetDouble(v);
      } else {
        result->SetNull();
      }
      return result;
    }
    default:
      break;
  }
  if (subtract && (lt == kFieldDate || lt == kFieldTime || lt == kFieldTimestamp)) {
    // Differences of dates and times.
    if (lt == kFieldDate && rt == kFieldDate) {
      result->SetInt32(Wrap32(static_cast<std::int64_t>(l.AsInt32()) - r.AsInt32()));
      return result;
    }
    if (lt == kFieldTime && rt == kFieldTime) {
      result->SetInt32(Wrap32(static_cast<std::int64_t>(l.AsInt32()) - r.AsInt32()));
      return result;
    }
    if (lt == kFieldTimestamp) {
      const double stamp = l.AsDouble();
      const double day = std::floor(stamp / static_cast<double>(kMsPerDay));
      if (rt == kFieldTimestamp) {
        SetNumberResult(*result, (stamp - r.AsDouble()) / static_cast<double>(kMsPerDay));
      } else if (rt == kFieldDate) {
        SetNumberResult(*result, day - r.AsInt32());
      } else {
        SetNumberResult(*result, stamp - day * static_cast<double>(kMsPerDay) - r.AsInt32());
      }
      return result;
    }
  }
  std::int64_t x = 0, y = 0;
  if (IsIntegerType(type) && node.code != kOpDivide && WholeNumber(l, x) && WholeNumber(r, y)) {
    std::int64_t v = 0;
    const bool overflow = add        ? __builtin_add_overflow(x, y, &v)
                          : subtract ? __builtin_sub_overflow(x, y, &v)
                                     : __builtin_mul_overflow(x, y, &v);
    if (!overflow) {
      SetIntegerResult(*result, v);
      return result;
    }
    // Past 64 bits: on in floating point below.
  }
  const double a = NumberAsDouble(l), b = NumberAsDouble(r);
  double v;
  if (add) {
    v = a + b;
  } else if (subtract) {
    v = a - b;
  } else if (node.code == kOpMultiply) {
    v = a * b;
  } else {
    if (b == 0) {
      result->SetNull();
      return result;
    }
    v = a / b;
  }
  SetNumberResult(*result, v);
  return result;
}

ExpTree Evaluator::Extended(const TExpToken& node) {
  ExpTree result = MakeResult(node);
  ExpTree tested = Eval(*node.left);
  bool value = false;
  switch (node.code) {
    case kOpLike:
    case kOpNotLike: {
      ExpTree pattern = Eval(*node.right);
      const bool match = !tested->isNull && !pattern->isNull &&
                         MatchesLike(tested->AsString(), pattern->AsString(), context_.collation);
      value = node.code == kOpLike ? match : !match;
      break;
    }
    case kOpBetween:
    case kOpNotBetween: {
      ExpTree low = Eval(*node.right);
      bool inside = Ordered(kOpGreaterEqual, *tested, *low);
      if (inside) {
        ExpTree high = Eval(*node.third);
        inside = Ordered(kOpLessEqual, *tested, *high);
      }
      value = node.code == kOpBetween ? inside : !inside;
      break;
    }
    case kOpInList:
    case kOpNotInList: {
      bool found = false;
      for (const TExpToken* item = node.right; item != nullptr && !found; item = item->next) {
        ExpTree v = Eval(*item);
        found = Equal(*tested, *v);
      }
      value = node.code == kOpInList ? found : !found;
      break;
    }
    case kOpInSelect:
    case kOpNotInSelect: {
      if (context_.subQueries == nullptr) {
        RaiseExpressionError(
            context_.errorCode, context_.tableName,
            "Internal error: Column '" + node.right->text + "'" + " specified illegally");
      }
      const bool found = context_.subQueries->SubSelectContains(*node.right, *tested);
      value = node.code == kOpInSelect ? found : !found;
      break;
    }
    default:
      break;
  }
  result->SetBoolean(value);
  return result;
}

ExpTree Evaluator::StringCompare(const TExpToken& node) {
  ExpTree result = MakeResult(node);
  result->SetType(kFieldBoolean, 0, kSize16, 0);
  ExpTree l = Eval(*node.left);
  ExpTree r = Eval(*node.right);
  bool equal;
  if (l->isNull || r->isNull) {
    equal = l->isNull && r->isNull;
  } else {
    std::string_view a = l->AsString(), b = r->AsString();
    if (node.partialLength > 0) {
      const std::size_t n = static_cast<std::size_t>(node.partialLength);
      a = a.substr(0, n);
      b = b.substr(0, n);
    }
    equal = context_.collation.Compare(a, b, node.caseInsensitive) == 0;
  }
  result->SetBoolean(node.code == kOpNotEqual ? !equal : equal);
  return result;
}

ExpTree Evaluator::Function(const TExpToken& node) {
  const int code = node.code;
  if (IsAggregateCode(code)) {
    const TExpToken& argument = *node.left;
    if (code == kFnCount && argument.tokenClass == kClassColumn && argument.columnName == "*" &&
        argument.fieldNo == 0) {
      ExpTree one = MakeResult(node);
      one->SetInt32(1);
      return one;
    }
    return Eval(argument);
  }
  if (code == kFnIf) {
    return Eval(IsTrue(*node.left) ? *node.right : *node.third);
  }
  ExpTree result = MakeResult(node);
  switch (code) {
    case kFnCast: {
      ExpTree source = Eval(*node.left);
      // Only the conversion runs under the format lock: reading records
      // (above) may take table locks, which must not nest inside it.
      FormatSettingsScope settings(context_.collation.languageId, context_.collation.sortId);
      if (!ConvertValue(*source, *result)) result->SetNull();
      return result;
    }
    case kFnExtractYear:
    case kFnExtractMonth:
    case kFnExtractDay:
    case kFnExtractDayOfWeek:
    case kFnExtractHour:
    case kFnExtractMinute:
    case kFnExtractSecond: {
      ExpTree source = Eval(*node.left);
      std::int32_t day = 0, ms = 0;
      if (!source->isNull) {
        if (source->dataType == kFieldDate) {
          day = source->AsInt32();
        } else if (source->dataType == kFieldTime) {
          ms = source->AsInt32();
        } else {
          const double stamp = source->AsDouble();
          const double d = std::isfinite(stamp) ? std::floor(stamp / kMsPerDay) : 0;
          if (d >= 1 && d <= MaxDayNumber()) {
            day = static_cast<std::int32_t>(d);
            ms = WrapTime(static_cast<std::int64_t>(stamp - d * kMsPerDay));
          }
        }
      }
      const bool hasDate = ValidDay(day);
      const CivilDate date = DateFromDayNumber(day);
      std::int64_t v = 0;
      switch (code) {
        case kFnExtractYear:
          v = hasDate ? date.year : 0;
          break;
        case kFnExtractMonth:
          v = hasDate ? date.month : 0;
          break;
        case kFnExtractDay:
          v = hasDate ? date.day : 0;
          break;
        case kFnExtractDayOfWeek:
          v = hasDate ? DayOfWeek(day) : 0;
          break;
        case kFnExtractHour:
          v = ms / kMsPerHour;
          break;
        case kFnExtractMinute:
          v = ms / kMsPerMinute % 60;
          break;
        default:
          v = ms / kMsPerSecond % 60;
          break;
      }
      result->SetInt32(static_cast<std::int32_t>(v));
      return result;
    }
    default:
      break;
  }

  // Functions of one main argument, which give NULL for NULL.
  const TExpToken* mainArgument = node.left;
  if (code == kFnReplace) mainArgument = node.third;
  if (code == kFnPos || code == kFnOccurs || code == kFnTrimLeading || code == kFnTrimTrailing ||
      code == kFnTrimBoth) {
    mainArgument = node.right;
  }
  ExpTree x = Eval(*mainArgument);
  if (x->isNull) {
    result->SetNull();
    return result;
  }
  auto constantText = [&](const TExpToken* argument) {
    ExpTree v = Eval(*argument);
    return std::string(v->isNull ? std::string_view() : v->AsString());
  };
  const std::string_view text = x->AsString();
  switch (code) {
    case kFnUpper:
      SetText(*result, context_.collation.Upper(text));
      break;
    case kFnLower:
      SetText(*result, context_.collation.Lower(text));
      break;
    case kFnSubstring: {
      ExpTree from = Eval(*node.right);
      const std::int64_t start = IntegerValue(*from);
      std::string_view part;
      if (start >= 1 && static_cast<std::uint64_t>(start) <= text.size()) {
        part = text.substr(static_cast<std::size_t>(start - 1));
        if (node.third) {
          ExpTree count = Eval(*node.third);
          const std::int64_t n = IntegerValue(*count);
          part = part.substr(0, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
      }
      SetText(*result, part);
      break;
    }
    case kFnReplace: {
      const std::string search = constantText(node.left);
      const std::string replacement = constantText(node.right);
      std::string out;
      if (search.empty()) {
        out = text;
      } else {
        std::size_t at = 0;
        for (std::size_t hit; (hit = text.find(search, at)) != std::string_view::npos;) {
          out.append(text.substr(at, hit - at));
          out += replacement;
          at = hit + search.size();
        }
        out.append(text.substr(at));
      }
      SetText(*result, out);
      break;
    }
    case kFnPos:
    case kFnOccurs: {
      const std::string search = constantText(node.left);
      std::int64_t v = 0;
      if (!search.empty()) {
        if (code == kFnPos) {
          const std::size_t hit = text.find(search);
          v = hit == std::string_view::npos ? 0 : static_cast<std::int64_t>(hit) + 1;
        } else {
          for (std::size_t at = 0; (at = text.find(search, at)) != std::string_view::npos;
               at += search.size()) {
            ++v;
          }
        }
      }
      result->SetInt32(Wrap32(v));
      break;
    }
    case kFnTrimLeading:
    case kFnTrimTrailing:
    case kFnTrimBoth: {
      const std::string trim = constantText(node.left);
      std::string_view s = text;
      if (trim.size() == 1) {
        if (code != kFnTrimTrailing) {
          while (!s.empty() && s.front() == trim[0]) s.remove_prefix(1);
        }
        if (code != kFnTrimLeading) {
          while (!s.empty() && s.back() == trim[0]) s.remove_suffix(1);
        }
      }
      SetText(*result, s);
      break;
    }
    case kFnAbs:
      switch (x->dataType) {
        case kFieldFloat:  // also an integer that was widened
          SetWideResult(*result, std::fabs(x->AsDouble()));
          break;
        case kFieldBcd:
          SetNumberResult(*result, std::fabs(DecodeBcd(x->AsInt64())));
          break;
        default: {
          const std::int64_t v = IntegerValue(*x);
          SetIntegerResult(*result, v < 0 ? -v : v);
          break;
        }
      }
      break;
    case kFnRound: {
      std::int64_t places = 0;
      if (node.right) {
        ExpTree p = Eval(*node.right);
        places = std::clamp<std::int64_t>(IntegerValue(*p), 0, kMaxRoundPlaces);
      }
      result->SetDouble(RoundDecimal(NumberAsDouble(*x), static_cast<int>(places)));
      break;
    }
    default:
      result->value = x->value;
      break;
  }
  return result;
}

}  // namespace

bool MatchesLike(std::string_view text, std::string_view pattern, const Collation& collation) {
  std::size_t s = 0, p = 0;
  std::size_t starText = 0, starPattern = 0;
  bool passedStar = false;
  for (;;) {
    if (s == text.size()) {
      if (p == pattern.size() || pattern.substr(p) == "%") return true;
    } else if (p < pattern.size() && pattern[p] == '%') {
      // Remember the positions and go on after the %.
      passedStar = true;
      starPattern = p;
      starText = s;
      ++p;
      continue;
    } else if (p < pattern.size() &&
               (pattern[p] == '_' || collation.CharsEqual(pattern[p], text[s]))) {
      ++p;
      ++s;
      continue;
    }
    // Mismatch: the most recent % takes one more character of the text.
    if (!passedStar || starText >= text.size()) return false;
    ++starText;
    s = starText;
    p = starPattern + 1;
  }
}

ExpTree EvaluateExpression(const TExpToken& tree, const EvaluationContext& context) {
  Evaluator evaluator(context);
  return evaluator.Eval(tree);
}

bool EvaluateCondition(const TExpToken& tree, const EvaluationContext& context) {
  ExpTree result = EvaluateExpression(tree, context);
  return !result->isNull && result->dataType == kFieldBoolean && result->AsBoolean();
}

}  // namespace engine
