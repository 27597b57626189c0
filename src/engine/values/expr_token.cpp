// Token nodes and their pool (see expr_token.h).
#include "engine/values/expr_token.h"

#include <algorithm>
#include <cstring>

namespace engine {

std::string_view TExpToken::AsString() const {
  const char* data = reinterpret_cast<const char*>(value.data());
  const void* zero = std::memchr(data, 0, value.size());
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data) : value.size();
  return std::string_view(data, length);
}

template <typename T>
T TExpToken::ReadFixed() const {
  std::uint8_t bytes[sizeof(T)] = {};
  std::memcpy(bytes, value.data(), std::min(value.size(), sizeof(T)));
  T v;
  std::memcpy(&v, bytes, sizeof(T));
  return v;
}

template <typename T>
void TExpToken::WriteFixed(T v) {
  value.resize(sizeof(T));
  std::memcpy(value.data(), &v, sizeof(T));
  isNull = false;
}

std::int16_t TExpToken::AsInt16() const {
  return ReadFixed<std::int16_t>();
}
std::uint16_t TExpToken::AsUInt16() const {
  return ReadFixed<std::uint16_t>();
}
std::int32_t TExpToken::AsInt32() const {
  return ReadFixed<std::int32_t>();
}
std::int64_t TExpToken::AsInt64() const {
  return ReadFixed<std::int64_t>();
}
double TExpToken::AsDouble() const {
  return ReadFixed<double>();
}

void TExpToken::SetString(std::string_view s) {
  value.resize(s.size() + 1);
  if (!s.empty()) std::memcpy(value.data(), s.data(), s.size());
  value[s.size()] = 0;
  isNull = false;
}

void TExpToken::SetBytes(const std::uint8_t* data, std::size_t length) {
  value.resize(length);
  if (length != 0) std::memcpy(value.data(), data, length);
  isNull = false;
}

void TExpToken::SetInt16(std::int16_t v) {
  WriteFixed(v);
}
void TExpToken::SetUInt16(std::uint16_t v) {
  WriteFixed(v);
}
void TExpToken::SetInt32(std::int32_t v) {
  WriteFixed(v);
}
void TExpToken::SetInt64(std::int64_t v) {
  WriteFixed(v);
}
void TExpToken::SetDouble(double v) {
  WriteFixed(v);
}

void TExpToken::Reset() {
  std::vector<std::uint8_t> buffer;
  buffer.swap(value);
  *this = TExpToken();
  if (buffer.capacity() <= kInitialValueCapacity) {  // a grown buffer is given back
    buffer.clear();
    value.swap(buffer);
  }
  if (value.capacity() < kInitialValueCapacity) value.reserve(kInitialValueCapacity);
}

TExpTokenStack& TExpTokenStack::Instance() {
  static TExpTokenStack* pool = new TExpTokenStack();  // lives to the end of the process
  return *pool;
}

TExpTokenStack::~TExpTokenStack() {
  for (TExpToken* node : free_) delete node;
}

TExpToken* TExpTokenStack::Take() {
  TExpToken* node = nullptr;
  {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!free_.empty()) {
      node = free_.back();
      free_.pop_back();
    }
  }
  if (node == nullptr) {
    node = new TExpToken();
    node->value.reserve(kInitialValueCapacity);
    return node;
  }
  node->Reset();
  return node;
}

void TExpTokenStack::Give(TExpToken* node) {
  if (node == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  free_.push_back(node);
}

void TExpTokenStack::FreeTree(TExpToken* root) {
  // Iterative, so that a long list or a deep chain cannot exhaust the stack.
  std::vector<TExpToken*> pending;
  if (root != nullptr) pending.push_back(root);
  std::lock_guard<std::recursive_mutex> guard(lock_);
  while (!pending.empty()) {
    TExpToken* node = pending.back();
    pending.pop_back();
    for (TExpToken* child : {node->next, node->third, node->right, node->left}) {
      if (child != nullptr) pending.push_back(child);
    }
    node->left = node->right = node->third = node->next = node->parent = nullptr;
    free_.push_back(node);
  }
}

std::size_t TExpTokenStack::FreeCount() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return free_.size();
}

namespace {

TExpToken* CopyNode(const TExpToken& source, TExpToken* parent) {
  TExpToken* node = TExpTokenStack::Instance().Take();
  ExpTree guard(node);
  *node = source;
  node->parent = parent;
  node->left = node->right = node->third = node->next = nullptr;
  if (source.left) node->left = CopyNode(*source.left, node);
  if (source.right) node->right = CopyNode(*source.right, node);
  if (source.third) node->third = CopyNode(*source.third, node);
  if (source.next) node->next = CopyNode(*source.next, parent);
  return guard.release();
}

}  // namespace

ExpTree CopyTree(const TExpToken& root) {
  return ExpTree(CopyNode(root, nullptr));
}

}  // namespace engine
