// The wildcard matcher.
//
// The matcher walks pattern and text together. A '*' hands the rest to the
// star procedure, which tries the rest of the pattern at each text position
// whose character could start it. One character set S (with its negation
// flag) is shared by the whole match, including the recursive starts of the
// matcher, and each start empties it; "*<set>" loads S so that the star
// procedure only lets characters of the set pass. These rules give, among
// others:
//
//   pattern  text        result      pattern   text   result
//   *.*      readme      no          abc**     abc    no
//   *.txt    a.txt.bak   no          *?        a      no
//   *<a-z>   abc         yes         *<a-z>    ab1    no
#include "zip/wildcard.h"

#include <string>
#include <vector>

namespace zip {
namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

class Matcher {
 public:
  // Both strings already lowercased.
  int Match(std::string_view pattern, std::string_view text) {
    set_.clear();
    negated_ = false;
    std::size_t p = 0;
    std::size_t t = 0;
    int result = kWildContinue;
    while (result == kWildContinue && p < pattern.size()) {
      if (t >= text.size()) {
        result = (pattern[p] == '*' && p + 1 == pattern.size()) ? kWildMatch : kWildTextEnded;
        break;
      }
      switch (pattern[p]) {
        case '*': {
          std::size_t rest = p;  // the star procedure skips the '*' itself
          if (p + 1 < pattern.size() && pattern[p + 1] == '<') {
            std::size_t after = 0;
            if (!ReadSet(pattern, p + 1, after)) {
              result = kWildMalformed;
              break;
            }
            if (set_.empty()) {
              result = kWildTextEnded;
              break;
            }
            p = after;
            rest = after;
          } else {
            set_.clear();
            negated_ = false;
          }
          const int answer = Star(pattern.substr(std::min(rest, pattern.size())), text.substr(t));
          if (answer != kWildContinue) {
            result = answer;
          } else {
            ++p;
            ++t;
          }
          break;
        }
        case '<': {
          std::size_t after = 0;
          if (!ReadSet(pattern, p, after) || set_.empty()) {
            result = kWildMalformed;
            break;
          }
          if (InSet(text[t]) == negated_) {
            result = kWildSetMismatch;
            break;
          }
          p = after;
          ++t;
          break;
        }
        case '?':
          ++p;
          ++t;
          break;
        default:
          if (pattern[p] != text[t]) {
            result = kWildLiteralMismatch;
          } else {
            ++p;
            ++t;
          }
          break;
      }
    }
    if (result == kWildContinue) result = (t < text.size()) ? kWildPatternEnded : kWildMatch;
    return result;
  }

 private:
  // Reads the set that starts with '<' at `open` into S; `after` gets the
  // position behind its '>'. False for a malformed set. Each item is a
  // single character or a range x-y, kept as a (low, high) pair.
  bool ReadSet(std::string_view pattern, std::size_t open, std::size_t& after) {
    set_.clear();
    negated_ = false;
    std::size_t i = open + 1;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
      negated_ = true;
      ++i;
    }
    while (true) {
      if (i >= pattern.size()) return false;  // runs off the end: no closing '>'
      const char c = pattern[i];
      if (c == '>') break;
      if (i + 1 < pattern.size() && pattern[i + 1] == '-') {
        if (i + 2 >= pattern.size() || pattern[i + 2] == '>') return false;
        set_.push_back({c, pattern[i + 2]});
        i += 3;
      } else {
        set_.push_back({c, c});
        ++i;
      }
    }
    after = i + 1;
    return true;
  }

  bool InSet(char c) const {
    const auto u = static_cast<unsigned char>(c);
    for (const auto& item : set_) {
      // A range written high to low matches nothing.
      if (static_cast<unsigned char>(item.low) <= u && u <= static_cast<unsigned char>(item.high)) {
        return true;
      }
    }
    return false;
  }

  int Star(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    const bool hadPattern = !pattern.empty();
    while (t < text.size() && p < pattern.size() && (pattern[p] == '*' || pattern[p] == '?')) {
      if (pattern[p] == '?') ++t;
      ++p;
    }
    if (t >= text.size()) return kWildTextEnded;
    if (hadPattern && p >= pattern.size()) return kWildMatch;
    const std::string_view rest = pattern.substr(p);
    int last = kWildContinue;
    while (true) {
      if (!rest.empty() && (rest[0] == text[t] || rest[0] == '<')) {
        last = Match(rest, text.substr(t));
      }
      if (t >= text.size()) return kWildTextEnded;
      if (last != kWildMatch && !set_.empty() && InSet(text[t]) == negated_) {
        return kWildTextEnded;
      }
      ++t;
      if (last == kWildMatch || t >= text.size()) {
        return (rest.empty() && t >= text.size()) ? kWildMatch : last;
      }
    }
  }

  struct Range {
    char low;
    char high;
  };
  std::vector<Range> set_;
  bool negated_ = false;
};

}  // namespace

int WildcardResult(std::string_view pattern, std::string_view text) {
  if (pattern == "*") return kWildMatch;
  const std::string p = LowerAscii(pattern);
  const std::string t = LowerAscii(text);
  Matcher matcher;
  return matcher.Match(p, t);
}

bool HasWildcards(std::string_view name) {
  return name.find_first_of("*<>?|") != std::string_view::npos;
}

}  // namespace zip
