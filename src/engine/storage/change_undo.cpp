// The test hook of change_undo.h: a failure at a chosen entry request of a
// change.
#include "engine/storage/change_undo.h"

#include "engine/errors.h"

namespace engine {

namespace {
// Per thread: a change runs on the thread that asked for it, and counting
// stays a plain increment.
thread_local std::uint64_t tFaultAt = 0;
thread_local std::uint64_t tRequests = 0;
}  // namespace

void ChangeFaultAt(std::uint64_t n) {
  tRequests = 0;
  tFaultAt = n;
}

std::uint64_t ChangeFaultCount() {
  return tRequests;
}

void CountChangeRequest(const std::string& fileName) {
  if (++tRequests == tFaultAt) RaiseEngineError(kErrReadFailed, fileName);
}

}  // namespace engine
