// Little-endian reads and writes of the integers stored in the data and BLOB
// files.
//
// Every stored integer of those files is little-endian. These helpers take a
// pointer and are used only where the caller has already checked that the
// bytes lie inside the buffer (a fixed-size header image, a record of known
// size, a block of known size); they never allocate and never fail.
#pragma once

#include <cstdint>
#include <cstring>

namespace engine::bytes {

inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t GetI16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(GetU16(p));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(GetU32(p));
}
inline std::int64_t GetI64(const std::uint8_t* p) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(GetU32(p)) |
                                   (static_cast<std::uint64_t>(GetU32(p + 4)) << 32));
}
inline double GetF64(const std::uint8_t* p) {
  const std::uint64_t bits = static_cast<std::uint64_t>(GetI64(p));
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutI16(std::uint8_t* p, std::int16_t v) {
  PutU16(p, static_cast<std::uint16_t>(v));
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI32(std::uint8_t* p, std::int32_t v) {
  PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutI64(std::uint8_t* p, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  PutU32(p, static_cast<std::uint32_t>(u));
  PutU32(p + 4, static_cast<std::uint32_t>(u >> 32));
}
inline void PutF64(std::uint8_t* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutI64(p, static_cast<std::int64_t>(bits));
}

}  // namespace engine::bytes
