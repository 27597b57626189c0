// The lock-byte map: every byte-range lock the engine takes to co-ordinate
// processes (and tables of one process that share a file), and the retry rules
// for taking them.
//
// The locks lie far beyond the end of the data, so they never cover bytes that
// anyone reads or writes; a lock is exclusive and refused at once (never
// waited for) when another handle holds an overlapping range.
//
//   file          offset            length   meaning
//   data          0x7FFFFFFF        1        write lock of the table (held while
//                                            its files change, and for a whole
//                                            transaction)
//   data          0x7FFFFFFE - n    1        record lock of record n,
//                                            1 <= n <= 100,000,000
//   index, BLOB   0x7FFF0000        0xFFFF   write lock of that file: covers
//                                            every reader slot
//   index, BLOB   0x7FFFFFFF - s    1        read lock through reader slot s,
//                                            1 <= s <= 65534
//
// Worked example: record 1 is locked at byte 0x7FFFFFFD, record 100,000,000 at
// 0x7A0A1EFE; reader slot 1 is byte 0x7FFFFFFE and slot 65534 byte 0x7FFF0001,
// the first byte of the write range; the write range ends at 0x7FFFFFFE, the
// byte of slot 1. So a writer of the index or BLOB file waits until no reader
// holds a slot, and readers wait while a writer holds the range.
//
// Retry rules (the sleep between attempts is injectable for tests):
//  1. Write lock (data byte, or index/BLOB range): try; after each refusal
//     count it; when the count exceeds 8192 give up (false); otherwise sleep
//     3 ms and try again. At most 8193 attempts, about 25 seconds.
//  2. Read lock: draw a slot s from 0..65534 (0 becomes 1) and try its byte;
//     after a refusal count it, give up when the count exceeds 8192, otherwise
//     draw a new slot, sleep 3 ms and try again. The slot is returned to the
//     caller, who releases exactly that byte.
//  3. Record lock: try; after each refusal count it; when the count exceeds
//     the session's LockRetryCount raise 10258; otherwise sleep LockWaitTime
//     milliseconds and try again.
// Releasing a lock that is not held fails (false); the table object turns that
// into 10242 or 10249.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace engine {

class TFileHandler;

inline constexpr std::uint32_t kTableWriteLockOffset = 0x7FFFFFFF;  // data file
inline constexpr std::uint32_t kRecordLockBase = 0x7FFFFFFE;        // record n at base - n
inline constexpr std::uint32_t kMaxLockableRecord = 100'000'000;
inline constexpr std::uint32_t kFileWriteLockOffset = 0x7FFF0000;  // index and BLOB files
inline constexpr std::uint32_t kFileWriteLockLength = 0xFFFF;      // 65535 bytes: every slot
inline constexpr std::uint32_t kReaderSlotBase = 0x7FFFFFFF;       // slot s at base - s
inline constexpr std::uint32_t kMaxReaderSlot = 65534;
inline constexpr int kMaxLockRefusals = 8192;  // refusals before a write or read lock gives up
inline constexpr std::uint32_t kLockRetrySleepMs = 3;  // between write- and read-lock attempts

// Byte of record n's lock, and of reader slot s.
inline constexpr std::uint32_t RecordLockOffset(std::uint32_t n) {
  return kRecordLockBase - n;
}
inline constexpr std::uint32_t ReaderSlotOffset(std::uint32_t s) {
  return kReaderSlotBase - s;
}

// The sleep between lock attempts; platform::Sleep unless replaced.
using LockSleepFunction = std::function<void(std::uint32_t milliseconds)>;
// Installs `sleep` (an empty function restores platform::Sleep) and returns
// the previous one. Process-wide.
LockSleepFunction SetLockSleepFunction(LockSleepFunction sleep);

// Rule 1 on the data file's write-lock byte, and its release.
bool TakeTableWriteLock(TFileHandler& dataFile);
bool ReleaseTableWriteLock(TFileHandler& dataFile);
// Rule 1 on an index or BLOB file's write-lock range, and its release.
bool TakeFileWriteLock(TFileHandler& file);
bool ReleaseFileWriteLock(TFileHandler& file);
// Rule 1's range in one attempt, without waiting: false when it is held.
bool TryFileWriteLock(TFileHandler& file);
// Rule 2 on an index or BLOB file; `slot` receives the slot held.
bool TakeReadLock(TFileHandler& file, std::uint32_t& slot);
bool ReleaseReadLock(TFileHandler& file, std::uint32_t slot);
// Rule 3 on record `n` of the data file; raises 10258 with `tableName` when it
// stays refused, 10249 for a record number outside 1..100,000,000.
void TakeRecordLock(TFileHandler& dataFile, std::uint32_t n, int retryCount, std::uint32_t waitMs,
                    const std::string& tableName);
bool ReleaseRecordLock(TFileHandler& dataFile, std::uint32_t n);

}  // namespace engine
