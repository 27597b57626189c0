// The elapsed-time text of a run: "HH:NN:SS:ZZZ", hours, minutes, seconds and
// milliseconds, each zero-padded (two minutes, five seconds and 317
// milliseconds read "00:02:05:317"). A run longer than a day keeps counting
// hours ("25:00:00:000") rather than starting again at 00.
#pragma once

#include <chrono>
#include <string>

namespace app {

std::string FormatElapsed(std::chrono::milliseconds elapsed);

}  // namespace app
