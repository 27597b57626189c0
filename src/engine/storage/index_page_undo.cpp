// TPageUndo: the per-change undo log of an index file's cached pages
// (index_page_undo.h).
#include "engine/storage/index_page_undo.h"

#include <cstring>

#include "engine/storage/change_undo.h"

namespace engine {

void TPageUndo::Begin() {
  notes_.clear();
  ops_.clear();
  bytes_.clear();
  ++mark_;
  active_ = true;
  broken_ = false;
}

void TPageUndo::End() {
  notes_.clear();
  ops_.clear();
  bytes_.clear();
  active_ = false;
  broken_ = false;
}

void TPageUndo::Request(const std::string& fileName) const {
  if (active_) CountChangeRequest(fileName);
}

void TPageUndo::Note(TPage& page, bool wasChanged) {
  if (!active_ || page.UndoMark == mark_) return;
  page.UndoMark = mark_;
  page.Undo = wasChanged ? this : nullptr;
  notes_.push_back(
      {&page, page.Slot, page.Position, wasChanged, page.Type, page.Prev, page.Next, page.Free});
}

std::size_t TPageUndo::Keep(const std::uint8_t* bytes, std::size_t length) {
  const std::size_t at = bytes_.size();
  bytes_.insert(bytes_.end(), bytes, bytes + length);
  return at;
}

void TPageUndo::EntryWillChange(const TPage& page, int i) {
  const std::size_t stride = page.Stride();
  TOp op{};
  op.page = const_cast<TPage*>(&page);
  op.kind = TOpKind::kEntry;
  op.index = i;
  op.length = stride;
  op.at = Keep(page.Slot_(i), stride);
  ops_.push_back(op);
}

void TPageUndo::EntryInserted(const TPage& page, int i) {
  TOp op{};
  op.page = const_cast<TPage*>(&page);
  op.kind = TOpKind::kInserted;
  op.index = i;
  ops_.push_back(op);
}

void TPageUndo::EntryWillGo(const TPage& page, int i) {
  TOp op = {};
  op.page = const_cast<TPage*>(&page);
  op.kind = TOpKind::kRemoved;
  op.index = i;
  op.length = page.Stride();
  op.at = Keep(page.Slot_(i), op.length);
  ops_.push_back(op);
}

void TPageUndo::PageWillChange(TPage& page) {
  TOp op{};
  op.page = &page;
  op.kind = TOpKind::kWhole;
  op.length = page.FEntries.size();
  op.at = Keep(page.FEntries.data(), op.length);
  op.format = page.FFormat;
  op.count = page.FCount;
  op.type = page.Type;
  op.prev = page.Prev;
  op.next = page.Next;
  op.position = page.Position;
  op.slot = page.Slot;
  op.free = page.Free;
  ops_.push_back(op);
  // Restoring this copy undoes whatever the change does to the page later.
  page.Undo = nullptr;
}

bool TPageUndo::Replay() {
  for (auto it = ops_.rbegin(); it != ops_.rend(); ++it) {
    TPage& page = *it->page;
    const std::uint8_t* saved = bytes_.data() + it->at;
    switch (it->kind) {
      case TOpKind::kEntry:
        if (it->index < 1 || it->index > page.FCount || it->length != page.Stride()) return false;
        std::memcpy(page.Slot_(it->index), saved, it->length);
        break;
      case TOpKind::kInserted: {
        if (it->index < 1 || it->index > page.FCount) return false;
        const auto first =
            page.FEntries.begin() + static_cast<std::ptrdiff_t>(it->index - 1) * page.Stride();
        page.FEntries.erase(first, first + static_cast<std::ptrdiff_t>(page.Stride()));
        --page.FCount;
        break;
      }
      case TOpKind::kRemoved: {
        if (it->index < 1 || it->index > page.FCount + 1 || it->length != page.Stride())
          return false;
        const auto at =
            page.FEntries.begin() + static_cast<std::ptrdiff_t>(it->index - 1) * page.Stride();
        page.FEntries.insert(at, saved, saved + it->length);
        ++page.FCount;
        break;
      }
      case TOpKind::kWhole:
        page.FEntries.assign(saved, saved + it->length);
        page.FFormat = it->format;
        page.FCount = it->count;
        page.Type = it->type;
        page.Prev = it->prev;
        page.Next = it->next;
        page.Position = it->position;
        page.Slot = it->slot;
        page.Free = it->free;
        break;
    }
    page.FPacked = -1;
    page.DropSummary();
  }
  return true;
}

void TPageUndo::RestoreHeaderFields(const TNote& note) {
  TPage& page = *note.page;
  page.Type = note.type;
  page.Prev = note.prev;
  page.Next = note.next;
  page.Free = note.free;
  page.Slot = note.slot;
  page.Position = note.position;
  page.Changed = true;
  page.FPacked = -1;
  page.DropSummary();
  page.Undo = nullptr;
}

}  // namespace engine
