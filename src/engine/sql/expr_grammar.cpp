// The expression grammar of TExpressionParser (levels in expr_parser.h).
//
// Each level returns an owned subtree (ExpTree); a subtree is attached to its
// parent only once the parent exists, so an error at any point frees every
// node built so far. Grammar messages that name the current token are
// completed by FailAtToken: the message, the token's text, "'", " in " and the
// context name.
#include <charconv>
#include <limits>

#include "engine/sql/expr_parser.h"
#include "engine/values/format_settings.h"
#include "engine/values/value_text.h"

namespace engine {

class TExpressionParser::Nesting {
 public:
  explicit Nesting(TExpressionParser& parser) : parser_(parser) {
    if (++parser_.depth_ > kMaxNesting) {
      --parser_.depth_;
      parser_.Fail("Expression is nested too deeply" + parser_.InContext());
    }
  }
  ~Nesting() { --parser_.depth_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  TExpressionParser& parser_;
};

namespace {

// Height of the tallest tree a parse may return: the analysis and the
// evaluation walk trees recursively.
constexpr int kMaxTreeHeight = 1000;

ExpTree MakeNode(int tokenClass, int code, std::string_view text) {
  ExpTree node = NewToken();
  node->tokenClass = tokenClass;
  node->code = code;
  node->text = text;
  return node;
}

void Attach(TExpToken& parent, TExpToken*& slot, ExpTree child) {
  child->parent = &parent;
  slot = child.release();
}

ExpTree MakeOperator(int tokenClass, int code, std::string_view text, ExpTree left,
                     ExpTree right = nullptr) {
  ExpTree node = MakeNode(tokenClass, code, text);
  Attach(*node, node->left, std::move(left));
  if (right) Attach(*node, node->right, std::move(right));
  return node;
}

ExpTree MakeNullConstant() {
  ExpTree node = MakeNode(kClassConstant, 0, "NULL");
  node->isNull = true;
  return node;
}

// A correlation name written as a file name stands for the file's name
// without directory and extension.
std::string CorrelationFromName(std::string_view name) {
  const std::size_t slash = name.find_last_of("\\/:");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name.substr(0, kMaxTokenName));
}

int TreeHeight(const TExpToken& root) {
  struct Item {
    const TExpToken* node;
    int depth;
  };
  std::vector<Item> pending{{&root, 1}};
  int height = 0;
  while (!pending.empty()) {
    const Item item = pending.back();
    pending.pop_back();
    height = std::max(height, item.depth);
    for (const TExpToken* child : {item.node->left, item.node->right, item.node->third}) {
      if (child) pending.push_back({child, item.depth + 1});
    }
    if (item.node->next) pending.push_back({item.node->next, item.depth});
  }
  return height;
}

struct FunctionKeyword {
  std::string_view name;
  int code;
};

// Functions with their own grammar (class 10). EXTRACT and TRIM carry the
// code of their part or side, chosen while parsing.
constexpr FunctionKeyword kFunctions[] = {
    {"UPPER", kFnUpper},     {"LOWER", kFnLower}, {"SUBSTRING", kFnSubstring},
    {"REPLACE", kFnReplace}, {"POS", kFnPos},     {"OCCURS", kFnOccurs},
    {"TRIM", kFnTrimBoth},   {"CAST", kFnCast},   {"EXTRACT", kFnExtractYear},
    {"IF", kFnIf},           {"ABS", kFnAbs},     {"ROUND", kFnRound},
};

constexpr FunctionKeyword kAggregates[] = {
    {"SUM", kFnSum}, {"COUNT", kFnCount}, {"MIN", kFnMin}, {"MAX", kFnMax}, {"AVG", kFnAvg},
};

constexpr FunctionKeyword kExtractParts[] = {
    {"YEAR", kFnExtractYear},           {"MONTH", kFnExtractMonth}, {"DAY", kFnExtractDay},
    {"DAYOFWEEK", kFnExtractDayOfWeek}, {"HOUR", kFnExtractHour},   {"MINUTE", kFnExtractMinute},
    {"SECOND", kFnExtractSecond},
};

constexpr FunctionKeyword kTrimSides[] = {
    {"LEADING", kFnTrimLeading}, {"TRAILING", kFnTrimTrailing}, {"BOTH", kFnTrimBoth}};

}  // namespace

void TExpressionParser::Expect(char c, std::string_view message) const {
  if (kind_ != static_cast<unsigned char>(c)) FailAtToken(message);
}

void TExpressionParser::ExpectKeyword(std::string_view keyword, std::string_view message) const {
  if (!IsKeyword(keyword)) FailAtToken(message);
}

template <typename Level>
ExpTree TExpressionParser::ParseWhole(Level level) {
  expressionStart_ = tokenStart_;
  expressionEnd_ = tokenStart_;
  if (kind_ == kTokenEnd) return nullptr;
  const std::size_t parametersBefore = parameters_ ? parameters_->size() : 0;
  try {
    ExpTree tree = level();
    if (TreeHeight(*tree) > kMaxTreeHeight) {
      Fail("Expression is nested too deeply" + InContext());
    }
    expressionEnd_ = previousEnd_;
    return tree;
  } catch (...) {
    if (parameters_) parameters_->resize(parametersBefore);  // those nodes are gone
    throw;
  }
}

ExpTree TExpressionParser::ParseExpression(int permissions) {
  return ParseWhole([&] { return ParseOr(permissions); });
}

ExpTree TExpressionParser::ParseTerm(int permissions) {
  return ParseWhole([&] { return ParseUnary(permissions); });
}

ExpTree TExpressionParser::ParseOr(int permissions) {
  Nesting nesting(*this);
  ExpTree left = ParseAnd(permissions);
  while (IsKeyword("OR")) {
    const std::string text = TokenText();
    ReadToken();
    ExpTree right = ParseAnd(permissions);
    left = MakeOperator(kClassBinary, kOpOr, text, std::move(left), std::move(right));
  }
  return left;
}

ExpTree TExpressionParser::ParseAnd(int permissions) {
  ExpTree left = ParseNot(permissions);
  while (IsKeyword("AND")) {
    const std::string text = TokenText();
    ReadToken();
    ExpTree right = ParseNot(permissions);
    left = MakeOperator(kClassBinary, kOpAnd, text, std::move(left), std::move(right));
  }
  return left;
}

ExpTree TExpressionParser::ParseNot(int permissions) {
  if (!IsKeyword("NOT")) return ParsePredicate(permissions);
  const std::string text = TokenText();
  ReadToken();
  return MakeOperator(kClassUnary, kOpNot, text, ParsePredicate(permissions));
}

ExpTree TExpressionParser::ParsePredicate(int permissions) {
  ExpTree left = ParseAdditive(permissions);
  int code = 0;
  std::string text;
  switch (kind_) {
    case '=':
      code = kOpEqual, text = "=";
      ReadToken();
      break;
    case '<':
      ReadToken();
      if (kind_ == '>') {
        code = kOpNotEqual, text = "<>";
        ReadToken();
      } else if (kind_ == '=') {
        code = kOpLessEqual, text = "<=";
        ReadToken();
      } else {
        code = kOpLess, text = "<";
      }
      break;
    case '>':
      ReadToken();
      if (kind_ == '=') {
        code = kOpGreaterEqual, text = ">=";
        ReadToken();
      } else {
        code = kOpGreater, text = ">";
      }
      break;
    default:
      if (IsKeyword("NOT") || IsKeyword("LIKE") || IsKeyword("BETWEEN") || IsKeyword("IN") ||
          IsKeyword("IS")) {
        return ParseExtended(std::move(left), permissions);
      }
      return left;
  }
  ExpTree right = ParseAdditive(permissions);
  return MakeOperator(kClassBinary, code, text, std::move(left), std::move(right));
}

ExpTree TExpressionParser::ParseExtended(ExpTree left, int permissions) {
  if ((permissions & kPermitExtended) == 0) {
    Fail("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed" + InContext());
  }
  if (IsKeyword("IS")) {
    ReadToken();
    bool negated = false;
    if (IsKeyword("NOT")) {
      negated = true;
      ReadToken();
    }
    if (!IsKeyword("NULL")) {
      Fail("Unknown or unexpected symbol '" + TokenText() + "'" + " found in " + contextName_);
    }
    ReadToken();
    return MakeOperator(kClassBinary, negated ? kOpNotEqual : kOpEqual, negated ? "<>" : "=",
                        std::move(left), MakeNullConstant());
  }
  bool negated = false;
  if (IsKeyword("NOT")) {
    negated = true;
    ReadToken();
    if (!IsKeyword("LIKE") && !IsKeyword("BETWEEN") && !IsKeyword("IN")) {
      Fail("Unknown or unexpected symbol '" + TokenText() + "'" + InContext());
    }
  }
  if (IsKeyword("BETWEEN")) {
    ReadToken();
    ExpTree low = ParseAdditive(permissions);
    ExpectKeyword("AND", "Expected AND operator in BETWEEN operator, instead found '");
    ReadToken();
    ExpTree high = ParseAdditive(permissions);
    ExpTree node =
        MakeOperator(kClassExtended, negated ? kOpNotBetween : kOpBetween,
                     negated ? "NOT BETWEEN" : "BETWEEN", std::move(left), std::move(low));
    Attach(*node, node->third, std::move(high));
    return node;
  }
  if (IsKeyword("LIKE")) {
    ReadToken();
    ExpTree pattern = ParseAdditive(permissions);
    return MakeOperator(kClassExtended, negated ? kOpNotLike : kOpLike,
                        negated ? "NOT LIKE" : "LIKE", std::move(left), std::move(pattern));
  }
  // IN
  ReadToken();
  Expect('(', negated ? "Expected left parentheses for IN operator, instead found '"
                      : "Expected left parentheses after IN operator, instead found '");
  ReadToken();
  ExpTree node;
  if (IsKeyword("SELECT")) {
    if ((permissions & kPermitSubSelects) == 0 || !subSelectParser_) {
      Fail("Sub-select queries are not allowed" + InContext());
    }
    ExpTree select = MakeNode(kClassSubSelect, 0, "SELECT");
    subSelectParser_(*this, *select);
    node = MakeOperator(kClassExtended, negated ? kOpNotInSelect : kOpInSelect,
                        negated ? "NOT IN" : "IN", std::move(left), std::move(select));
  } else {
    if (kind_ == ')') {
      Fail("You must provide at least one value as an operand of the IN operator " + InContext());
    }
    node = MakeOperator(kClassExtended, negated ? kOpNotInList : kOpInList,
                        negated ? "NOT IN" : "IN", std::move(left));
    TExpToken** link = &node->right;
    for (;;) {
      ExpTree item = ParseAdditive(permissions);
      Attach(*node, *link, std::move(item));
      link = &(*link)->next;
      if (kind_ != ',') break;
      ReadToken();
    }
  }
  Expect(')', "Expected right parentheses after IN operator, instead found '");
  ReadToken();
  return node;
}

ExpTree TExpressionParser::ParseAdditive(int permissions) {
  ExpTree left = ParseMultiplicative(permissions);
  for (;;) {
    int code;
    std::string text;
    if (kind_ == '+') {
      code = kOpAdd, text = "+";
    } else if (kind_ == '-') {
      code = kOpSubtract, text = "-";
    } else if (kind_ == '|') {
      ReadToken();
      Expect('|',
             "Second concatenation symbol '|' expected after first concatentation symbol, "
             "instead found '");
      code = kOpAdd, text = "||";
    } else {
      return left;
    }
    ReadToken();
    ExpTree right = ParseMultiplicative(permissions);
    left = MakeOperator(kClassBinary, code, text, std::move(left), std::move(right));
  }
}

ExpTree TExpressionParser::ParseMultiplicative(int permissions) {
  ExpTree left = ParseUnary(permissions);
  while (kind_ == '*' || kind_ == '/') {
    const int code = kind_ == '*' ? kOpMultiply : kOpDivide;
    const std::string text = kind_ == '*' ? "*" : "/";
    ReadToken();
    ExpTree right = ParseUnary(permissions);
    left = MakeOperator(kClassBinary, code, text, std::move(left), std::move(right));
  }
  return left;
}

ExpTree TExpressionParser::ParseUnary(int permissions) {
  if (kind_ != '+' && kind_ != '-') return ParsePrimary(permissions);
  const int code = kind_ == '-' ? kOpNegate : kOpPlusSign;
  const std::string text = kind_ == '-' ? "-" : "+";
  ReadToken();
  return MakeOperator(kClassUnary, code, text, ParsePrimary(permissions));
}

ExpTree TExpressionParser::ParsePrimary(int permissions) {
  Nesting nesting(*this);
  switch (kind_) {
    case kTokenSymbol:
      return ParseSymbol(permissions);
    case kTokenBracketed: {
      std::string name = TokenText();
      ReadToken();
      return ParseColumn(std::move(name), permissions);
    }
    case kTokenString: {
      std::string text = TokenText();
      ReadToken();
      if (kind_ == '.') return ParseColumn(std::move(text), permissions);
      ExpTree node = MakeNode(kClassConstant, 0, text);
      node->SetString(text);
      node->SetType(kFieldString, 0, static_cast<int>(text.size()) + 1, 0);
      node->isNull = text.empty();  // '' is the NULL constant
      return node;
    }
    case kTokenCharacter: {
      const std::string text = TokenText();
      int code = -1;
      const char* digits = text.data() + 1;
      const auto [end, ec] = std::from_chars(digits, text.data() + text.size(), code);
      if (text.size() < 2 || ec != std::errc() || end != text.data() + text.size() || code < 0 ||
          code > 255) {
        Fail("Character constants (#) must be within the range of 0 to 255" + InContext());
      }
      ReadToken();
      ExpTree node = MakeNode(kClassConstant, 0, text);
      node->SetString(std::string(1, static_cast<char>(code)));
      node->SetType(kFieldString, 0, 2, 0);
      return node;
    }
    case kTokenInteger:
    case kTokenFloat:
      return ParseNumber();
    case '(': {
      ReadToken();
      ExpTree inner = ParseOr(permissions);
      Expect(')', "Right parentheses expected, instead found '");
      ReadToken();
      return inner;
    }
    case '*':
      if (permissions & kPermitAllColumns) {
        ReadToken();
        ExpTree node = MakeNode(kClassColumn, 0, "*");
        node->columnName = "*";
        return node;
      }
      break;
    case '?': {
      if ((permissions & kPermitParameters) == 0) Fail("Parameters are not allowed" + InContext());
      ReadToken();
      ExpTree node = MakeNode(kClassConstant, 0, "?");
      node->isParameter = true;
      node->isNull = true;
      if (parameters_) parameters_->push_back(node.get());
      return node;
    }
    default:
      break;
  }
  Fail("Unknown or unexpected symbol '" + TokenText() + "'" + " found in " + contextName_);
}

ExpTree TExpressionParser::ParseNumber() {
  const std::string text = TokenText();
  const FormatSettings& settings = CurrentFormatSettings();
  ExpTree node = MakeNode(kClassConstant, 0, text);
  if (kind_ == kTokenInteger) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec == std::errc() && end == text.data() + text.size() &&
        v <= std::numeric_limits<std::int32_t>::max()) {
      node->SetInt32(static_cast<std::int32_t>(v));
      node->SetType(kFieldInt32, 0, kSize32, 0);
      ReadToken();
      return node;
    }
  }
  const std::optional<double> v = ReadFloat(text, settings);
  if (!v) Fail("Constant '" + text + "'" + " is not a valid number " + InContext());
  node->SetDouble(*v);
  node->SetType(kFieldFloat, 0, kSize64, 0);
  ReadToken();
  return node;
}

