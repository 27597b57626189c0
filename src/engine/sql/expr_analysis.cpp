// Type analysis of expression trees (see expr_analysis.h).
//
// The analysis walks the tree depth first, operands before their operator:
//  1. A string constant (not a parameter, not '' and not "*") is first offered
//     to the resolver as a column name; when such a column exists the node
//     becomes that column, remembering it was written as a string.
//  2. When both operands of a binary operator are columns and one was written
//     as a string, that one (the right one when both were) becomes a string
//     constant again, so FileName = 'Path' compares with the text Path. Places
//     that need a constant (LIKE patterns, list values, function constants)
//     turn such a column back as well.
//  3. When an operand is a constant, a string constant facing a DATE, TIME or
//     TIMESTAMP must read as such a value and takes that type.
//  4. Operand types are checked against the tables of expr_type_rules.cpp and
//     the result type is derived.
//  5. In a condition, a BOOLEAN column, IF or CAST at the root or under NOT,
//     AND or OR becomes "operand = TRUE".
#include "engine/sql/expr_analysis.h"

#include "engine/sql/expr_error.h"
#include "engine/sql/expr_parser.h"
#include "engine/sql/expr_type_rules.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"
#include "engine/values/value_text.h"

namespace engine {

int ColumnResolver::ResolveSubSelect(TExpToken& /*node*/) {
  return 0;
}

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

const char* KindOf(const TExpToken& node) {
  switch (node.tokenClass) {
    case kClassColumn:
      return "column";
    case kClassConstant:
      return "constant";
    case kClassFunction:
      return "function";
    default:
      return "expression";
  }
}

// The value of an integer constant, or false.
bool IntegerConstant(const TExpToken* node, std::int64_t& value) {
  if (node == nullptr || node->tokenClass != kClassConstant || node->isNull ||
      !IsIntegerType(node->dataType)) {
    return false;
  }
  value = IntegerValue(*node);
  return true;
}

bool IsStringConstant(const TExpToken* node) {
  return node && node->tokenClass == kClassConstant && node->dataType == kFieldString;
}

// A constant, or a sign over a constant.
bool IsSignedConstant(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->tokenClass == kClassConstant) return true;
  return node->tokenClass == kClassUnary && node->code != kOpNot && node->left &&
         node->left->tokenClass == kClassConstant;
}

class Analyser {
 public:
  explicit Analyser(const AnalysisContext& context) : context_(context) {}

  void Analyse(TExpToken*& slot);
  void RewriteCondition(TExpToken*& slot);

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    RaiseExpressionError(context_.errorCode, context_.tableName, message);
  }
  std::string In() const { return " in " + context_.contextName; }

  void AnalyseConstant(TExpToken& node);
  void AnalyseColumn(TExpToken& node);
  void AnalyseSubSelect(TExpToken& node);
  void AnalyseUnary(TExpToken& node);
  void AnalyseBinary(TExpToken& node);
  void AnalyseExtended(TExpToken& node);
  void AnalyseFunction(TExpToken& node);
  void AnalyseConstantOperand(TExpToken& node, TExpToken*& slot, const char* name);
  void ReadAsDateTime(TExpToken& text, int type);

  const AnalysisContext& context_;
};

// A column that was written as a string becomes that string constant again.
void RevertToString(TExpToken* node) {
  if (node == nullptr || node->tokenClass != kClassColumn || !node->writtenAsString) return;
  node->tokenClass = kClassConstant;
  node->SetType(node->stringType, node->stringSubType, node->stringSize, node->stringScale);
  node->writtenAsString = false;
  node->fieldNo = 0;
  node->sourceTable = nullptr;
  node->columnName.clear();
  node->correlationName.clear();
}

void Analyser::Analyse(TExpToken*& slot) {
  TExpToken& node = *slot;
  switch (node.tokenClass) {
    case kClassConstant:
      AnalyseConstant(node);
      break;
    case kClassColumn:
      AnalyseColumn(node);
      break;
    case kClassSubSelect:
      AnalyseSubSelect(node);
      break;
    case kClassUnary:
      AnalyseUnary(node);
      break;
    case kClassBinary:
      AnalyseBinary(node);
      break;
    case kClassExtended:
      AnalyseExtended(node);
      break;
    case kClassFunction:
      AnalyseFunction(node);
      break;
    default:
      break;  // prepared string comparisons are typed when they are made
  }
}

