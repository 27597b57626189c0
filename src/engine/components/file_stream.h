// TFileStream: a stream over a file named by a Windows path (through the
// platform layer, so that drive letters and backslashes work as on Windows).
// Opening for reading shares the file; creating truncates it; rewriting opens
// or creates it without truncating, for a writer that cuts it with SetEnd
// after writing (the file's space is reused rather than freed and taken
// again). A file that cannot be opened or created raises EFOpenError /
// EFCreateError.
#pragma once

#include <stdexcept>
#include <string>

#include "engine/components/stream.h"
#include "platform/file.h"

namespace engine {

class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EFCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TFileStream : public TStream {
 public:
  enum class TMode { fmOpenRead, fmCreate, fmRewrite };
  TFileStream(const std::string& path, TMode mode);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t Size() override;
  // Cuts the file at the current position; false when the host refuses.
  bool SetEnd() { return FFile.SetEndOfFile(); }

 private:
  platform::File FFile;
};

// The whole content of a file; EFOpenError when it cannot be opened.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

}  // namespace engine
