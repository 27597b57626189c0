// The type rules of the operators (see expr_type_rules.h).
//
// Compatibility of operand types, one row per (operator group, left types):
//
//   operator   left                    allowed right
//   = <>       string, memo            NULL, string, memo
//              other BLOB              NULL
//              DATE, TIMESTAMP         NULL, DATE, TIMESTAMP
//              BOOLEAN                 NULL, BOOLEAN
//              BYTES                   NULL, BYTES
//              TIME                    NULL, TIME
//              number                  NULL, number
//   < > <= >=  string, memo            string, memo
//              DATE, TIMESTAMP         DATE, TIMESTAMP
//              number                  number
//              TIME                    TIME
//   AND OR     BOOLEAN                 BOOLEAN
//   +          DATE, TIME, TIMESTAMP   integer
//              string, memo            string, memo
//              integer                 DATE, number, TIME, TIMESTAMP
//              FLOAT, BCD              number
//   -          DATE                    DATE, integer
//              number                  number
//              TIME                    integer, TIME
//              TIMESTAMP               DATE, integer, TIME, TIMESTAMP
//   * /        number                  number
//
// (integer = SMALLINT, INTEGER, WORD; number = the integers, FLOAT, BCD.)
#include "engine/sql/expr_type_rules.h"

#include <algorithm>
#include <cstdint>

#include "engine/values/expr_token.h"
#include "engine/values/value_convert.h"

