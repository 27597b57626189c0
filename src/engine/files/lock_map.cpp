// The lock-byte map and its retry rules (see lock_map.h).
#include "engine/files/lock_map.h"

#include <mutex>
#include <random>

#include "engine/errors.h"
#include "engine/files/file_handler.h"
#include "platform/system.h"

namespace engine {
namespace {

// Never destroyed, like every process-wide object of the engine.
std::mutex& SleepMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
LockSleepFunction& SleepSlot() {
  static auto* sleep = new LockSleepFunction;
  return *sleep;
}

void LockSleep(std::uint32_t milliseconds) {
  LockSleepFunction sleep;
  {
    std::lock_guard<std::mutex> guard(SleepMutex());
    sleep = SleepSlot();
  }
  if (sleep) {
    sleep(milliseconds);
  } else {
    platform::Sleep(milliseconds);
  }
}

// Rule 1: at most kMaxLockRefusals + 1 attempts, kLockRetrySleepMs apart.
bool TakeWithRetries(TFileHandler& file, std::uint32_t offset, std::uint32_t length) {
  int refusals = 0;
  while (!file.Lock(offset, length, true)) {
    if (++refusals > kMaxLockRefusals) return false;
    LockSleep(kLockRetrySleepMs);
  }
  return true;
}

// A reader slot from 1..kMaxReaderSlot: 0..65534 drawn, 0 taken as 1.
std::uint32_t DrawReaderSlot() {
  thread_local std::minstd_rand generator{std::random_device{}()};
  std::uniform_int_distribution<std::uint32_t> distribution(0, kMaxReaderSlot);
  const std::uint32_t slot = distribution(generator);
  return slot == 0 ? 1 : slot;
}

}  // namespace

LockSleepFunction SetLockSleepFunction(LockSleepFunction sleep) {
  std::lock_guard<std::mutex> guard(SleepMutex());
  LockSleepFunction previous = std::move(SleepSlot());
  SleepSlot() = std::move(sleep);
  return previous;
}

bool TakeTableWriteLock(TFileHandler& dataFile) {
  return TakeWithRetries(dataFile, kTableWriteLockOffset, 1);
}

bool ReleaseTableWriteLock(TFileHandler& dataFile) {
  return dataFile.Lock(kTableWriteLockOffset, 1, false);
}

bool TakeFileWriteLock(TFileHandler& file) {
  return TakeWithRetries(file, kFileWriteLockOffset, kFileWriteLockLength);
}

bool TryFileWriteLock(TFileHandler& file) {
  return file.Lock(kFileWriteLockOffset, kFileWriteLockLength, true);
}

bool ReleaseFileWriteLock(TFileHandler& file) {
  return file.Lock(kFileWriteLockOffset, kFileWriteLockLength, false);
}

bool TakeReadLock(TFileHandler& file, std::uint32_t& slot) {
  int refusals = 0;
  slot = DrawReaderSlot();
  while (!file.Lock(ReaderSlotOffset(slot), 1, true)) {
    if (++refusals > kMaxLockRefusals) {
      slot = 0;
      return false;
    }
    slot = DrawReaderSlot();
    LockSleep(kLockRetrySleepMs);
  }
  return true;
}

bool ReleaseReadLock(TFileHandler& file, std::uint32_t slot) {
  if (slot < 1 || slot > kMaxReaderSlot) return false;
  return file.Lock(ReaderSlotOffset(slot), 1, false);
}

void TakeRecordLock(TFileHandler& dataFile, std::uint32_t n, int retryCount, std::uint32_t waitMs,
                    const std::string& tableName) {
  if (n < 1 || n > kMaxLockableRecord) RaiseEngineError(kErrLockFailed, tableName);
  int refusals = 0;
  while (!dataFile.Lock(RecordLockOffset(n), 1, true)) {
    if (++refusals > retryCount) RaiseEngineError(kErrRecordLocked, tableName);
    LockSleep(waitMs);
  }
}

bool ReleaseRecordLock(TFileHandler& dataFile, std::uint32_t n) {
  if (n < 1 || n > kMaxLockableRecord) return false;
  return dataFile.Lock(RecordLockOffset(n), 1, false);
}

}  // namespace engine
