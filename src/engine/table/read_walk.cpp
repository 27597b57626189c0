// TReadWalk: one read lock for a walk (see read_walk.h).
#include "engine/table/read_walk.h"

#include "engine/errors.h"
#include "engine/table/data_cursor.h"
#include "platform/system.h"

namespace engine {

TReadWalk::TReadWalk(TDataCursor& cursor, std::chrono::milliseconds hold)
    : FCursor(cursor), FHold(hold), FSince(std::chrono::steady_clock::now()) {
  FTaken = FCursor.QueryReadLock();
}

TReadWalk::~TReadWalk() {
  if (!FTaken) return;
  try {
    FCursor.QueryReadUnlock();
  } catch (const EDatabaseError&) {
    // The slots go with the table's handles when it closes.
  }
}

bool TReadWalk::LetWritersIn() {
  if (!FTaken) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - FSince < FHold) return false;
  FSince = now;
  if (!FCursor.Table()->WriterWaiting()) return false;
  FTaken = false;
  FCursor.QueryReadUnlock();
  platform::Sleep(kWriterGapMs);
  FTaken = FCursor.QueryReadLock();
  FSince = std::chrono::steady_clock::now();
  return true;
}

}  // namespace engine