void Analyser::RewriteCondition(TExpToken*& slot) {
  TExpToken* operand = slot;
  if (!context_.condition || operand == nullptr || operand->dataType != kFieldBoolean) return;
  const bool rewritable =
      operand->tokenClass == kClassColumn || (operand->tokenClass == kClassFunction &&
                                              (operand->code == kFnIf || operand->code == kFnCast));
  if (!rewritable) return;
  ExpTree equal = NewToken();
  ExpTree yes = NewToken();
  yes->tokenClass = kClassConstant;
  yes->text = "TRUE";
  yes->SetBoolean(true);
  yes->SetType(kFieldBoolean, 0, kSize16, 0);
  equal->tokenClass = kClassBinary;
  equal->code = kOpEqual;
  equal->text = "=";
  equal->SetType(kFieldBoolean, 0, kSize16, 0);
  equal->parent = operand->parent;
  yes->parent = equal.get();
  equal->right = yes.release();
  operand->parent = equal.get();
  equal->left = operand;
  slot = equal.release();
}

void Analyser::AnalyseConstant(TExpToken& node) {
  if (node.dataType != kFieldString || node.isParameter || node.isNull ||
      context_.resolver == nullptr) {
    return;
  }
  const std::string_view name = node.AsString();
  if (name == "*") return;
  node.stringType = node.dataType;
  node.stringSubType = node.subType;
  node.stringSize = node.size;
  node.stringScale = node.scale;
  node.tokenClass = kClassColumn;
  node.columnName = std::string(name.substr(0, kMaxTokenName));
  node.correlationName.clear();
  node.writtenAsString = true;
  if (!context_.resolver->ResolveColumn(node)) RevertToString(&node);
}

void Analyser::AnalyseColumn(TExpToken& node) {
  if (context_.resolver == nullptr || !context_.resolver->ResolveColumn(node)) {
    Fail("Invalid column name '" + node.columnName + "'" + " or table correlation name " + "'" +
         node.correlationName + "'" + " specified" + In());
  }
}

void Analyser::AnalyseSubSelect(TExpToken& node) {
  const int columns = context_.resolver ? context_.resolver->ResolveSubSelect(node) : 0;
  if (columns != 1) Fail("More than 1 column for sub-select  specified" + In());
}

void Analyser::AnalyseUnary(TExpToken& node) {
  Analyse(node.left);
  if (node.code == kOpNot) RewriteCondition(node.left);
  const TExpToken& operand = *node.left;
  const int t = operand.dataType;
  bool ok;
  if (node.code == kOpNot) {
    ok = t == kFieldBoolean;
  } else {
    ok = t == kFieldDate || t == kFieldInt16 || t == kFieldInt32 || t == kFieldFloat ||
         t == kFieldBcd || t == kFieldTime || t == kFieldTimestamp ||
         (node.code == kOpPlusSign && t == kFieldUInt16);
  }
  if (!ok) {
    Fail("Type mismatch between '" + node.text + "'" + " operator and " + "'" + operand.text + "'" +
         In());
  }
  if (node.code == kOpNot) {
    node.SetType(kFieldBoolean, 0, kSize16, 0);
  } else {
    node.SetType(operand.dataType, operand.subType, operand.size, operand.scale);
  }
}

void Analyser::ReadAsDateTime(TExpToken& text, int type) {
  const int size = type == kFieldTimestamp ? kSize64 : kSize32;
  if (text.isNull) {  // '' is NULL of any type
    text.SetType(type, 0, size, 0);
    return;
  }
  const FormatSettings& settings = CurrentFormatSettings();
  const std::string_view s = text.AsString();
  bool ok = false;
  if (type == kFieldDate) {
    if (const auto day = ReadDate(s, settings)) text.SetInt32(*day), ok = true;
  } else if (type == kFieldTime) {
    if (const auto ms = ReadTime(s, settings)) text.SetInt32(*ms), ok = true;
  } else if (const auto stamp = ReadTimestamp(s, settings)) {
    text.SetDouble(*stamp), ok = true;
  }
  if (!ok) {
    Fail("Date, time, or timestamp expression expected, instead found '" + text.text + "'" + In());
  }
  text.SetType(type, 0, size, 0);
}

