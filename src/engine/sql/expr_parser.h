// TExpressionParser: the lexer of the whole SQL dialect and the grammar of
// expressions and data types, building token trees (expr_token.h).
//
// Lexer (expr_lexer.cpp). Bytes up to 32 and /* */ comments separate tokens.
//   kind  token
//    0    end of text (the text ends at its first zero byte)
//    1    symbol: letter, '_' or byte 129..254, then also digits
//    2    bracketed name [ ... ]
//    3    string '...' or "..."; a doubled quote stands for one
//    4    character constant: '#' and digits
//    5    integer number: digits
//    6    float number: digits with the decimal separator or an exponent, or
//         the decimal separator followed by digits
//   other the byte itself, one character: ( ) , . ; = < > + - * / | ? ...
// Two-character operators (<> <= >= ||) are joined by the grammar, so blanks
// may stand between their characters.
//
// Grammar (expr_grammar.cpp), lowest precedence first:
//   or        := and { OR and }
//   and       := not { AND not }
//   not       := [NOT] predicate
//   predicate := additive [ compare additive | extended ]
//   additive  := multiplicative { (+ | - | '|' '|') multiplicative }
//   multiplicative := unary { (* | /) unary }
//   unary     := [+ | -] primary
//   primary   := function | TRUE | FALSE | NULL | CURRENT_DATE | ... | column
//              | constant | ( or ) | * | ?
// Permissions (kPermit...) say which constructs a clause accepts.
//
// The current token is a look-ahead: Parse... functions start at the current
// token and return with the first token after what they parsed as current.
// Numbers are read with the decimal separator of the current format
// settings, so callers parse inside a FormatSettingsScope (format_settings.h).
// A failed parse raises an engine error (expr_error.h) and leaves no nodes
// behind. Nesting deeper than kMaxNesting is refused, so hostile text cannot
// exhaust the stack of the recursive parser or of the tree walks after it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors.h"
#include "engine/values/expr_token.h"

namespace engine {

// Token kinds.
inline constexpr int kTokenEnd = 0;
inline constexpr int kTokenSymbol = 1;
inline constexpr int kTokenBracketed = 2;
inline constexpr int kTokenString = 3;
inline constexpr int kTokenCharacter = 4;
inline constexpr int kTokenInteger = 5;
inline constexpr int kTokenFloat = 6;

// Grammar permissions.
inline constexpr int kPermitAggregates = 1;
inline constexpr int kPermitAllColumns = 2;  // the * column
inline constexpr int kPermitExtended = 4;    // LIKE, BETWEEN, IN, IS NULL
inline constexpr int kPermitParameters = 8;  // ?
inline constexpr int kPermitSubSelects = 16;

inline constexpr std::size_t kMaxContextNameLength = 255;  // bytes
inline constexpr int kMaxNesting = 200;                    // levels of operators and parentheses

class TExpressionParser {
 public:
  // Parses a sub-select at the current token (the keyword SELECT) into
  // `node` (its subQuery and the columns of its block) and returns with the
  // token after the SELECT statement current. Installed by the statement
  // parser.
  using SubSelectParser = std::function<void(TExpressionParser&, TExpToken& node)>;

  TExpressionParser(int errorCode = kErrSql, std::string_view tableName = {},
                    std::string_view contextName = {});

  void* owner = nullptr;  // the statement or cursor that owns the parser

  int ErrorCode() const { return errorCode_; }
  void SetErrorCode(int code) { errorCode_ = code; }
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string_view name) { tableName_ = name; }
  const std::string& ContextName() const { return contextName_; }
  void SetContextName(std::string_view name);
  // Parameter nodes (?) are appended here in the order written, when set.
  void SetParameterList(std::vector<TExpToken*>* parameters) { parameters_ = parameters; }
  void SetSubSelectParser(SubSelectParser parser) { subSelectParser_ = std::move(parser); }

