// Names several processes must agree on byte for byte. A file found without
// regard to case has one spelling on disk; a companion file named after that
// spelling (a table's journal beside its data file) is then the same name in
// every process, and its presence is one exact look-up instead of a search of
// the directory for a name equal ignoring case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The host path of the existing file `windowsPath`, spelled as on disk;
// nullopt (with the Windows error) when it does not exist.
std::optional<std::string> ExistingHostPath(std::string_view windowsPath);
// Whether `hostPath` exists exactly as spelled (no case folding).
bool HostPathExists(std::string_view hostPath);
// The size of `hostPath` exactly as spelled; -1 when it does not exist. One
// look-up, like HostPathExists.
std::int64_t HostPathSize(std::string_view hostPath);
// Reads up to `size` bytes from the start of `hostPath` exactly as spelled,
// without taking part in the sharing rules of opened files (a look at a
// file's first bytes, as a look-up is at its size); the number of bytes
// read, -1 when it cannot be opened or read.
std::int64_t ReadHostPathStart(std::string_view hostPath, void* into, std::size_t size);

}  // namespace platform
