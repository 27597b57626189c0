// The greeting behind the hidden key sequence: an external library, not part
// of this program, loaded by name for one call and released again.
#pragma once

#include <cstdint>
#include <string_view>

namespace app {

inline constexpr std::string_view kGreetingLibrary = "Tavrenna.dll";
inline constexpr std::string_view kGreetingEntry = "ShowTavrenna";
// The single argument the entry is called with.
inline constexpr std::int32_t kGreetingArgument = 60;

// The entry's signature: one 32-bit integer, no result.
using GreetingEntry = void (*)(std::int32_t);

// Loads `library`; when it loads and has the entry, calls the entry with
// kGreetingArgument. A missing library or entry does nothing. The library is
// released afterwards, also when the call raises.
void ShowGreeting(std::string_view library = kGreetingLibrary);

}  // namespace app
