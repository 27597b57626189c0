// The query component's statements as the SQL layer runs them: a
// TQueryStatementPort over the layer's prepared statement (the parser and
// the executor). It is the factory CreateQueryStatement uses unless another
// one is installed.
//
// Parameters reach the executor as its parameter record (one field
// definition per parameter, slots of a has-value byte and the value). Two
// forms of the component's record have no place there and are handed over
// as values instead: a string longer than 250 characters (passed by
// reference) and a typed-binary BLOB (its bytes inline).
#pragma once

#include <memory>

#include "engine/components/query_statement.h"

namespace engine {

std::unique_ptr<TQueryStatementPort> CreateEngineStatement(const TQueryStatementSettings& settings);

}  // namespace engine