void Analyser::AnalyseBinary(TExpToken& node) {
  Analyse(node.left);
  Analyse(node.right);
  if (node.code == kOpAnd || node.code == kOpOr) {
    RewriteCondition(node.left);
    RewriteCondition(node.right);
  }
  TExpToken& left = *node.left;
  TExpToken& right = *node.right;
  if (left.tokenClass == kClassColumn && right.tokenClass == kClassColumn) {
    if (right.writtenAsString) {
      RevertToString(&right);
    } else if (left.writtenAsString) {
      RevertToString(&left);
    }
  }
  if (left.tokenClass == kClassConstant || right.tokenClass == kClassConstant) {
    if (IsStringConstant(&left) && IsDateTimeType(right.dataType)) {
      ReadAsDateTime(left, right.dataType);
    } else if (IsStringConstant(&right) && IsDateTimeType(left.dataType)) {
      ReadAsDateTime(right, left.dataType);
    }
  }
  if (!OperandsCompatible(GroupOfOperator(node.code), left, right)) {
    Fail("Type mismatch between " + std::string(KindOf(left)) + " " + "'" + left.text + "'" +
         " and " + KindOf(right) + " " + "'" + right.text + "'" + In());
  }
  SetBinaryResultType(node.code, left, right, node);
}

// A value of BETWEEN or an IN list: a constant (optionally signed) that
// compares with the tested operand as for =.
void Analyser::AnalyseConstantOperand(TExpToken& node, TExpToken*& slot, const char* name) {
  Analyse(slot);
  RevertToString(slot);
  TExpToken& value = *slot;
  if (!IsSignedConstant(&value)) {
    Fail("Constant expression expected after " + std::string(name) + " operator, " +
         "instead found " + "'" + value.text + "'" + In());
  }
  const TExpToken& tested = *node.left;
  if (IsStringConstant(&value) && IsDateTimeType(tested.dataType)) {
    ReadAsDateTime(value, tested.dataType);
  }
  if (!OperandsCompatible(OperatorGroup::kEquality, tested, value)) {
    Fail("Type mismatch between " + std::string(name) + " operator and expression " + "'" +
         value.text + "'" + In());
  }
}

void Analyser::AnalyseExtended(TExpToken& node) {
  Analyse(node.left);
  const char* name = node.text.c_str();
  const std::string nameText = node.text;
  switch (node.code) {
    case kOpLike:
    case kOpNotLike: {
      if (!node.left->IsStringOrMemo()) {
        Fail("Type mismatch between " + nameText + " operator and expression " + "'" +
             node.left->text + "'" + In());
      }
      Analyse(node.right);
      RevertToString(node.right);
      if (!IsStringConstant(node.right)) {
        Fail("Constant expression expected after " + nameText + " operator, " + "instead found " +
             "'" + node.right->text + "'" + In());
      }
      break;
    }
    case kOpBetween:
    case kOpNotBetween:
      AnalyseConstantOperand(node, node.right, name);
      AnalyseConstantOperand(node, node.third, name);
      break;
    case kOpInList:
    case kOpNotInList: {
      TExpToken** link = &node.right;
      while (*link != nullptr) {
        TExpToken* following = (*link)->next;
        AnalyseConstantOperand(node, *link, name);
        (*link)->next = following;
        link = &(*link)->next;
      }
      break;
    }
    case kOpInSelect:
    case kOpNotInSelect:
      Analyse(node.right);
      if (!OperandsCompatible(OperatorGroup::kEquality, *node.left, *node.right)) {
        Fail("Type mismatch between " + nameText + " operator and expression " + "'" +
             node.left->text + "'" + In());
      }
      break;
    default:
      break;
  }
  node.SetType(kFieldBoolean, 0, kSize16, 0);
}

