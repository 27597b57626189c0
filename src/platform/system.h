// Clock, sleep, thread identity, dynamic libraries and critical sections.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

// Milliseconds from a steady clock, wrapping at 2^32 (GetTickCount).
std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);
// A number identifying the calling thread (never 0).
std::uint32_t GetCurrentThreadId();
std::uint32_t GetCurrentProcessId();

// A critical section: a recursive mutex, entered and left by one thread.
using CriticalSection = std::recursive_mutex;
using CriticalSectionLock = std::lock_guard<std::recursive_mutex>;

// A dynamic library loaded by the name as given (LoadLibrary / GetProcAddress /
// FreeLibrary). Released when destroyed.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // False with kErrorModNotFound when the library cannot be loaded.
  bool Load(std::string_view name);
  // nullptr with kErrorProcNotFound when the entry is missing.
  void* GetProcAddress(std::string_view entry) const;
  void Free();
  bool IsLoaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace platform
