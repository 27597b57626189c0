// Raising the messages of the expression language as engine errors.
//
// Every parse, analysis and evaluation message is raised with the error code
// of the caller: 11949 for SQL ("SQL error - %s") or 10051 for filters
// ("Filter error for table '%s' - %s", with the filtered table's name). The
// message is cut to 255 bytes.
#pragma once

#include <string>
#include <string_view>

namespace engine {

inline constexpr std::size_t kMaxExpressionMessage = 255;  // bytes

[[noreturn]] void RaiseExpressionError(int errorCode, std::string_view tableName,
                                       std::string_view message);

}  // namespace engine
