// Splitting the shell's input into statements (statement_reader.h).
#include "statement_reader.h"

namespace orvsql {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

bool AllBlank(const std::string& s) {
  for (const char c : s)
    if (!IsBlank(c) && c != '\n') return false;
  return true;
}

}  // namespace

bool StatementReader::Scan(const std::string& line) {
  // The position just after the last ';' seen in plain text, or npos.
  std::size_t lastSemicolon = std::string::npos;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const char next = i + 1 < line.size() ? line[i + 1] : '\0';
    switch (state_) {
      case State::Plain:
        if (c == '\'') state_ = State::SingleQuote;
        if (c == '"') state_ = State::DoubleQuote;
        if (c == '[') state_ = State::Bracket;
        if (c == '/' && next == '*') {
          state_ = State::Comment;
          ++i;
        }
        if (c == ';') lastSemicolon = i + 1;
        break;
      case State::SingleQuote:
      case State::DoubleQuote: {
        const char quote = state_ == State::SingleQuote ? '\'' : '"';
        if (c == quote) {
          if (next == quote) {
            ++i;  // a doubled quote stands for one
          } else {
            state_ = State::Plain;
          }
        }
        break;
      }
      case State::Bracket:
        if (c == ']') state_ = State::Plain;
        break;
      case State::Comment:
        if (c == '*' && next == '/') {
          state_ = State::Plain;
          ++i;
        }
        break;
    }
  }
  if (state_ != State::Plain || lastSemicolon == std::string::npos) return false;
  for (std::size_t i = lastSemicolon; i < line.size(); ++i)
    if (!IsBlank(line[i])) return false;
  return true;
}

std::optional<std::string> StatementReader::AddLine(const std::string& line) {
  const bool ends = Scan(line);
  if (!text_.empty()) text_ += '\n';
  text_ += line;
  if (!ends) return std::nullopt;
  std::string statement;
  statement.swap(text_);
  state_ = State::Plain;
  if (AllBlank(statement)) return std::nullopt;
  return statement;
}

std::optional<std::string> StatementReader::Finish() {
  std::string statement;
  statement.swap(text_);
  state_ = State::Plain;
  if (AllBlank(statement)) return std::nullopt;
  return statement;
}

}  // namespace orvsql
