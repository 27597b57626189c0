// The hidden greeting; see greeting.h.
#include "app/core/greeting.h"

#include "platform/system.h"

namespace app {

void ShowGreeting(std::string_view library) {
  platform::DynamicLibrary greeting;  // released on every path when it goes out of scope
  if (!greeting.Load(library)) return;
  void* entry = greeting.GetProcAddress(kGreetingEntry);
  if (entry == nullptr) return;
  reinterpret_cast<GreetingEntry>(entry)(kGreetingArgument);
}

}  // namespace app
