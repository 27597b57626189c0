// The process-wide statement factory of the query component (see query_statement.h).
#include "engine/components/query_statement.h"

#include <mutex>

#include "engine/components/engine_statement.h"

namespace engine {
namespace {

struct FactorySlot {
  std::mutex mutex;
  TQueryStatementFactory factory;
};

FactorySlot& Slot() {
  static FactorySlot slot;
  return slot;
}

}  // namespace

TQueryStatementFactory SetQueryStatementFactory(TQueryStatementFactory factory) {
  std::lock_guard<std::mutex> guard(Slot().mutex);
  std::swap(Slot().factory, factory);
  return factory;
}

std::unique_ptr<TQueryStatementPort> CreateQueryStatement(const TQueryStatementSettings& settings) {
  TQueryStatementFactory factory;
  {
    std::lock_guard<std::mutex> guard(Slot().mutex);
    factory = Slot().factory;
  }
  return factory ? factory(settings) : CreateEngineStatement(settings);
}

}  // namespace engine
