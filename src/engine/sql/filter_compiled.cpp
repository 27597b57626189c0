// The direct record test of simple filter conditions (filter_compiled.h).
#include "engine/sql/filter_compiled.h"

namespace engine {

namespace {

constexpr std::size_t kNullFlagBytes = 1;

bool Compilable(std::uint8_t type) {
  return type == kFieldInt16 || type == kFieldInt32 || type == kFieldUInt16;
}

std::int64_t ReadValue(std::uint8_t type, const std::uint8_t* p) {
  switch (type) {
    case kFieldInt16:
      return static_cast<std::int16_t>(p[0] | (p[1] << 8));
    case kFieldUInt16:
      return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    default:
      return static_cast<std::int32_t>(
          static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
          (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
  }
}

std::int64_t ConstantValue(const TExpToken& c) {
  switch (c.dataType) {
    case kFieldInt16:
      return c.AsInt16();
    case kFieldUInt16:
      return c.AsUInt16();
    default:
      return c.AsInt32();
  }
}

}  // namespace

std::unique_ptr<TCompiledTest> TCompiledTest::Compile(const TExpToken& tree,
                                                      const TFieldDefinitions& fields,
                                                      std::size_t recordSize) {
  auto test = std::unique_ptr<TCompiledTest>(new TCompiledTest());
  test->FSteps.reserve(8);
  test->Add(tree, fields, recordSize);
  if (test->FFailed) return nullptr;
  return test;
}

int TCompiledTest::Add(const TExpToken& node, const TFieldDefinitions& fields,
                       std::size_t recordSize) {
  const int at = static_cast<int>(FSteps.size());
  FSteps.emplace_back();
  Step step;
  if (node.tokenClass == kClassUnary && node.code == kOpNot && node.left != nullptr) {
    step.op = Op::Not;
    step.a = Add(*node.left, fields, recordSize);
  } else if (node.tokenClass == kClassBinary && (node.code == kOpAnd || node.code == kOpOr) &&
             node.left != nullptr && node.right != nullptr) {
    step.op = node.code == kOpAnd ? Op::And : Op::Or;
    step.a = Add(*node.left, fields, recordSize);
    step.b = Add(*node.right, fields, recordSize);
  } else if (node.tokenClass == kClassBinary && IsComparisonCode(node.code) &&
             node.left != nullptr && node.right != nullptr &&
             node.left->tokenClass == kClassColumn && node.right->tokenClass == kClassConstant &&
             !node.right->isNull && !node.right->isParameter && node.left->fieldNo > 0 &&
             static_cast<std::size_t>(node.left->fieldNo) <= fields.size()) {
    const TFieldDefinition& field = fields[static_cast<std::size_t>(node.left->fieldNo - 1)];
    if (!field.HasSlot() || !Compilable(field.Type()) || node.right->dataType != field.Type() ||
        field.Offset() + kNullFlagBytes + field.StorageSize() > recordSize) {
      FFailed = true;
      return at;
    }
    step.op = Op::Compare;
    step.code = node.code;
    step.type = field.Type();
    step.offset = field.Offset();
    step.constant = ConstantValue(*node.right);
  } else {
    FFailed = true;
    return at;
  }
  FSteps[static_cast<std::size_t>(at)] = step;
  return at;
}

bool TCompiledTest::Run(int index, const std::uint8_t* record) const {
  const Step& s = FSteps[static_cast<std::size_t>(index)];
  switch (s.op) {
    case Op::And:
      return Run(s.a, record) && Run(s.b, record);
    case Op::Or:
      return Run(s.a, record) || Run(s.b, record);
    case Op::Not:
      return !Run(s.a, record);
    case Op::Compare:
      break;
  }
  if (record[s.offset] == 0) return s.code == kOpNotEqual;
  const std::int64_t v = ReadValue(s.type, record + s.offset + kNullFlagBytes);
  switch (s.code) {
    case kOpEqual:
      return v == s.constant;
    case kOpNotEqual:
      return v != s.constant;
    case kOpLess:
      return v < s.constant;
    case kOpGreater:
      return v > s.constant;
    case kOpLessEqual:
      return v <= s.constant;
    default:
      return v >= s.constant;
  }
}

}  // namespace engine
