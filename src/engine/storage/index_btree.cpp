// B-tree operations over the pages of one index slot: see index_btree.h.
#include "engine/storage/index_btree.h"

#include <algorithm>
#include <cstring>

#include "engine/errors.h"

namespace engine {
namespace {

// A tree deeper than this has a cycle or a broken link; real trees of 4096-byte
// pages stay below 10 levels.
constexpr std::size_t kMaxTreeDepth = 64;
// How often an operation is restarted after a change check dropped the caches.
constexpr int kMaxRestarts = 16;
// How many empty leaves a walk may step over before the links count as broken.
constexpr int kMaxEmptySteps = 1 << 20;
// Room reserved for a descent's path at once (deeper trees grow it).
constexpr std::size_t kReservedDepth = 12;

}  // namespace

bool TIndexTree::Reaches(const TPath& path, std::int32_t position) {
  for (const TStep& step : path) {
    if (step.page->Position == position) return true;
  }
  return false;
}

TIndexTree::TIndexTree(TIndexFile& file, int slot, const TKeyLayout& layout, TDataCursor* cursor)
    : FFile(file), FSlot(slot), FLayout(layout), FCursor(cursor), FKeyLength(layout.KeyLength()) {
  const int stored = file.Descriptor(slot).KeyLength();
  if (stored != FKeyLength || FKeyLength <= 0 || FKeyLength > kMaxKeyLength) {
    RaiseEngineError(kErrIndexPageCorrupt, file.FileName());
  }
}

template <typename F>
auto TIndexTree::Restartable(F&& operation) -> decltype(operation()) {
  for (int attempt = 0;; ++attempt) {
    try {
      return operation();
    } catch (const TIndexCachesDropped&) {
      if (attempt >= kMaxRestarts) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    }
  }
}

TPageRef TIndexTree::Page(std::int32_t position) {
  TPageRef page = FFile.GetPage(FSlot, position, false, FCursor);
  if (page->Free) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
  return page;
}

TPageRef TIndexTree::Root() {
  const std::int32_t root = FFile.Root(FSlot);
  if (root == 0) return TPageRef();
  TPageRef page = Page(root);
  if (!page->IsRoot()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
  return page;
}

void TIndexTree::CheckChild(const TPage& parent, const TPage& child) const {
  // A child is never a root; internal pages above leaves hold type 1 or 2.
  if (child.IsRoot() || parent.IsLeaf()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
}

// ---- Insert ---------------------------------------------------------------------

void TIndexTree::Insert(const std::uint8_t* key, std::int32_t recordNumber) {
  Restartable([&] { InsertOnce(key, recordNumber); });
}

void TIndexTree::DescendForInsert(const std::uint8_t* key, TPath& path, TPageRef& page) {
  path.reserve(kReservedDepth);
  while (!page->IsLeaf()) {
    if (path.size() >= kMaxTreeDepth || page->Count() == 0) {
      RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    }
    int i = page->SearchForInsert(FLayout, key, FKeyLength);
    if (i == 0) i = 1;
    // The insert adds 1 to this entry's count once the whole path is read:
    // its line is asked for now, while the descent goes on.
    page->PrefetchEntryCount(i);
    if (page->Value(i) == page->Position || Reaches(path, page->Value(i))) {
      RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());  // a cycle
    }
    TPageRef child = Page(page->Value(i));
    CheckChild(*page, *child);
    child->Parent = page->Position;
    path.push_back({std::move(page), i});
    page = std::move(child);
  }
}

bool TIndexTree::TakeKeptDescent(const std::uint8_t* key, TPath& path, TPageRef& leaf) {
  if (!FKeptLeaf) return false;
  TPath kept = std::move(FKeptPath);
  TPageRef keptLeaf = std::move(FKeptLeaf);
  FKeptPath.clear();
  if (std::memcmp(FKeptKey.data(), key, static_cast<std::size_t>(FKeyLength)) != 0 ||
      FFile.TreeChanges(FSlot) != FKeptChanges) {
    return false;
  }
  // Pages dropped from the cache (a change by another user was found) or
  // freed since, or a new root, mean the tree changed: descend again.
  const auto current = [](const TPage& p) { return !p.Detached && !p.Free; };
  for (const TStep& step : kept) {
    if (!current(*step.page) || step.page->IsLeaf()) return false;
  }
  if (!current(*keptLeaf) || !keptLeaf->IsLeaf()) return false;
  const TPage& top = kept.empty() ? *keptLeaf : *kept.front().page;
  if (FFile.Root(FSlot) != top.Position || !top.IsRoot()) return false;
  path = std::move(kept);
  leaf = std::move(keptLeaf);
  return true;
}

void TIndexTree::InsertOnce(const std::uint8_t* key, std::int32_t recordNumber) {
  TPath path;
  TPageRef page;
  if (!TakeKeptDescent(key, path, page)) {
    page = Root();
    if (!page) {
      TPageRef fresh = FFile.AllocatePage(FSlot, FCursor);
      fresh->Type = kPageRootLeaf;
      fresh->InsertEntry(0, key, recordNumber, 0);
      FFile.SetRoot(FSlot, fresh->Position);
      return;
    }
    DescendForInsert(key, path, page);
  }
  // The whole path could be read: only now do the counts on the way change.
  for (TStep& step : path) {
    step.page->SetEntryCount(step.entry, step.page->EntryCount(step.entry) + 1);
    MarkChanged(*step.page);
  }
  const int after = page->SearchForInsert(FLayout, key, FKeyLength);
  page->InsertEntry(after, key, recordNumber, 0);
  MarkChanged(*page);
  if (after == 0 && !path.empty()) PropagateFirstKey(path, path.size() - 1, *page);
  if (page->Overflows()) SplitUpward(path, std::move(page));
}

void TIndexTree::SplitUpward(TPath& path, TPageRef page) {
  while (page->Overflows()) {
    TPageRef fresh = FFile.AllocatePage(FSlot, FCursor);
    const bool leaf = page->IsLeaf();
    const bool wasRoot = page->IsRoot();
    const int n = page->Count();
    page->TakeTail(n - n / 2 + 1, *fresh);
    page->Type = fresh->Type = leaf ? kPageLeaf : kPageInternal;
    if (page->IsCompressedLeaf()) {
      // Halves measured in stored bytes: move single entries until both fit.
      for (int moves = 0; page->StoredBytes() > kPageEntryArea && page->Count() > 1; ++moves) {
        const int last = page->Count();
        fresh->InsertEntry(0, page->Key(last), page->Value(last), 0);
        page->RemoveEntry(last);
      }
      while (fresh->StoredBytes() > kPageEntryArea && fresh->Count() > 1) {
        page->InsertEntry(page->Count(), fresh->Key(1), fresh->Value(1), 0);
        fresh->RemoveEntry(1);
      }
      if (page->Overflows() || fresh->Overflows() || page->Count() == 0 || fresh->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
    }
    // Link the new page after the old one on its level.
    fresh->Next = page->Next;
    if (page->Next != 0) {
      TPageRef after = Page(page->Next);
      after->Prev = fresh->Position;
      MarkChanged(*after);
    }
    page->Next = fresh->Position;
    fresh->Prev = page->Position;
    MarkChanged(*page);
    MarkChanged(*fresh);
    const auto leafCount = [](const TPage& p) {
      return static_cast<std::int32_t>(p.LeafEntries());
    };
    if (wasRoot) {
      TPageRef root = FFile.AllocatePage(FSlot, FCursor);
      root->Type = kPageRoot;
      root->InsertEntry(0, page->Key(1), page->Position, leafCount(*page));
      root->InsertEntry(1, fresh->Key(1), fresh->Position, leafCount(*fresh));
      FFile.SetRoot(FSlot, root->Position);
      return;
    }
    TStep& parentStep = path.back();
    TPage& parent = *parentStep.page;
    parent.SetEntryCount(parentStep.entry, leafCount(*page));
    parent.InsertEntry(parentStep.entry, fresh->Key(1), fresh->Position, leafCount(*fresh));
    MarkChanged(parent);
    page = std::move(parentStep.page);
    path.pop_back();
  }
}

void TIndexTree::PropagateFirstKey(TPath& path, std::size_t depth, const TPage& page) {
  if (page.Count() == 0) return;
  const std::uint8_t* key = page.Key(1);
  for (std::size_t d = depth + 1; d-- > 0;) {
    TPage& parent = *path[d].page;
    parent.SetKey(path[d].entry, key);
    MarkChanged(parent);
    if (path[d].entry != 1) return;
    key = parent.Key(1);
  }
}

// ---- Delete -----------------------------------------------------------------------

bool TIndexTree::Delete(const std::uint8_t* key, std::int32_t recordNumber) {
  return Restartable([&] { return DeleteOnce(key, recordNumber); });
}

bool TIndexTree::DeleteOnce(const std::uint8_t* key, std::int32_t recordNumber) {
  TPageRef page = Root();
  if (!page) return false;
  TPath path;
  path.reserve(kReservedDepth);
  bool found = false;
  while (!page->IsLeaf()) {
    if (path.size() >= kMaxTreeDepth || page->Count() == 0) {
      RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    }
    const int i = page->Search(FLayout, key, FKeyLength, found);
    if (page->Value(i) == page->Position || Reaches(path, page->Value(i))) {
      RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());  // a cycle
    }
    TPageRef child = Page(page->Value(i));
    CheckChild(*page, *child);
    child->Parent = page->Position;
    path.push_back({std::move(page), i});
    page = std::move(child);
  }
  const int j = page->Search(FLayout, key, FKeyLength, found);
  if (!found || (recordNumber != 0 && page->Value(j) != recordNumber)) return false;
  // The key is there: only now do the counts on the way down change.
  for (TStep& step : path) {
    step.page->SetEntryCount(step.entry, step.page->EntryCount(step.entry) - 1);
    MarkChanged(*step.page);
  }
  page->RemoveEntry(j);
  MarkChanged(*page);
  if (j == 1 && page->Count() > 0 && !path.empty()) {
    PropagateFirstKey(path, path.size() - 1, *page);
  }
  Rebalance(path, std::move(page));
  return true;
}

void TIndexTree::Rebalance(TPath& path, TPageRef page) {
  const std::string& table = FFile.FileName();
  for (;;) {
    if (path.empty()) {
      // The root.
      if (page->IsLeaf()) {
        if (page->Count() == 0) {
          FFile.FreePage(FSlot, *page);
          FFile.SetRoot(FSlot, 0);
        }
      } else if (page->Count() == 1) {
        if (page->Value(1) == page->Position) RaiseEngineError(kErrIndexPageCorrupt, table);
        TPageRef child = Page(page->Value(1));
        child->Type = child->IsLeaf() ? kPageRootLeaf : kPageRoot;
        child->Prev = child->Next = 0;
        child->Parent = 0;
        MarkChanged(*child);
        FFile.FreePage(FSlot, *page);
        FFile.SetRoot(FSlot, child->Position);
      } else if (page->Count() == 0) {
        FFile.FreePage(FSlot, *page);
        FFile.SetRoot(FSlot, 0);
      }
      return;
    }
    TStep& parentStep = path.back();
    TPage& parent = *parentStep.page;
    const int e = parentStep.entry;

    if (page->IsCompressedLeaf()) {
      if (page->Count() > 0) return;
      // An empty compressed leaf leaves the tree.
      if (page->Prev != 0) {
        TPageRef before = Page(page->Prev);
        before->Next = page->Next;
        MarkChanged(*before);
      }
      if (page->Next != 0) {
        TPageRef after = Page(page->Next);
        after->Prev = page->Prev;
        MarkChanged(*after);
      }
      FFile.FreePage(FSlot, *page);
      parent.RemoveEntry(e);
      MarkChanged(parent);
      if (e == 1 && parent.Count() > 0 && path.size() > 1) {
        PropagateFirstKey(path, path.size() - 2, parent);
      }
      page = std::move(parentStep.page);
      path.pop_back();
      continue;
    }

    const int capacity = page->Capacity();
    if (page->Count() >= capacity / 2) return;
    // The partner: the previous page, or the next when this is the parent's
    // first entry. A page without a sibling under its parent stays as it is.
    int partnerEntry;
    if (e > 1) {
      partnerEntry = e - 1;
    } else if (parent.Count() > 1) {
      partnerEntry = e + 1;
    } else {
      return;
    }
    const bool partnerBefore = partnerEntry < e;
    const std::int32_t partnerPosition = parent.Value(partnerEntry);
    if (partnerPosition == page->Position || Reaches(path, partnerPosition)) {
      RaiseEngineError(kErrIndexPageCorrupt, table);
    }
    TPageRef partner = Page(partnerPosition);
    if ((partnerBefore ? partner->Next : partner->Prev) != page->Position ||
        partner->IsLeaf() != page->IsLeaf()) {
      RaiseEngineError(kErrIndexPageCorrupt, table);
    }
    const int total = page->Count() + partner->Count();
    if (total < capacity) {
      // Merge the page into its partner.
      if (partnerBefore) {
        partner->Append(*page);
        partner->Next = page->Next;
        if (page->Next != 0) {
          TPageRef after = Page(page->Next);
          after->Prev = partner->Position;
          MarkChanged(*after);
        }
      } else {
        partner->Prepend(*page);
        partner->Prev = page->Prev;
        if (page->Prev != 0) {
          TPageRef before = Page(page->Prev);
          before->Next = partner->Position;
          MarkChanged(*before);
        }
        parent.SetKey(partnerEntry, partner->Key(1));
      }
      MarkChanged(*partner);
      parent.SetEntryCount(partnerEntry, static_cast<std::int32_t>(partner->LeafEntries()));
      FFile.FreePage(FSlot, *page);
      parent.RemoveEntry(e);
      MarkChanged(parent);
      if (e == 1 && path.size() > 1) PropagateFirstKey(path, path.size() - 2, parent);
      page = std::move(parentStep.page);
      path.pop_back();
      continue;
    }
    // Redistribute: the partner keeps ceil(total / 2) entries.
    TPage& left = partnerBefore ? *partner : *page;
    TPage& right = partnerBefore ? *page : *partner;
    const int leftEntry = partnerBefore ? partnerEntry : e;
    const int partnerKeeps = (total + 1) / 2;
    const int leftKeeps = partnerBefore ? partnerKeeps : total - partnerKeeps;
    TPage all;
    all.Reset(0, FSlot, left.Format());
    all.Type = left.Type;
    all.Append(left);
    all.Append(right);
    all.TakeTail(leftKeeps + 1, right);
    left.Append(all);
    MarkChanged(left);
    MarkChanged(right);
    parent.SetEntryCount(leftEntry, static_cast<std::int32_t>(left.LeafEntries()));
    parent.SetEntryCount(leftEntry + 1, static_cast<std::int32_t>(right.LeafEntries()));
    parent.SetKey(leftEntry + 1, right.Key(1));
    parent.SetKey(leftEntry, left.Key(1));
    MarkChanged(parent);
    if (leftEntry == 1 && path.size() > 1) PropagateFirstKey(path, path.size() - 2, parent);
    return;
  }
}

bool TIndexTree::FindForInsert(const std::uint8_t* key, std::int32_t* recordNumber) {
  FKeptPath.clear();
  FKeptLeaf = TPageRef();
  return Restartable([&]() -> bool {
    TPageRef page = Root();
    if (!page) return false;
    TPath path;
    DescendForInsert(key, path, page);
    bool equal = false;
    const int entry = page->SearchForInsert(FLayout, key, FKeyLength, &equal);
    if (entry > 0 && equal) {
      if (recordNumber != nullptr) *recordNumber = page->Value(entry);
      return true;
    }
    std::memcpy(FKeptKey.data(), key, static_cast<std::size_t>(FKeyLength));
    FKeptChanges = FFile.TreeChanges(FSlot);
    FKeptPath = std::move(path);
    FKeptLeaf = std::move(page);
    return false;
  });
}

void TIndexTree::CheckUnique(const std::uint8_t* key, std::int32_t recordNumber) {
  if (!FLayout.Unique() || FLayout.IsSystem()) return;
  std::int32_t holder = 0;
  if (FindForInsert(key, &holder) && holder != recordNumber) {
    const std::string name = FSlot == kPrimarySlot ? "Primary" : FFile.Descriptor(FSlot).Name();
    RaiseEngineError(kErrDuplicateKey, FFile.FileName(), {}, {}, name);
  }
}

// ---- Counting and lookups -------------------------------------------------------------

std::int64_t TIndexTree::Count() {
  return Restartable([&]() -> std::int64_t {
    TPageRef root = Root();
    return root ? root->LeafEntries() : 0;
  });
}

std::int64_t TIndexTree::CountTo(const std::uint8_t* key, int length, bool strict) {
  return Restartable([&]() -> std::int64_t {
    TPageRef page = Root();
    std::int64_t before = 0;
    for (std::size_t depth = 0; page; ++depth) {
      if (depth >= kMaxTreeDepth) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      const int i = strict ? page->SearchBefore(FLayout, key, length)
                           : page->SearchForInsert(FLayout, key, length);
      if (page->IsLeaf()) return before + i;
      if (i == 0) return before;
      for (int k = 1; k < i; ++k) before += page->EntryCount(k);
      TPageRef child = Page(page->Value(i));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    return before;
  });
}

std::int64_t TIndexTree::KeysBefore(const std::uint8_t* key, int length) {
  return CountTo(key, length, true);
}
std::int64_t TIndexTree::KeysUpTo(const std::uint8_t* key, int length) {
  return CountTo(key, length, false);
}
std::int64_t TIndexTree::KeysBetween(const std::uint8_t* low, const std::uint8_t* high,
                                     int length) {
  if (FLayout.Compare(low, high, length) > 0) return 0;
  return KeysUpTo(high, length) - KeysBefore(low, length);
}

bool TIndexTree::Find(const std::uint8_t* key, int length, std::int32_t* recordNumber,
                      TIndexPosition* at) {
  // Most keys are answered by the leaf the descent lands on; only a key beyond
  // that leaf's last entry needs the walk to the following leaf.
  enum class TAnswer { kFound, kAbsent, kBeyondLeaf };
  const TAnswer answer = Restartable([&]() -> TAnswer {
    TPageRef page = Root();
    if (!page) return TAnswer::kAbsent;
    for (std::size_t depth = 0; !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth || page->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
      const int i = std::max(page->SearchBefore(FLayout, key, length), 1);
      TPageRef child = Page(page->Value(i));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    const int entry = page->SearchBefore(FLayout, key, length) + 1;
    if (entry > page->Count()) return TAnswer::kBeyondLeaf;
    if (FLayout.Compare(page->Key(entry), key, length) != 0) return TAnswer::kAbsent;
    if (recordNumber != nullptr) *recordNumber = page->Value(entry);
    if (at != nullptr) *at = {page->Position, entry};
    return TAnswer::kFound;
  });
  if (answer != TAnswer::kBeyondLeaf) return answer == TAnswer::kFound;
  TIndexPosition position;
  if (!SeekAtLeast(key, length, position)) return false;
  std::vector<std::uint8_t> found(static_cast<std::size_t>(FKeyLength));
  std::int32_t record = 0;
  ReadEntry(position, found.data(), &record);
  if (FLayout.Compare(found.data(), key, length) != 0) return false;
  if (recordNumber != nullptr) *recordNumber = record;
  if (at != nullptr) *at = position;
  return true;
}

// ---- Walking ---------------------------------------------------------------------------

bool TIndexTree::First(TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Root();
    for (std::size_t depth = 0; page && !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth || page->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
      TPageRef child = Page(page->Value(1));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    if (!page || page->Count() == 0) return false;
    at = {page->Position, 1};
    return true;
  });
}

bool TIndexTree::Last(TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Root();
    for (std::size_t depth = 0; page && !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth || page->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
      TPageRef child = Page(page->Value(page->Count()));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    if (!page || page->Count() == 0) return false;
    at = {page->Position, page->Count()};
    return true;
  });
}

bool TIndexTree::Next(TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Page(at.page);
    if (!page->IsLeaf()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    if (at.entry < page->Count()) {
      ++at.entry;
      return true;
    }
    for (int steps = 0; page->Next != 0; ++steps) {
      if (steps > kMaxEmptySteps) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      page = Page(page->Next);
      if (!page->IsLeaf()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      if (page->Count() > 0) {
        at = {page->Position, 1};
        return true;
      }
    }
    return false;
  });
}

bool TIndexTree::Prior(TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Page(at.page);
    if (!page->IsLeaf()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    if (at.entry > 1) {
      at.entry = std::min(at.entry - 1, page->Count());
      return at.entry > 0;
    }
    for (int steps = 0; page->Prev != 0; ++steps) {
      if (steps > kMaxEmptySteps) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      page = Page(page->Prev);
      if (!page->IsLeaf()) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      if (page->Count() > 0) {
        at = {page->Position, page->Count()};
        return true;
      }
    }
    return false;
  });
}

bool TIndexTree::SeekAtLeast(const std::uint8_t* key, int length, TIndexPosition& at) {
  const bool landed = Restartable([&]() -> bool {
    TPageRef page = Root();
    if (!page) return false;
    for (std::size_t depth = 0; !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth || page->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
      const int i = std::max(page->SearchBefore(FLayout, key, length), 1);
      TPageRef child = Page(page->Value(i));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    at = {page->Position, page->SearchBefore(FLayout, key, length) + 1};
    return true;
  });
  if (!landed) return false;
  // Past the leaf's last entry: the first key of the following leaf.
  TPageRef leaf = Restartable([&] { return Page(at.page); });
  if (at.entry <= leaf->Count()) return true;
  at.entry = leaf->Count();
  leaf.Release();
  if (at.entry == 0) at.entry = 1;
  TIndexPosition next = at;
  if (!Next(next)) return false;
  at = next;
  return true;
}

bool TIndexTree::SeekAtMost(const std::uint8_t* key, int length, TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Root();
    if (!page) return false;
    for (std::size_t depth = 0; !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth || page->Count() == 0) {
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      }
      const int i = page->SearchForInsert(FLayout, key, length);
      if (i == 0) return false;
      TPageRef child = Page(page->Value(i));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    const int j = page->SearchForInsert(FLayout, key, length);
    if (j == 0) return false;
    at = {page->Position, j};
    return true;
  });
}

