// Raising the messages of the expression language (see expr_error.h).
#include "engine/sql/expr_error.h"

#include "engine/errors.h"

namespace engine {

void RaiseExpressionError(int errorCode, std::string_view tableName, std::string_view message) {
  RaiseEngineError(errorCode, tableName, {}, message.substr(0, kMaxExpressionMessage), {});
}

}  // namespace engine