void Analyser::AnalyseFunction(TExpToken& node) {
  const std::string name = node.text;
  auto requireStringOrMemo = [&](const TExpToken* argument, const std::string& message) {
    if (argument == nullptr || !argument->IsStringOrMemo()) Fail(message + In());
  };
  auto requireStringConstant = [&](TExpToken*& slot, const std::string& message) {
    RevertToString(slot);
    if (!IsStringConstant(slot)) Fail(message + In());
  };
  std::int64_t value = 0;
  const int code = node.code;

  if (IsAggregateCode(code)) {
    TExpToken* argument = node.left;
    const bool countAll = code == kFnCount && argument->tokenClass == kClassColumn &&
                          argument->columnName == "*" && argument->correlationName.empty();
    if (!countAll) Analyse(node.left);
    if (code == kFnCount) {
      node.SetType(kFieldInt32, 0, kSize32, 0);
      return;
    }
    const int t = node.left->dataType;
    if (!(IsNumberType(t) || IsDateTimeType(t))) {
      Fail(name + " aggregate function " +
           "must contain a numeric, date, time, or timestamp expression" + In());
    }
    node.SetType(t, node.left->subType, node.left->size, node.left->scale);
    return;
  }

  switch (code) {
    case kFnUpper:
    case kFnLower:
      Analyse(node.left);
      requireStringOrMemo(node.left,
                          "Type mismatch between " + name + " function and function argument");
      node.SetType(node.left->dataType, node.left->subType, node.left->size, node.left->scale);
      break;
    case kFnSubstring: {
      Analyse(node.left);
      requireStringOrMemo(node.left,
                          "Expression argument of SUBSTRING function must be a string or memo");
      Analyse(node.right);
      std::int64_t from = 0, count = 0;
      if (!IntegerConstant(node.right, from)) {
        Fail("FROM argument of SUBSTRING function must be an integer constant" + In());
      }
      if (from < 1) {
        Fail("FROM argument of SUBSTRING function must be an integer constant greater than 0" +
             In());
      }
      if (node.third) {
        Analyse(node.third);
        if (!IntegerConstant(node.third, count)) {
          Fail("FOR argument of SUBSTRING function must be an integer constant" + In());
        }
        if (count < 1) {
          Fail("FOR argument of SUBSTRING function must be an integer constant greater than 0" +
               In());
        }
      }
      const TExpToken& x = *node.left;
      int size = x.size;
      if (x.dataType == kFieldString) {
        const std::int64_t s = node.third ? count + 1 : x.size - from + 1;
        size = static_cast<int>(std::clamp<std::int64_t>(s, 1, std::max(x.size, 1)));
      }
      node.SetType(x.dataType, x.subType, size, x.scale);
      break;
    }
    case kFnReplace:
      Analyse(node.left);
      Analyse(node.right);
      Analyse(node.third);
      requireStringOrMemo(node.third, "IN argument of REPLACE function must be a string or memo");
      requireStringConstant(node.left,
                            "Search argument of REPLACE function must be a string constant");
      requireStringConstant(node.right,
                            "WITH argument of REPLACE function must be a string constant");
      node.SetType(node.third->dataType, node.third->subType, node.third->size, node.third->scale);
      break;
    case kFnPos:
    case kFnOccurs:
      Analyse(node.left);
      Analyse(node.right);
      requireStringOrMemo(node.right,
                          "Type mismatch between " + name + " function and IN argument");
      requireStringConstant(
          node.left, "Search string argument of " + name + " function must be a string constant");
      node.SetType(kFieldInt32, 0, kSize32, 0);
      break;
    case kFnTrimLeading:
    case kFnTrimTrailing:
    case kFnTrimBoth:
      Analyse(node.left);
      Analyse(node.right);
      requireStringOrMemo(node.right, "FROM argument of TRIM function must be a string or memo");
      RevertToString(node.left);
      if (!IsStringConstant(node.left) || node.left->isNull || node.left->AsString().size() != 1) {
        Fail("Trim character argument of TRIM function must be a single character constant" + In());
      }
      node.SetType(node.right->dataType, node.right->subType, node.right->size, node.right->scale);
      break;
    case kFnExtractYear:
    case kFnExtractMonth:
    case kFnExtractDay:
    case kFnExtractDayOfWeek:
    case kFnExtractHour:
    case kFnExtractMinute:
    case kFnExtractSecond:
      Analyse(node.left);
      if (!IsDateTimeType(node.left->dataType)) {
        Fail("FROM argument of EXTRACT function must be a date, time, or timestamp" + In());
      }
      node.SetType(kFieldInt32, 0, kSize32, 0);
      break;
    case kFnCast: {
      Analyse(node.left);
      if (!CastAllowed(*node.left, node.dataType)) {
        Fail("Type mismatch between " + std::string(KindOf(*node.left)) + " " + "'" +
             node.left->text + "'" + " and AS argument" + In());
      }
      CheckDataTypeArguments(node, context_.errorCode, context_.tableName, context_.contextName);
      break;
    }
    case kFnIf: {
      Analyse(node.left);
      Analyse(node.right);
      Analyse(node.third);
      if (node.left->dataType != kFieldBoolean) {
        Fail("First expression argument of IF function must be a boolean type" + In());
      }
      TExpToken& a = *node.right;
      TExpToken& b = *node.third;
      const bool aNull = a.IsNullConstant();
      const bool bNull = b.IsNullConstant();
      if (aNull && bNull) {
        Fail("At least one of the second and third IF expression arguments" + In() +
             " must be a non-NULL value");
      }
      if (aNull) a.SetType(b.dataType, b.subType, b.size, b.scale);
      if (bNull) b.SetType(a.dataType, a.subType, a.size, a.scale);
      if (a.dataType != b.dataType || a.subType != b.subType) {
        Fail("Type mismatch between second and third IF expression arguments" + In());
      }
      node.SetType(a.dataType, a.subType, std::max(a.size, b.size), std::max(a.scale, b.scale));
      break;
    }
    case kFnAbs: {
      Analyse(node.left);
      const int t = node.left->dataType;
      if (!IsNumberType(t)) {
        Fail("Expression argument of ABS function must be an integer or floating-point type" +
             In());
      }
      node.SetType(t, node.left->subType, node.left->size, node.left->scale);
      break;
    }
    case kFnRound: {
      Analyse(node.left);
      const int t = node.left->dataType;
      if (t != kFieldFloat && t != kFieldBcd) {
        Fail("Expression argument of ROUND function must be a floating-point type" + In());
      }
      if (node.right) {
        Analyse(node.right);
        if (!IntegerConstant(node.right, value)) {
          Fail("Decimal places argument of ROUND function must be an integer constant" + In());
        }
        if (value < 0 || value > 32) {
          Fail(
              "Decimal places argument of ROUND function must be an integer constant between 0 "
              "and 32" +
              In());
        }
      }
      node.SetType(kFieldFloat, 0, kSize64, 0);
      break;
    }
    default:
      break;
  }
}

}  // namespace

bool FieldListResolver::ResolveColumn(TExpToken& node) {
  if (!node.correlationName.empty() && !EqualIgnoringCase(node.correlationName, tableName_)) {
    return false;
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const TFieldDefinition& field = fields_[i];
    if (!EqualIgnoringCase(field.Name(), node.columnName)) continue;
    node.fieldNo = static_cast<int>(i) + 1;
    int size = static_cast<int>(StorageSizeOf(field.Type(), field.Size()));
    if (field.Type() == kFieldBlob) size = kSize64;
    node.SetType(field.Type(), field.Subtype(), size,
                 field.Type() == kFieldBcd ? field.Scale() : 0);
    return true;
  }
  return false;
}

void AnalyseExpression(const AnalysisContext& context, ExpTree& tree) {
  if (!tree) return;
  Analyser analyser(context);
  TExpToken* root = tree.release();
  // The root is held in a raw slot so that a rewrite can replace it; it goes
  // back into the owner whether the analysis succeeds or fails.
  struct Restore {
    ExpTree& owner;
    TExpToken*& root;
    ~Restore() { owner.reset(root); }
  } restore{tree, root};
  analyser.Analyse(root);
  analyser.RewriteCondition(root);
}

}  // namespace engine