bool TIndexTree::SeekOrdinal(std::int64_t ordinal, TIndexPosition& at) {
  return Restartable([&]() -> bool {
    TPageRef page = Root();
    if (!page || ordinal < 1) return false;
    std::int64_t rest = ordinal;
    for (std::size_t depth = 0; !page->IsLeaf(); ++depth) {
      if (depth >= kMaxTreeDepth) RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      int i = 1;
      while (i <= page->Count() && rest > page->EntryCount(i)) rest -= page->EntryCount(i++);
      if (i > page->Count()) return false;
      TPageRef child = Page(page->Value(i));
      CheckChild(*page, *child);
      page = std::move(child);
    }
    if (rest > page->Count()) return false;
    at = {page->Position, static_cast<int>(rest)};
    return true;
  });
}

std::int64_t TIndexTree::OrdinalOf(const TIndexPosition& at) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FKeyLength));
  ReadEntry(at, key.data(), nullptr);
  return KeysBefore(key.data(), FKeyLength) + 1;
}

void TIndexTree::ReadEntry(const TIndexPosition& at, std::uint8_t* key,
                           std::int32_t* recordNumber) {
  Restartable([&] {
    TPageRef page = Page(at.page);
    if (!page->IsLeaf() || at.entry < 1 || at.entry > page->Count()) {
      RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
    }
    if (key != nullptr) std::copy_n(page->Key(at.entry), FKeyLength, key);
    if (recordNumber != nullptr) *recordNumber = page->Value(at.entry);
  });
}

