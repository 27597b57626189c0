// The state of one TOrvZip::Zip run (private to the writer's sources).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/buffered_stream.h"
#include "zip/deflate.h"
#include "zip/sorted_zip.h"
#include "zip/zip_records.h"
#include "zip/zip_writer.h"

namespace zip {

struct TOrvZip::Run {
  struct Line {
    std::string path;       // the expanded FilesList line
    std::string storedKey;  // its stored name, lowercased
    bool done;              // handled while carrying over existing entries
  };
  bool update = false;                            // an existing archive is being rewritten
  std::string writing;                            // the file being written (deleted on failure)
  std::unique_ptr<TS_BufferStream> out;           // over the file, or over memory
  std::unique_ptr<DeflateCompressor> compressor;  // allocated on the first deflated entry
  std::unique_ptr<TSortedZip> byName;             // non-owning, detects duplicate names
  std::unique_ptr<TSortedZip> byNone;             // owning, the directory to write
  TEndCentral end;
  std::vector<Line> lines;
  std::vector<std::string> added;  // source files added (for Dispose)
  std::int64_t totalBytes = 0;
  std::int64_t doneBytes = 0;
  int count = 0;
};

// Leading and trailing spaces removed.
std::string Trim(const std::string& text);

}  // namespace zip
