// Typed access to a stored index descriptor: see index_format.h.
#include "engine/storage/index_format.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/data_file_bytes.h"

namespace engine {

std::string TIndexDescriptor::Name() const {
  const std::size_t length =
      std::min<std::size_t>(FBytes[kDescName], static_cast<std::size_t>(kMaxIndexNameLength));
  return std::string(reinterpret_cast<const char*>(FBytes + kDescName + 1), length);
}

void TIndexDescriptor::SetName(std::string_view name) {
  const std::size_t length = std::min(name.size(), static_cast<std::size_t>(kMaxIndexNameLength));
  std::memset(FBytes + kDescName, 0, kMaxIndexNameLength + 1);
  FBytes[kDescName] = static_cast<std::uint8_t>(length);
  std::memcpy(FBytes + kDescName + 1, name.data(), length);
}

std::int16_t TIndexDescriptor::KeyLength() const {
  return bytes::GetI16(FBytes + kDescKeyLength);
}
void TIndexDescriptor::SetKeyLength(std::int16_t length) {
  bytes::PutI16(FBytes + kDescKeyLength, length);
}
std::int16_t TIndexDescriptor::FieldNumber(int i) const {
  return bytes::GetI16(FBytes + kDescFieldNumbers + 2 * static_cast<std::size_t>(i));
}
void TIndexDescriptor::SetFieldNumber(int i, std::int16_t number) {
  bytes::PutI16(FBytes + kDescFieldNumbers + 2 * static_cast<std::size_t>(i), number);
}
std::int32_t TIndexDescriptor::Root() const {
  return bytes::GetI32(FBytes + kDescRoot);
}
void TIndexDescriptor::SetRoot(std::int32_t position) {
  bytes::PutI32(FBytes + kDescRoot, position);
}
std::int32_t TIndexDescriptor::FirstFree() const {
  return bytes::GetI32(FBytes + kDescFirstFree);
}
void TIndexDescriptor::SetFirstFree(std::int32_t position) {
  bytes::PutI32(FBytes + kDescFirstFree, position);
}

}  // namespace engine