ExpTree TExpressionParser::ParseSymbol(int permissions) {
  for (const FunctionKeyword& f : kFunctions) {
    if (IsKeyword(f.name)) return ParseFunction(permissions);
  }
  const std::string text = TokenText();
  if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    ExpTree node = MakeNode(kClassConstant, 0, text);
    node->SetBoolean(IsKeyword("TRUE"));
    node->SetType(kFieldBoolean, 0, kSize16, 0);
    ReadToken();
    return node;
  }
  if (IsKeyword("NULL")) {
    ReadToken();
    ExpTree node = MakeNullConstant();
    node->text = text;
    return node;
  }
  if (IsKeyword("CURRENT_DATE") || IsKeyword("CURRENT_TIME") || IsKeyword("CURRENT_TIMESTAMP")) {
    const LocalDateTime now = CurrentLocalDateTime();
    ExpTree node = MakeNode(kClassConstant, 0, text);
    if (IsKeyword("CURRENT_DATE")) {
      node->SetInt32(now.dayNumber);
      node->SetType(kFieldDate, 0, kSize32, 0);
    } else if (IsKeyword("CURRENT_TIME")) {
      node->SetInt32(now.milliseconds);
      node->SetType(kFieldTime, 0, kSize32, 0);
    } else {
      node->SetDouble(static_cast<double>(now.dayNumber) * static_cast<double>(kMsPerDay) +
                      now.milliseconds);
      node->SetType(kFieldTimestamp, 0, kSize64, 0);
    }
    ReadToken();
    return node;
  }
  for (const FunctionKeyword& a : kAggregates) {
    if (!IsKeyword(a.name)) continue;
    ReadToken();
    // A column may carry an aggregate's name where aggregates are not allowed.
    if ((permissions & kPermitAggregates) == 0) {
      if (kind_ == '(') Fail("Aggregate functions are not allowed" + InContext());
      return ParseColumn(text, permissions);
    }
    return ParseAggregate(a.code, permissions);
  }
  ReadToken();
  if (kind_ == '(') {
    Fail("Unknown or unexpected function '" + text + "'" + " found in " + contextName_);
  }
  return ParseColumn(text, permissions);
}

