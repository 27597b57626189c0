// The scan of a query's SQL text for named parameters, which also makes the
// text handed to the engine.
//
// Outside quotes a colon followed by a name makes a parameter and becomes
// "?" (the name removed); two colons in a row stand for one literal colon; a
// colon followed by no name stays as it is. Single and double quotes open a
// quoted part that ends at the same quote character; colons inside it are
// literal. A name runs from the colon to the end of the text or the first
// carriage return, line feed, blank, ")", "," or ";" outside quotes; a name
// that starts with a quote is taken between its quotes (one leading and one
// trailing single quote, then double quote, are stripped).
//   values (:pFileName,:pFileTime)  ->  values (?,?)  with pFileName, pFileTime
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace engine {

struct TParamScan {
  std::string engineText;
  std::vector<std::string> names;  // in text order; a name may repeat
};

TParamScan ScanParams(std::string_view text);

}  // namespace engine
