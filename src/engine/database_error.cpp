// The component layer's database errors: formatting and raising.
#include "engine/database_error.h"

namespace engine {

std::string FormatDatabaseMessage(std::string_view text, std::string_view name) {
  std::string out(text);
  const std::size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, name);
  return out;
}

void RaiseDatabaseError(std::string_view text, std::string_view name) {
  throw EDatabaseError(FormatDatabaseMessage(text, name));
}

}  // namespace engine
