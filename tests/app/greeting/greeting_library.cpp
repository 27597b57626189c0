// A stand-in for the external greeting library, for tests. Its one entry
// (named by ORV_GREETING_ENTRY at build time) appends the argument it was
// called with, in decimal and followed by a newline, to the file named by the
// environment variable TAVRENNA_RECORD; without that variable it does nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void ORV_GREETING_ENTRY(std::int32_t value) {
  const char* record = std::getenv("TAVRENNA_RECORD");
  if (record == nullptr) return;
  if (std::FILE* file = std::fopen(record, "a")) {
    std::fprintf(file, "%d\n", static_cast<int>(value));
    std::fclose(file);
  }
}
