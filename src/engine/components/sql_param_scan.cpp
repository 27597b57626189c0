// The parameter scan of SQL texts (see sql_param_scan.h).
#include "engine/components/sql_param_scan.h"

namespace engine {
namespace {

constexpr char kParamMark = ':';
constexpr char kPlaceholder = '?';

bool IsQuote(char c) {
  return c == '\'' || c == '"';
}

bool EndsName(char c) {
  return c == '\r' || c == '\n' || c == ' ' || c == ')' || c == ',' || c == ';';
}

// One leading and one trailing `quote` removed, when both are there.
std::string StripQuotes(std::string name, char quote) {
  if (name.size() >= 2 && name.front() == quote && name.back() == quote)
    return name.substr(1, name.size() - 2);
  if (!name.empty() && name.front() == quote) return name.substr(1);
  return name;
}

}  // namespace

TParamScan ScanParams(std::string_view text) {
  TParamScan scan;
  std::string& out = scan.engineText;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsQuote(c)) {  // a quoted part, copied as it stands
      const std::size_t end = text.find(c, i + 1);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end + 1;
      out.append(text.substr(i, stop - i));
      i = stop;
      continue;
    }
    if (c != kParamMark) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == kParamMark) {
      out.push_back(kParamMark);
      i += 2;
      continue;
    }
    // The name: up to a terminator outside quotes.
    std::size_t j = i + 1;
    char quote = 0;
    while (j < text.size()) {
      const char n = text[j];
      if (quote != 0) {
        if (n == quote) quote = 0;
      } else if (IsQuote(n)) {
        quote = n;
      } else if (EndsName(n)) {
        break;
      }
      ++j;
    }
    std::string name(text.substr(i + 1, j - i - 1));
    if (name.empty()) {
      out.push_back(kParamMark);
      ++i;
      continue;
    }
    name = StripQuotes(StripQuotes(std::move(name), '\''), '"');
    scan.names.push_back(std::move(name));
    out.push_back(kPlaceholder);
    i = j;
  }
  return scan;
}

}  // namespace engine
