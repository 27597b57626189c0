// The wildcard matcher that selects archive entries and files.
//
// Pattern characters: '*' any run of characters, '?' one character, and
// "<...>" a character set ("<a-c>", "<!a-c>" or "<^a-c>" negated). "*<set>"
// stands for a run of characters all from the set. Matching ignores the case
// of ASCII letters. Unlike the file system's matcher, "*.*" requires a dot.
// A malformed pattern simply does not match.
#pragma once

#include <string_view>

namespace zip {

// Result codes of the matcher; only kWildMatch counts as a match.
enum WildResult {
  kWildContinue = 0,         // internal: no decision yet
  kWildMatch = 1,            // the whole text matched
  kWildPatternEnded = 2,     // pattern ended with text left
  kWildTextEnded = 3,        // text ended too early
  kWildSetMismatch = 4,      // a character set did not accept the character
  kWildLiteralMismatch = 5,  // a literal character differed
  kWildMalformed = 6,        // malformed pattern
};

// The matcher's result code for `text` under `pattern`.
int WildcardResult(std::string_view pattern, std::string_view text);
inline bool WildcardMatch(std::string_view pattern, std::string_view text) {
  return WildcardResult(pattern, text) == kWildMatch;
}

// True when `name` contains any of the wildcard characters * < > ? |.
bool HasWildcards(std::string_view name);

}  // namespace zip
