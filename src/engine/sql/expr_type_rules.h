// The type rules of the operators: which operand types each operator
// accepts, which type its result has, and which CAST conversions exist.
//
// Operand types are field types (field_defs.h), with the memo BLOB (type 3,
// subtype 22) told apart from other BLOBs, and 0 for an untyped NULL. The
// left operand chooses the row of the compatibility table, so an untyped NULL
// on the left is compatible with nothing.
#pragma once

namespace engine {

class TExpToken;

enum class OperatorGroup { kEquality, kOrdering, kLogical, kAdd, kSubtract, kMultiplyDivide };

// The group of a binary operator code (kOpEqual ... kOpDivide).
OperatorGroup GroupOfOperator(int code);

bool OperandsCompatible(OperatorGroup group, const TExpToken& left, const TExpToken& right);

// Sets `result`'s type, subtype, size and scale for a binary operator whose
// operands passed OperandsCompatible.
void SetBinaryResultType(int code, const TExpToken& left, const TExpToken& right,
                         TExpToken& result);

// True when CAST may convert a value of `source`'s type to `targetType`.
bool CastAllowed(const TExpToken& source, int targetType);

}  // namespace engine
