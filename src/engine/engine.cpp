// Engine start and stop (see engine.h).
#include "engine/engine.h"

#include <memory>
#include <mutex>

#include "engine/errors.h"
#include "engine/table/data_session.h"

namespace engine {
namespace {

struct EngineState {
  std::mutex mutex;
  std::unique_ptr<TDataSession> defaultSession;
};

EngineState& State() {
  static EngineState state;
  return state;
}

}  // namespace

void StartEngine() {
  EngineState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.defaultSession) state.defaultSession = std::make_unique<TDataSession>();
}

void StopEngine() {
  std::unique_ptr<TDataSession> session;
  {
    EngineState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    session = std::move(state.defaultSession);
  }
  // Freed outside the lock: closing tables may raise and report errors.
}

bool EngineStarted() {
  EngineState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.defaultSession != nullptr;
}

TDataSession& DefaultSession() {
  EngineState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.defaultSession) RaiseEngineError(kErrEngineNotInitialized);
  return *state.defaultSession;
}

}  // namespace engine