namespace engine {
namespace {

// Bit of an operand type in the table's masks.
constexpr int kMemoKey = 20;  // past every field type code
constexpr std::uint32_t Bit(int key) {
  return std::uint32_t{1} << key;
}

int KeyOf(const TExpToken& node) {
  if (node.dataType == kFieldBlob && node.subType == kSubtypeMemo) return kMemoKey;
  return node.dataType >= 0 && node.dataType < kMemoKey ? node.dataType : kMemoKey + 1;
}

constexpr std::uint32_t kNull = Bit(0);
constexpr std::uint32_t kString = Bit(kFieldString);
constexpr std::uint32_t kMemo = Bit(kMemoKey);
constexpr std::uint32_t kBlob = Bit(kFieldBlob);
constexpr std::uint32_t kDate = Bit(kFieldDate);
constexpr std::uint32_t kTime = Bit(kFieldTime);
constexpr std::uint32_t kStamp = Bit(kFieldTimestamp);
constexpr std::uint32_t kBoolean = Bit(kFieldBoolean);
constexpr std::uint32_t kBytes = Bit(kFieldBytes);
constexpr std::uint32_t kInteger = Bit(kFieldInt16) | Bit(kFieldInt32) | Bit(kFieldUInt16);
constexpr std::uint32_t kNumber = kInteger | Bit(kFieldFloat) | Bit(kFieldBcd);

struct CompatibilityRow {
  OperatorGroup group;
  std::uint32_t left;
  std::uint32_t right;
};

constexpr CompatibilityRow kCompatibility[] = {
    {OperatorGroup::kEquality, kString | kMemo, kNull | kString | kMemo},
    {OperatorGroup::kEquality, kBlob, kNull},
    {OperatorGroup::kEquality, kDate | kStamp, kNull | kDate | kStamp},
    {OperatorGroup::kEquality, kBoolean, kNull | kBoolean},
    {OperatorGroup::kEquality, kBytes, kNull | kBytes},
    {OperatorGroup::kEquality, kTime, kNull | kTime},
    {OperatorGroup::kEquality, kNumber, kNull | kNumber},
    {OperatorGroup::kOrdering, kString | kMemo, kString | kMemo},
    {OperatorGroup::kOrdering, kDate | kStamp, kDate | kStamp},
    {OperatorGroup::kOrdering, kNumber, kNumber},
    {OperatorGroup::kOrdering, kTime, kTime},
    {OperatorGroup::kLogical, kBoolean, kBoolean},
    {OperatorGroup::kAdd, kDate | kTime | kStamp, kInteger},
    {OperatorGroup::kAdd, kString | kMemo, kString | kMemo},
    {OperatorGroup::kAdd, kInteger, kDate | kNumber | kTime | kStamp},
    {OperatorGroup::kAdd, Bit(kFieldFloat) | Bit(kFieldBcd), kNumber},
    {OperatorGroup::kSubtract, kDate, kDate | kInteger},
    {OperatorGroup::kSubtract, kNumber, kNumber},
    {OperatorGroup::kSubtract, kTime, kInteger | kTime},
    {OperatorGroup::kSubtract, kStamp, kDate | kInteger | kTime | kStamp},
    {OperatorGroup::kMultiplyDivide, kNumber, kNumber},
};

// CAST: the source types each target accepts.
struct CastRow {
  int target;
  std::uint32_t sources;
};

constexpr std::uint32_t kAnyButBlob =
    kNull | kString | kMemo | kDate | kTime | kStamp | kBoolean | kBytes | kNumber;

constexpr CastRow kCasts[] = {
    {kFieldString, kAnyButBlob},
    {kFieldBytes, kAnyButBlob},
    {kFieldDate, kNull | kString | kDate | kBytes | kStamp},
    {kFieldBlob, kNull | kBlob | kMemo},
    {kFieldBoolean, kNull | kString | kBoolean | kInteger | Bit(kFieldBcd) | kBytes},
    {kFieldInt16, kNull | kString | kBoolean | kNumber | kBytes},
    {kFieldUInt16, kNull | kString | kBoolean | kNumber | kBytes},
    {kFieldInt32, kNull | kString | kNumber | kBytes},
    {kFieldFloat, kNull | kString | kNumber | kBytes},
    {kFieldBcd, kNull | kString | kNumber | kBytes},
    {kFieldTime, kNull | kString | kBytes | kTime | kStamp},
    {kFieldTimestamp, kNull | kString | kDate | kBytes | kTime | kStamp},
};

int SizeOfType(int type) {
  switch (type) {
    case kFieldBoolean:
    case kFieldInt16:
    case kFieldUInt16:
      return kSize16;
    case kFieldFloat:
    case kFieldBlob:
    case kFieldTimestamp:
    case kFieldBcd:
      return kSize64;
    default:
      return kSize32;
  }
}

}  // namespace

OperatorGroup GroupOfOperator(int code) {
  switch (code) {
    case kOpEqual:
    case kOpNotEqual:
      return OperatorGroup::kEquality;
    case kOpAnd:
    case kOpOr:
      return OperatorGroup::kLogical;
    case kOpAdd:
      return OperatorGroup::kAdd;
    case kOpSubtract:
      return OperatorGroup::kSubtract;
    case kOpMultiply:
    case kOpDivide:
      return OperatorGroup::kMultiplyDivide;
    default:
      return OperatorGroup::kOrdering;
  }
}

bool OperandsCompatible(OperatorGroup group, const TExpToken& left, const TExpToken& right) {
  const std::uint32_t l = Bit(KeyOf(left));
  const std::uint32_t r = Bit(KeyOf(right));
  return std::any_of(std::begin(kCompatibility), std::end(kCompatibility),
                     [&](const CompatibilityRow& row) {
                       return row.group == group && (row.left & l) && (row.right & r);
                     });
}

void SetBinaryResultType(int code, const TExpToken& left, const TExpToken& right,
                         TExpToken& result) {
  const int l = left.dataType;
  const int r = right.dataType;
  const bool lInt = IsIntegerType(l);
  const bool rInt = IsIntegerType(r);
  const bool anyFloat = l == kFieldFloat || r == kFieldFloat;
  auto set = [&](int type, int subType = 0) {
    int scale = 0;
    if (type == kFieldBcd)
      scale = std::max(l == kFieldBcd ? left.scale : 0, r == kFieldBcd ? right.scale : 0);
    result.SetType(type, subType, SizeOfType(type), scale);
  };
  // The numeric result of +, - and * when no other rule applies.
  auto numeric = [&] {
    if (lInt && rInt) return set(kFieldInt32);
    if (anyFloat) return set(kFieldFloat);
    set(kFieldBcd);
  };
  switch (GroupOfOperator(code)) {
    case OperatorGroup::kEquality:
    case OperatorGroup::kOrdering:
    case OperatorGroup::kLogical:
      set(kFieldBoolean);
      return;
    case OperatorGroup::kAdd:
      if (left.IsStringOrMemo()) {
        if (l == kFieldBlob || r == kFieldBlob) return set(kFieldBlob, kSubtypeMemo);
        result.SetType(kFieldString, 0, left.size + right.size - 1, 0);
        return;
      }
      if (IsDateTimeType(l)) return set(l);
      if (IsDateTimeType(r)) return set(r);
      return numeric();
    case OperatorGroup::kSubtract:
      if (l == kFieldDate) return set(r == kFieldDate ? kFieldInt32 : kFieldDate);
      if (l == kFieldTime) return set(r == kFieldTime ? kFieldInt32 : kFieldTime);
      if (l == kFieldTimestamp) {
        if (r == kFieldDate || r == kFieldTime) return set(kFieldInt32);
        if (r == kFieldTimestamp) return set(kFieldFloat);
        return set(kFieldTimestamp);
      }
      if (l == kFieldUInt16 && rInt) return set(kFieldUInt16);
      return numeric();
    case OperatorGroup::kMultiplyDivide:
      if (code == kOpMultiply) return numeric();
      if ((lInt && rInt) || anyFloat) return set(kFieldFloat);
      return set(kFieldBcd);
  }
}

bool CastAllowed(const TExpToken& source, int targetType) {
  const std::uint32_t s = Bit(KeyOf(source));
  for (const CastRow& row : kCasts) {
    if (row.target == targetType) return (row.sources & s) != 0;
  }
  return false;
}

}  // namespace engine
