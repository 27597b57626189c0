// Helpers of the crash-safety tests: a forked child whose death is seen, a
// byte-exact dump of a table's rows, and a saved copy of a directory.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/table/data_cursor.h"
#include "engine/table/data_directory.h"
#include "engine/table/data_session.h"

namespace crash_test {

// Deterministic content of a given length for row `seed`: different rows
// differ in every block, so a block written to the wrong place shows.
inline std::string Content(int seed, std::size_t length) {
  std::string s(length, '\0');
  std::uint32_t x = 2654435761u * static_cast<std::uint32_t>(seed + 1);
  for (char& ch : s) {
    x = x * 1103515245u + 12345u;
    ch = static_cast<char>(x >> 24);
  }
  return s;
}

// How a child ended: killed by a signal, or its body's answer.
struct ChildEnd {
  bool killed = false;
  int answer = -1;
};

// Runs `body` in a forked child and waits for it. Fork only while this
// process holds no table open: the child must not share its handles.
inline ChildEnd RunInChild(const std::function<int()>& body) {
  int answers[2];
  if (::pipe(answers) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(answers[0]);
    int answer = -1;
    try {
      answer = body();
    } catch (...) {
      answer = -2;
    }
    if (::write(answers[1], &answer, sizeof answer) != sizeof answer) ::_exit(3);
    ::_exit(0);
  }
  ::close(answers[1]);
  ChildEnd end;
  if (::read(answers[0], &end.answer, sizeof end.answer) != sizeof end.answer) end.answer = -1;
  ::close(answers[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  end.killed = WIFSIGNALED(status);
  return end;
}

// Every row in primary-key order, each field's stored bytes and each BLOB's
// content, length-prefixed: equal dumps are byte-identical tables.
inline std::string DumpRows(engine::TDataCursor& c) {
  std::string dump;
  auto add = [&](const std::vector<std::uint8_t>& bytes) {
    dump += std::to_string(bytes.size()) + ":";
    dump.append(bytes.begin(), bytes.end());
  };
  c.First();
  engine::TDataCursor::TRecordBuffer record;
  while (c.Next(&record) == 0) {
    for (std::uint32_t f = 1; f <= c.FieldCount(); ++f) {
      if (c.Fields()[f - 1].Type() == engine::kFieldBlob) {
        add(c.GetBlob(record, f));
      } else {
        add(c.GetField(record, f));
      }
    }
    dump += '\n';
  }
  return dump;
}

// Copies every file of `from` into `to` (replacing what `to` held).
inline void CopyDirectory(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::remove_all(to);
  std::filesystem::create_directories(to);
  for (const auto& entry : std::filesystem::directory_iterator(from)) {
    std::filesystem::copy_file(entry.path(), to / entry.path().filename());
  }
}

// The long loops run when ORV_CRASH_LOOPS=full (see the README).
inline bool FullCrashLoops() {
  const char* mode = std::getenv("ORV_CRASH_LOOPS");
  return mode != nullptr && std::string(mode) == "full";
}

// Key CHAR(keyChars), Alias CHAR(keyChars), Num INTEGER, Data BLOB (fields 1
// to 4): primary key Key, ByAlias on Alias, ByNum on Num and Alias. Wide keys
// make few entries to an index page, so a few dozen rows split pages.
inline engine::TTableDefinition KeyAliasNumData(std::uint8_t keyChars) {
  engine::TTableDefinition d;
  engine::AppendField(d.fields, "Key", engine::kFieldString, keyChars);
  engine::AppendField(d.fields, "Alias", engine::kFieldString, keyChars);
  engine::AppendField(d.fields, "Num", engine::kFieldInt32);
  engine::AppendField(d.fields, "Data", engine::kFieldBlob).SetSubtype(engine::kSubtypeBinary);
  engine::TIndexDefinition primary;
  primary.fieldNumbers = {1};
  engine::TIndexDefinition byAlias;
  byAlias.name = "ByAlias";
  byAlias.fieldNumbers = {2};
  engine::TIndexDefinition byNum;
  byNum.name = "ByNum";
  byNum.fieldNumbers = {3, 2};
  d.indexes = {primary, byAlias, byNum};
  return d;
}

}  // namespace crash_test
