// Splits the shell's input into statements. A statement ends with a ';' that
// is the last character of a line (trailing blanks aside) and lies outside
// quotes ('...' and "..." with doubled quotes inside), bracketed names and
// /* */ comments; a statement may span lines. Text after the last ';' at the
// end of the input is a statement of its own unless it is blank.
#pragma once

#include <optional>
#include <string>

namespace orvsql {

class StatementReader {
 public:
  // Takes one line (without its newline); answers a completed statement.
  std::optional<std::string> AddLine(const std::string& line);
  // At the end of the input: what is left, unless it is blank.
  std::optional<std::string> Finish();
  bool Pending() const { return !text_.empty(); }

 private:
  enum class State { Plain, SingleQuote, DoubleQuote, Bracket, Comment };
  // Scans `line` and answers whether it ends the statement.
  bool Scan(const std::string& line);

  std::string text_;
  State state_ = State::Plain;
};

}  // namespace orvsql
