// The lexer of TExpressionParser (token kinds in expr_parser.h).
//
// Every scan reads through At(), which answers 0 past the end of the text, so
// the scanner can never read outside its private copy.
#include <array>

#include "engine/sql/expr_error.h"
#include "engine/sql/expr_parser.h"
#include "engine/values/format_settings.h"

namespace engine {
namespace {

// Character classes of the lexer, one row per byte value.
enum CharClass : std::uint8_t {
  kOther = 0,
  kBlank = 1,   // 1..32: skipped between tokens
  kLetter = 2,  // A-Z a-z _ 129..254: starts and continues a symbol
  kDigit = 3,
};

constexpr std::array<std::uint8_t, 256> MakeClasses() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 1; c <= 32; ++c) classes[c] = kBlank;
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = kLetter;
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = kLetter;
  classes['_'] = kLetter;
  for (int c = 129; c <= 254; ++c) classes[c] = kLetter;
  for (int c = '0'; c <= '9'; ++c) classes[c] = kDigit;
  return classes;
}

constexpr std::array<std::uint8_t, 256> kClasses = MakeClasses();

std::uint8_t ClassOf(char c) {
  return kClasses[static_cast<unsigned char>(c)];
}

// How much of an unterminated string or name a message shows.
constexpr std::size_t kFragmentLength = 30;  // bytes

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

TExpressionParser::TExpressionParser(int errorCode, std::string_view tableName,
                                     std::string_view contextName)
    : errorCode_(errorCode), tableName_(tableName) {
  SetContextName(contextName);
}

void TExpressionParser::SetContextName(std::string_view name) {
  contextName_ = name.substr(0, kMaxContextNameLength);
}

void TExpressionParser::SetText(std::string_view text) {
  const std::size_t zero = text.find('\0');
  text_ = text.substr(0, zero);
  pos_ = tokenStart_ = tokenEnd_ = previousEnd_ = 0;
  expressionStart_ = expressionEnd_ = 0;
  kind_ = kTokenEnd;
}

void TExpressionParser::Fail(std::string_view message) const {
  RaiseExpressionError(errorCode_, tableName_, message);
}

void TExpressionParser::FailAtToken(std::string_view prefix) const {
  Fail(std::string(prefix) + TokenText() + "'" + InContext());
}

void TExpressionParser::FailUnterminated(std::string_view prefix, std::size_t contentStart) const {
  const std::string fragment = text_.substr(contentStart, kFragmentLength);
  Fail(std::string(prefix) + fragment + "'" + InContext());
}

void TExpressionParser::SkipBlanksAndComments() {
  for (;;) {
    while (ClassOf(At(pos_)) == kBlank) ++pos_;
    if (At(pos_) != '/' || At(pos_ + 1) != '*') return;
    const std::size_t close = text_.find("*/", pos_ + 2);
    if (close == std::string::npos) {
      Fail("Missing ending comment slash and asterisk" + InContext());
    }
    pos_ = close + 2;
  }
}

int TExpressionParser::ReadToken() {
  previousEnd_ = tokenEnd_;
  SkipBlanksAndComments();
  tokenStart_ = pos_;
  const char c = At(pos_);
  const char decimal = CurrentFormatSettings().decimalSeparator;
  if (c == '\0') {
    kind_ = kTokenEnd;
  } else if (ClassOf(c) == kLetter) {
    ++pos_;
    while (ClassOf(At(pos_)) == kLetter || ClassOf(At(pos_)) == kDigit) ++pos_;
    kind_ = kTokenSymbol;
  } else if (c == '#') {
    ++pos_;
    while (ClassOf(At(pos_)) == kDigit) ++pos_;
    kind_ = kTokenCharacter;
  } else if (c == '\'' || c == '"') {
    ScanString(c);
  } else if (c == '[') {
    ScanBracketed();
  } else if (ClassOf(c) == kDigit) {
    ScanNumber();
  } else if (c == decimal && ClassOf(At(pos_ + 1)) == kDigit) {
    ScanFraction();
  } else {
    ++pos_;
    kind_ = static_cast<unsigned char>(c);
  }
  tokenEnd_ = pos_;
  return kind_;
}

void TExpressionParser::ScanString(char quote) {
  const std::size_t contentStart = pos_ + 1;
  pos_ = contentStart;
  for (;;) {
    const char c = At(pos_);
    if (c == '\0') {
      FailUnterminated(
          quote == '\'' ? "Missing single quote after '" : "Missing double quote after '",
          contentStart);
    }
    if (c == quote) {
      if (At(pos_ + 1) == quote) {
        pos_ += 2;  // a doubled quote stands for one
        continue;
      }
      ++pos_;
      break;
    }
    ++pos_;
  }
  kind_ = kTokenString;
}

void TExpressionParser::ScanBracketed() {
  const std::size_t contentStart = pos_ + 1;
  const std::size_t close = text_.find(']', contentStart);
  if (close == std::string::npos) FailUnterminated("Missing right bracket after '", contentStart);
  pos_ = close + 1;
  kind_ = kTokenBracketed;
}

void TExpressionParser::ScanNumber() {
  const char decimal = CurrentFormatSettings().decimalSeparator;
  while (ClassOf(At(pos_)) == kDigit) ++pos_;
  kind_ = kTokenInteger;
  for (;;) {
    const char c = At(pos_);
    const char before = pos_ > tokenStart_ ? text_[pos_ - 1] : '\0';
    const bool afterExponent = before == 'E' || before == 'e';
    if (ClassOf(c) == kDigit || c == 'E' || c == 'e' || c == decimal ||
        ((c == '+' || c == '-') && afterExponent)) {
      ++pos_;
      kind_ = kTokenFloat;
    } else {
      break;
    }
  }
}

void TExpressionParser::ScanFraction() {
  ++pos_;  // the decimal separator
  for (;;) {
    const char c = At(pos_);
    const char before = text_[pos_ - 1];
    const bool afterExponent = before == 'E' || before == 'e';
    if (ClassOf(c) == kDigit || c == 'E' || c == 'e' || ((c == '+' || c == '-') && afterExponent)) {
      ++pos_;
    } else {
      break;
    }
  }
  kind_ = kTokenFloat;
}

bool TExpressionParser::IsKeyword(std::string_view keyword) const {
  if (kind_ != kTokenSymbol || tokenEnd_ - tokenStart_ != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    if (UpperAscii(text_[tokenStart_ + i]) != UpperAscii(keyword[i])) return false;
  }
  return true;
}

std::string TExpressionParser::TokenText() const {
  std::string_view raw(text_.data() + tokenStart_, tokenEnd_ - tokenStart_);
  if ((kind_ == kTokenString || kind_ == kTokenBracketed) && raw.size() >= 2) {
    raw = raw.substr(1, raw.size() - 2);
  }
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    out += raw[i];
    if ((raw[i] == '\'' || raw[i] == '"') && i + 1 < raw.size() && raw[i + 1] == raw[i]) ++i;
  }
  return out;
}

std::string TExpressionParser::ExpressionText() const {
  std::string out;
  if (expressionEnd_ <= expressionStart_) return out;
  for (std::size_t i = expressionStart_; i < expressionEnd_ && i < text_.size(); ++i) {
    if (text_[i] != '\r' && text_[i] != '\n') out += text_[i];
  }
  return out;
}

}  // namespace engine
