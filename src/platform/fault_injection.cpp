// Fault injection in the host layer's writes and flushes (fault_injection.h).
#include "platform/fault_injection.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

std::mutex gPlanMutex;
FaultPlan gPlan;
bool gPlanSet = false;  // by SetFaultPlan or from the environment
std::atomic<std::uint64_t> gWrites{0};
std::atomic<std::uint64_t> gFlushes{0};

FaultPlan PlanFromEnvironment() {
  FaultPlan plan;
  const char* text = std::getenv("ORV_FAULT_AT");
  if (text != nullptr) ParseFaultPlan(text, plan);
  return plan;
}

}  // namespace

bool ParseFaultPlan(std::string_view text, FaultPlan& plan) {
  const std::string value(text);
  const auto first = value.find(':');
  if (first == std::string::npos) return false;
  const std::string count = value.substr(0, first);
  const auto second = value.find(':', first + 1);
  const std::string action =
      value.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const std::string kind = second == std::string::npos ? "all" : value.substr(second + 1);
  char* end = nullptr;
  const unsigned long long n = std::strtoull(count.c_str(), &end, 10);
  if (count.empty() || *end != '\0' || n == 0 || count[0] == '-') return false;
  FaultPlan read;
  read.at = n;
  if (action == "fail") {
    read.action = FaultAction::Fail;
  } else if (action == "kill") {
    read.action = FaultAction::Kill;
  } else {
    return false;
  }
  if (kind == "write") {
    read.kind = FaultKind::Write;
  } else if (kind == "flush") {
    read.kind = FaultKind::Flush;
  } else if (kind != "all") {
    return false;
  }
  plan = read;
  return true;
}

void SetFaultPlan(const FaultPlan& plan) {
  std::lock_guard<std::mutex> guard(gPlanMutex);
  gPlan = plan;
  gPlanSet = true;
  gWrites = 0;
  gFlushes = 0;
}

void ClearFaultPlan() {
  std::lock_guard<std::mutex> guard(gPlanMutex);
  gPlan = FaultPlan{};
  gPlanSet = true;
}

std::uint64_t FaultOperationCount(FaultKind kind) {
  switch (kind) {
    case FaultKind::Write:
      return gWrites.load();
    case FaultKind::Flush:
      return gFlushes.load();
    case FaultKind::All:
      break;
  }
  return gWrites.load() + gFlushes.load();
}

void ResetFaultCounts() {
  gWrites = 0;
  gFlushes = 0;
}

namespace internal {

bool FaultCheck(bool isFlush) {
  const std::uint64_t writes = isFlush ? gWrites.load() : ++gWrites;
  const std::uint64_t flushes = isFlush ? ++gFlushes : gFlushes.load();
  FaultPlan plan;
  {
    std::lock_guard<std::mutex> guard(gPlanMutex);
    if (!gPlanSet) {
      gPlan = PlanFromEnvironment();
      gPlanSet = true;
    }
    plan = gPlan;
  }
  if (plan.action == FaultAction::None || plan.at == 0) return true;
  std::uint64_t number = 0;
  switch (plan.kind) {
    case FaultKind::All:
      number = writes + flushes;
      break;
    case FaultKind::Write:
      if (isFlush) return true;
      number = writes;
      break;
    case FaultKind::Flush:
      if (!isFlush) return true;
      number = flushes;
      break;
  }
  if (number < plan.at || (number > plan.at && !plan.sticky)) return true;
  if (plan.action == FaultAction::Kill) {
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);  // not reached
  }
  return false;
}

}  // namespace internal
}  // namespace platform
