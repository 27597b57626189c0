// Clock, sleep, thread and process identity, and dynamic libraries on POSIX.
//
// The tick count is a steady clock in milliseconds cut to 32 bits, so it wraps
// after about 49.7 days exactly as GetTickCount does; callers subtract two
// readings as unsigned numbers. Dynamic libraries are loaded with dlopen by the
// name as given; failures come back as Windows error numbers.
#include "platform/system.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/win_error.h"

namespace platform {

std::uint32_t GetTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint32_t GetCurrentThreadId() {
  // The kernel's thread id: unique among live threads and never 0.
  thread_local const std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
  return id;
}

std::uint32_t GetCurrentProcessId() {
  return static_cast<std::uint32_t>(::getpid());
}

DynamicLibrary::~DynamicLibrary() {
  Free();
}

bool DynamicLibrary::Load(std::string_view name) {
  Free();
  if (name.empty()) {
    SetLastError(kErrorModNotFound);
    return false;
  }
  const std::string file(name);
  handle_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    SetLastError(kErrorModNotFound);
    return false;
  }
  return true;
}

void* DynamicLibrary::GetProcAddress(std::string_view entry) const {
  if (handle_ == nullptr) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  const std::string symbol(entry);
  ::dlerror();  // clear a stale message
  void* address = ::dlsym(handle_, symbol.c_str());
  if (address == nullptr) SetLastError(kErrorProcNotFound);
  return address;
}

void DynamicLibrary::Free() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace platform