ExpTree TExpressionParser::ParseColumn(std::string name, int permissions) {
  ExpTree node = MakeNode(kClassColumn, 0, name);
  if (kind_ != '.') {
    node->columnName = name.substr(0, kMaxTokenName);
    return node;
  }
  node->correlationName = CorrelationFromName(name);
  ReadToken();
  if (kind_ == kTokenSymbol || kind_ == kTokenBracketed || kind_ == kTokenString) {
    node->columnName = TokenText().substr(0, kMaxTokenName);
  } else if (kind_ == '*') {
    if ((permissions & kPermitAllColumns) == 0) {
      Fail("* (all columns) symbol is not allowed" + InContext());
    }
    node->columnName = "*";
  } else {
    FailAtToken(
        "Symbol or string expression expected after table correlation name separator '.', "
        "instead found '");
  }
  node->text = name + "." + node->columnName;
  ReadToken();
  return node;
}

ExpTree TExpressionParser::ParseAggregate(int code, int permissions) {
  std::string name;
  for (const FunctionKeyword& a : kAggregates) {
    if (a.code == code) name = a.name;
  }
  Expect('(', "Left parentheses expectedafter aggregate function '" + name + "'" +
                  ", instead found " + "'");
  ReadToken();
  ExpTree argument;
  if (code == kFnCount && kind_ == '*') {
    ReadToken();
    argument = MakeNode(kClassColumn, 0, "*");
    argument->columnName = "*";
  } else {
    argument = ParseAdditive(permissions);
  }
  Expect(')', "Right parentheses expected after aggregate " + name +
                  " function argument, instead found " + "'");
  ReadToken();
  return MakeOperator(kClassFunction, code, name, std::move(argument));
}

