// One shell session: a database component whose directory is DIR, and the
// execution of one statement at a time through a query component, with the
// named parameters given on the command line and the statement's output.
//
// A SELECT is opened and prints a header line of its result column names and
// one line per row, fields separated by a tab (sql_result_text.h gives each
// value's form); INSERT, UPDATE and DELETE print "N rows affected"; the data
// definition statements print "OK". A failure prints "error CODE: MESSAGE" on
// standard error (code 0 for the components' own errors).
//
// Parameters: each ":name" of a statement is bound from the values given by
// name (ignoring case): a text, converted as the parameter's use needs, or a
// BLOB read whole from a file. A parameter without a value fails the
// statement.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace engine {
class TZORVADDatabase;
}  // namespace engine

namespace orvsql {

// A value given for a named parameter.
struct ParamValue {
  std::string text;  // the value, or the path of the file (host or Windows path)
  bool fromFile = false;
};

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using ParamValues = std::map<std::string, ParamValue, CaseInsensitiveLess>;

class Shell {
 public:
  // `directory`: a host or Windows path (empty: the current directory).
  Shell(const std::string& directory, ParamValues params);
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // Runs one statement; false when it failed.
  bool Run(const std::string& statement, std::FILE* out, std::FILE* err);

 private:
  std::unique_ptr<engine::TZORVADDatabase> database_;
  ParamValues params_;
};

}  // namespace orvsql