  // ---- Lexer -----------------------------------------------------------------
  void SetText(std::string_view text);
  // Advances to the next token and returns its kind.
  int ReadToken();
  int TokenKind() const { return kind_; }
  bool IsKind(int kind) const { return kind_ == kind; }
  // True when the current token is a symbol equal to `keyword` ignoring case.
  bool IsKeyword(std::string_view keyword) const;
  // The current token's text: without the delimiters of kinds 2 and 3, each
  // doubled quote collapsed to one; empty at the end of the text.
  std::string TokenText() const;
  // Byte offsets of the current token in the text.
  std::size_t TokenStart() const { return tokenStart_; }
  std::size_t TokenEnd() const { return tokenEnd_; }

  // ---- Grammar ---------------------------------------------------------------
  // One expression at the OR level; an empty tree when the text is at its end.
  ExpTree ParseExpression(int permissions);
  // One term: a primary with an optional sign (integer arguments and the
  // single column references of statements); an empty tree at the end.
  ExpTree ParseTerm(int permissions);
  // The last expression as written, without carriage returns and line feeds.
  std::string ExpressionText() const;
  // A data type at the current token into `node` (type, subtype and the
  // argument constants in right and third); see expr_data_type.cpp.
  void ParseDataType(TExpToken& node, bool inExpression);
  // Whether the current token is a data type keyword.
  bool IsDataTypeKeyword() const;
  // Checks the arguments of a parsed data type and sets its size (and scale);
  // messages end with " in " and `name`.
  void CheckDataTypeArguments(TExpToken& node, int errorCode, std::string_view name);

  // Raises `message` with the parser's error code and table name.
  [[noreturn]] void Fail(std::string_view message) const;
  // Raises `prefix` completed with the current token: prefix + token + "'" +
  // " in " + context name.
  [[noreturn]] void FailAtToken(std::string_view prefix) const;
  // " in " + context name.
  std::string InContext() const { return " in " + contextName_; }

 private:
  // Lexer helpers (expr_lexer.cpp).
  void SkipBlanksAndComments();
  void ScanString(char quote);
  void ScanBracketed();
  void ScanNumber();
  void ScanFraction();
  [[noreturn]] void FailUnterminated(std::string_view prefix, std::size_t contentStart) const;
  char At(std::size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }

  // Grammar levels (expr_grammar.cpp). Each returns an owned subtree.
  // Runs one level as a whole expression: records its text's bounds, refuses
  // trees too tall to walk and forgets parameters of a failed parse.
  template <typename Level>
  ExpTree ParseWhole(Level level);
  ExpTree ParseOr(int permissions);
  ExpTree ParseAnd(int permissions);
  ExpTree ParseNot(int permissions);
  ExpTree ParsePredicate(int permissions);
  ExpTree ParseExtended(ExpTree left, int permissions);
  ExpTree ParseAdditive(int permissions);
  ExpTree ParseMultiplicative(int permissions);
  ExpTree ParseUnary(int permissions);
  ExpTree ParsePrimary(int permissions);
  ExpTree ParseSymbol(int permissions);
  ExpTree ParseColumn(std::string name, int permissions);
  ExpTree ParseAggregate(int code, int permissions);
  ExpTree ParseFunction(int permissions);
  ExpTree ParseNumber();
  void Expect(char c, std::string_view message) const;
  void ExpectKeyword(std::string_view keyword, std::string_view message) const;

  class Nesting;  // counts recursion depth, refusing more than kMaxNesting

  int errorCode_;
  std::string tableName_;
  std::string contextName_;
  std::vector<TExpToken*>* parameters_ = nullptr;
  SubSelectParser subSelectParser_;

  std::string text_;            // the private copy, cut at its first zero byte
  std::size_t pos_ = 0;         // where the next token is scanned
  std::size_t tokenStart_ = 0;  // current token
  std::size_t tokenEnd_ = 0;
  std::size_t previousEnd_ = 0;  // end of the token before the current one
  std::size_t expressionStart_ = 0;
  std::size_t expressionEnd_ = 0;
  int kind_ = kTokenEnd;
  int depth_ = 0;
};

// The argument checks of a data type node, raising with `errorCode` and
// `tableName` (the parser member uses its own table name).
void CheckDataTypeArguments(TExpToken& node, int errorCode, std::string_view tableName,
                            std::string_view name);

}  // namespace engine
