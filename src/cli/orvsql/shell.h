// One shell session: an engine session whose directory is DIR, and the
// execution of one statement at a time with its output.
//
// A SELECT prints a header line of its result column names and one line per
// row, fields separated by a tab (sql_result_text.h gives each value's form);
// INSERT, UPDATE and DELETE print "N rows affected"; CREATE TABLE and DROP
// TABLE print "OK". A failure prints "error CODE: MESSAGE" on standard error.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace engine {
class TDataSession;
class TDataDirectory;
}  // namespace engine

namespace orvsql {

class Shell {
 public:
  // `directory`: a host or Windows path (empty: the current directory).
  explicit Shell(const std::string& directory);
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  // Runs one statement; false when it failed.
  bool Run(const std::string& statement, std::FILE* out, std::FILE* err);

 private:
  std::unique_ptr<engine::TDataSession> session_;
  engine::TDataDirectory* directory_ = nullptr;
};

}  // namespace orvsql