ExpTree TExpressionParser::ParseFunction(int permissions) {
  std::string name;
  int code = 0;
  for (const FunctionKeyword& f : kFunctions) {
    if (IsKeyword(f.name)) name = f.name, code = f.code;
  }
  ExpTree node = MakeNode(kClassFunction, code, name);
  ReadToken();
  const std::string left = "Left parentheses expected after " + name + " keyword, instead found '";
  const std::string leftJoined =  // these messages are written without the blank
      "Left parentheses expectedafter " + name + " keyword, instead found '";
  const std::string rightOne =
      "Right parentheses expected after " + name + " function argument, instead found '";
  const std::string rightMany =
      "Right parentheses expected after " + name + " function arguments, instead found '";

  switch (code) {
    case kFnUpper:
    case kFnLower:
    case kFnAbs:
      Expect('(', leftJoined);
      ReadToken();
      Attach(*node, node->left, ParseAdditive(permissions));
      Expect(')', rightOne);
      break;
    case kFnSubstring:
      Expect('(', left);
      ReadToken();
      Attach(*node, node->left, ParseAdditive(permissions));
      ExpectKeyword("FROM",
                    "FROM keyword expected after first SUBSTRING function argument, instead "
                    "found '");
      ReadToken();
      Attach(*node, node->right, ParsePrimary(permissions));
      if (IsKeyword("FOR")) {
        ReadToken();
        Attach(*node, node->third, ParsePrimary(permissions));
      }
      Expect(')', rightMany);
      break;
    case kFnReplace:
      Expect('(', left);
      ReadToken();
      Attach(*node, node->left, ParseAdditive(permissions));
      ExpectKeyword("WITH",
                    "WITH keyword expected after first REPLACE function argument, instead found '");
      ReadToken();
      Attach(*node, node->right, ParseAdditive(permissions));
      ExpectKeyword("IN",
                    "IN keyword expected after second REPLACE function argument, instead found '");
      ReadToken();
      Attach(*node, node->third, ParsePrimary(permissions));
      Expect(')', rightMany);
      break;
    case kFnPos:
    case kFnOccurs:
      Expect('(', left);
      ReadToken();
      Attach(*node, node->left, ParseAdditive(permissions));
      ExpectKeyword(
          "IN", "IN keyword expected after first " + name + " function argument, instead found '");
      ReadToken();
      Attach(*node, node->right, ParsePrimary(permissions));
      Expect(')', rightMany);
      break;
    case kFnTrimBoth: {
      Expect('(', left);
      ReadToken();
      int side = 0;
      for (const FunctionKeyword& s : kTrimSides) {
        if (IsKeyword(s.name)) side = s.code;
      }
      if (side == 0) {
        FailAtToken(
            "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
      }
      node->code = side;
      ReadToken();
      Attach(*node, node->left, ParsePrimary(permissions));
      ExpectKeyword("FROM",
                    "FROM keyword expected after second TRIM function argument, instead found '");
      ReadToken();
      Attach(*node, node->right, ParseAdditive(permissions));
      Expect(')', rightMany);
      break;
    }
    case kFnCast:
      Expect('(', left);
      ReadToken();
      Attach(*node, node->left, ParseOr(permissions));
      ExpectKeyword("AS",
                    "AS keyword expected after first CAST function argument, instead found '");
      ReadToken();
      ParseDataType(*node, true);
      Expect(')', rightMany);
      break;
    case kFnExtractYear: {
      Expect('(', left);
      ReadToken();
      int part = 0;
      for (const FunctionKeyword& p : kExtractParts) {
        if (IsKeyword(p.name)) part = p.code;
      }
      if (part == 0) {
        FailAtToken(
            "YEAR, MONTH, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT "
            "keyword, instead found '");
      }
      node->code = part;
      ReadToken();
      ExpectKeyword(
          "FROM", "FROM keyword expected after second EXTRACT function argument, instead found '");
      ReadToken();
      Attach(*node, node->left, ParsePrimary(permissions));
      Expect(')', rightMany);
      break;
    }
    case kFnIf:
      Expect('(', leftJoined);
      ReadToken();
      Attach(*node, node->left, ParseOr(permissions));
      ExpectKeyword("THEN",
                    "THEN keyword expected after first IF function argument, instead found '");
      ReadToken();
      Attach(*node, node->right, ParseAdditive(permissions));
      ExpectKeyword("ELSE",
                    "ELSE keyword expected after second IF function argument, instead found '");
      ReadToken();
      Attach(*node, node->third, ParseAdditive(permissions));
      Expect(')', rightMany);
      break;
    case kFnRound:
      Expect('(', leftJoined);
      ReadToken();
      Attach(*node, node->left, ParseAdditive(permissions));
      if (IsKeyword("TO")) {
        ReadToken();
        Attach(*node, node->right, ParseAdditive(permissions));
      }
      Expect(')', rightMany);
      break;
    default:
      break;
  }
  ReadToken();  // the closing parenthesis
  return node;
}

}  // namespace engine
