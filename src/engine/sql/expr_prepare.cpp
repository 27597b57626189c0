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
  // The constants of an IN list (linked by `next`) or one BETWEEN bound,
  // each converted as the right operand of a comparison.
  TExpToken* ConvertedList(const TExpToken& first, const TExpToken& left, TExpToken* parent,
                           bool wholeList);

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
  const bool list = source.tokenClass == kClassExtended && source.left != nullptr &&
                    (source.code == kOpInList || source.code == kOpNotInList);
  const bool range = source.tokenClass == kClassExtended && source.left != nullptr &&
                     (source.code == kOpBetween || source.code == kOpNotBetween);
  if (source.left) node->left = Copy(*source.left, node.get());
  if (comparison && IsSignedConstant(source.right)) {
    node->right = ConvertedConstant(*source.right, *source.left, node.get());
  } else if ((list || range) && source.right) {
    node->right = ConvertedList(*source.right, *source.left, node.get(), list);
  } else if (source.right) {
    node->right = Copy(*source.right, node.get());
  }
  if (range && source.third) {
    node->third = ConvertedList(*source.third, *source.left, node.get(), false);
  } else if (source.third) {
    node->third = Copy(*source.third, node.get());
  }
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
    // A lone '*' leaves the empty string (not NULL), compared over its whole
    // length: no stored string is empty, so = matches nothing and <> every row.
    constant.SetString(stem);
    constant.isNull = false;
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

TExpToken* Preparer::ConvertedList(const TExpToken& first, const TExpToken& left, TExpToken* parent,
                                   bool wholeList) {
  for (const TExpToken* item = &first; item != nullptr; item = wholeList ? item->next : nullptr) {
    if (!IsSignedConstant(item)) return Copy(first, parent);  // copied as written
  }
  ExpTree head;
  TExpToken* last = nullptr;
  for (const TExpToken* item = &first; item != nullptr; item = wholeList ? item->next : nullptr) {
    TExpToken* converted = ConvertedConstant(*item, left, parent);
    if (last == nullptr) {
      head.reset(converted);
    } else {
      last->next = converted;
    }
    last = converted;
  }
  return head.release();
}

}  // namespace

ExpTree PrepareExpression(const TExpToken& tree, const PrepareOptions& options) {
  Preparer preparer(options);
  return ExpTree(preparer.Copy(tree, nullptr));
}

}  // namespace engine
