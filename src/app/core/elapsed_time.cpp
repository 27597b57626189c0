// Formatting of a run's elapsed time; see elapsed_time.h.
#include "app/core/elapsed_time.h"

#include <cstdio>

namespace app {

std::string FormatElapsed(std::chrono::milliseconds elapsed) {
  using namespace std::chrono;
  if (elapsed < milliseconds::zero()) elapsed = milliseconds::zero();
  const auto h = duration_cast<hours>(elapsed);
  const auto m = duration_cast<minutes>(elapsed - h);
  const auto s = duration_cast<seconds>(elapsed - h - m);
  const auto ms = elapsed - h - m - s;
  char text[40];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%03lld", static_cast<long long>(h.count()),
                static_cast<long long>(m.count()), static_cast<long long>(s.count()),
                static_cast<long long>(ms.count()));
  return text;
}

}  // namespace app