std::int32_t TIndexTree::RecordAt(const TIndexPosition& at) {
  std::int32_t record = 0;
  ReadEntry(at, nullptr, &record);
  return record;
}

template <typename Seek, typename Visit>
void TIndexTree::WalkLeaves(Seek&& seek, Visit&& visit) {
  std::vector<std::uint8_t> last(static_cast<std::size_t>(FKeyLength));
  bool resumed = false;
  // Every non-empty leaf holds a key: more leaves than keys means a loop.
  const std::int64_t maxLeaves = Count() + kMaxEmptySteps;
  Restartable([&] {
    TIndexPosition at;
    if (!resumed) {
      if (!seek(at)) return;
    } else {
      if (!SeekAtLeast(last.data(), FKeyLength, at)) return;
      TPageRef first = Page(at.page);
      if (at.entry <= first->Count() && FLayout.Compare(first->Key(at.entry), last.data()) == 0 &&
          !Next(at))
        return;
    }
    TPageRef page = Page(at.page);
    int i = at.entry;
    for (std::int64_t leaves = 0;; ++leaves) {
      if (!page->IsLeaf() || leaves > maxLeaves || i < 1)
        RaiseEngineError(kErrIndexPageCorrupt, FFile.FileName());
      for (; i <= page->Count(); ++i) {
        const std::uint8_t* key = page->Key(i);
        std::copy_n(key, FKeyLength, last.begin());
        resumed = true;
        if (!visit(key, page->Value(i))) return;
      }
      if (page->Next == 0) return;
      page = Page(page->Next);
      i = 1;
    }
  });
}

