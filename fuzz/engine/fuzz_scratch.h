// Shared set-up of the engine fuzzers: a scratch directory mapped to drive
// F: and removed when the fuzzer exits, and table creation.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "engine/table/data_cursor.h"
#include "platform/paths.h"

namespace fuzz_scratch {

// A fresh directory (in memory when /dev/shm exists: the engine flushes every
// change, which a memory file system keeps cheap), mapped to F:.
inline std::string MakeDriveF() {
  static std::string scratch;
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
  std::string templ = (base / "orv-fuzz-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) std::abort();
  scratch = templ;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
  });
  platform::SetDrive('F', templ);
  return templ;
}

inline void CreateTable(engine::TDataDirectory* dir, const std::string& name,
                        const engine::TTableDefinition& definition) {
  engine::TDataCursor create(dir, name);
  engine::TCursorOptions exclusive;
  exclusive.exclusive = true;
  create.SetOptions(exclusive);
  create.CreateTable(definition);
}

}  // namespace fuzz_scratch
