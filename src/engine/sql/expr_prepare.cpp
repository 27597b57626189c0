// Preparing conditions for filtering (see expr_prepare.h).
#include "engine/sql/expr_prepare.h"

#include "engine/sql/expr_eval.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_convert.h"

namespace engine {
namespace {

// A constant, or a sign over a constant.
bool IsSignedConstant(const TExpToken* node) {
  if (node == nullptr) return false;
  if (node->tokenClass == kClassConstant) return true;
  return node->tokenClass == kClassUnary && node->code != kOpNot && node->left &&
         node->left->tokenClass == kClassConstant;
}

bool IsStringConstant(const TExpToken* node) {
  return node && node->tokenClass == kClassConstant && node->dataType == kFieldString;
}

class Preparer {
 public:
  explicit Preparer(const PrepareOptions& options) : options_(options) {}

  TExpToken* Copy(const TExpToken& source, TExpToken* parent);

 private:
  TExpToken* PrepareStringComparison(const TExpToken& source, TExpToken* parent);
  TExpToken* ConvertedConstant(const TExpToken& constant, const TExpToken& left, TExpToken* parent);

  const PrepareOptions& options_;
};

TExpToken* Preparer::Copy(const TExpToken& source, TExpToken* parent) {
  const bool comparison = source.tokenClass == kClassBinary && IsComparisonCode(source.code) &&
                          source.left != nullptr && source.right != nullptr;
  if (comparison && (source.code == kOpEqual || source.code == kOpNotEqual) &&
      IsStringConstant(source.right)) {
    const std::string_view text = source.right->AsString();
    const bool star = !source.right->isNull && !text.empty() && text.back() == '*';
    if (star || options_.caseInsensitive) return PrepareStringComparison(source, parent);
  }
  ExpTree node = NewToken();
  *node = source;
  node->parent = parent;
  node->left = node->right = node->third = node->next = nullptr;
  if (source.left) node->left = Copy(*source.left, node.get());
  if (comparison && IsSignedConstant(source.right)) {
    node->right = ConvertedConstant(*source.right, *source.left, node.get());
  } else if (source.right) {
    node->right = Copy(*source.right, node.get());
  }
  if (source.third) node->third = Copy(*source.third, node.get());
  if (source.next) node->next = Copy(*source.next, parent);
  return node.release();
}

TExpToken* Preparer::PrepareStringComparison(const TExpToken& source, TExpToken* parent) {
  ExpTree node = NewToken();
  *node = source;
  node->parent = parent;
  node->left = node->right = node->third = node->next = nullptr;
  node->tokenClass = kClassStringCompare;
  node->caseInsensitive = options_.caseInsensitive;
  node->partialLength = 0;
  node->left = Copy(*source.left, node.get());
  node->right = Copy(*source.right, node.get());
  TExpToken& constant = *node->right;
  const std::string_view text = constant.AsString();
  if (options_.partialCompare && !constant.isNull && !text.empty() && text.back() == '*') {
    const std::string stem(text.substr(0, text.size() - 1));
    node->partialLength = static_cast<int>(stem.size());
    constant.SetString(stem);
    constant.isNull = stem.empty();
  }
  if (source.next) node->next = Copy(*source.next, parent);
  return node.release();
}

TExpToken* Preparer::ConvertedConstant(const TExpToken& constant, const TExpToken& left,
                                       TExpToken* parent) {
  EvaluationContext context;
  context.collation = options_.collation;
  ExpTree value = EvaluateExpression(constant, context);
  value->text = constant.text;
  value->parent = parent;
  if (value->isNull || value->dataType == kFieldString || left.dataType == 0 ||
      value->dataType == left.dataType) {
    return value.release();
  }
  ExpTree converted = NewToken();
  converted->tokenClass = kClassConstant;
  converted->text = constant.text;
  converted->parent = parent;
  converted->SetType(left.dataType, left.subType, left.size, left.scale);
  bool exact;
  {
    FormatSettingsScope settings(options_.collation.languageId, options_.collation.sortId);
    exact = ConvertValue(*value, *converted);
  }
  if (exact) {
    // The converted constant must still denote the same value.
    EvaluationContext compare;
    compare.collation = options_.collation;
    ExpTree equal = NewToken();
    equal->tokenClass = kClassBinary;
    equal->code = kOpEqual;
    equal->SetType(kFieldBoolean, 0, kSize16, 0);
    equal->left = converted.get();
    equal->right = value.get();
    exact = EvaluateCondition(*equal, compare);
    equal->left = equal->right = nullptr;
  }
  return exact ? converted.release() : value.release();
}

}  // namespace

ExpTree PrepareExpression(const TExpToken& tree, const PrepareOptions& options) {
  Preparer preparer(options);
  return ExpTree(preparer.Copy(tree, nullptr));
}

}  // namespace engine