void TIndexTree::ScanRange(const std::uint8_t* low, const std::uint8_t* high, int length,
                           const std::function<void(std::int32_t)>& each) {
  WalkLeaves([&](TIndexPosition& at) { return SeekAtLeast(low, length, at); },
             [&](const std::uint8_t* key, std::int32_t record) {
               if (FLayout.Compare(key, high, length) > 0) return false;
               each(record);
               return true;
             });
}

void TIndexTree::ScanOrdinals(std::int64_t from, std::int64_t count,
                              const std::function<void(std::int32_t)>& each) {
  if (count <= 0) return;
  WalkLeaves([&](TIndexPosition& at) { return SeekOrdinal(from, at); },
             [&](const std::uint8_t*, std::int32_t record) {
               each(record);
               return --count > 0;
             });
}

int TIndexTree::ConsecutiveRecords(const TIndexPosition& at, int direction) {
  return Restartable([&]() -> int {
    TPageRef page = Page(at.page);
    if (!page->IsLeaf() || at.entry < 1 || at.entry > page->Count()) return 0;
    const int step = direction >= 0 ? 1 : -1;
    int run = 1;
    for (int i = at.entry + step; i >= 1 && i <= page->Count(); i += step) {
      if (page->Value(i) != page->Value(i - step) + step) break;
      ++run;
    }
    return run;
  });
}

}  // namespace engine
