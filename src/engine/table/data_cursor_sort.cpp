// TDataCursor::SortTable: the physical sort of a whole table.
//
// The data file's records are rewritten in key order by TDataFile::Sort
// (data_sort.h), which also leaves deleted records out and empties the free
// chain. Every record then has a new number, so every index (the primary and
// secondary ones and the system index) is emptied and built again: the keys
// of records 1..count are built per index, ordered, checked for repeats in a
// unique index, and inserted in order. BLOB chains do not move: a record's
// BLOB slots name their chains by position and BLOB id, not by record number.
//
// The sort, the rebuild and the write-back of all three files are one
// journaled rewrite (TDataTable::RewriteJournaled, files/commit_journal.h):
// every byte the rewrite overwrites or cuts off is journaled before the
// first one is touched, so a crash at any write or flush leaves the table
// exactly as before the sort (rolled back by the next opener) or exactly as
// after it; a failure puts the files back at once and raises.
#include <algorithm>
#include <numeric>

#include "engine/errors.h"
#include "engine/storage/index_btree.h"
#include "engine/table/data_cursor.h"
#include "engine/table/data_cursor_brackets.h"

namespace engine {

std::int32_t TDataCursor::SortTable(const std::vector<TDataFile::SortField>& fields,
                                    bool caseInsensitive) {
  CheckStructureChange();
  // Inside a transaction the rewrite would reach the files before the commit.
  if (FTable->InTransaction()) RaiseEngineError(kErrTableInUse, FName);
  const int previous = FIndex;
  TDataFile::SortOptions options;
  options.fields = fields;
  options.caseInsensitive = caseInsensitive;
  std::int32_t rows = 0;
  {
    TCursorWrite bracket(*this);
    FTable->RewriteJournaled([&] {
      rows = Data().Sort(options);
      RebuildIndexes(rows);
    });
  }
  AfterIndexesChanged(previous);
  return rows;
}

void TDataCursor::RebuildIndexes(std::int32_t records) {
  Index().Empty();
  std::vector<int> slots = KeySlots();
  slots.push_back(kSystemSlot);
  // The keys of every index, record by record.
  std::vector<std::vector<std::uint8_t>> keys(slots.size());
  TRecordBuffer record;
  for (std::int32_t n = 1; n <= records; ++n) {
    FetchRecord(n, record);
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const TKeyLayout& layout = LayoutOf(slots[i]);
      const std::size_t at = keys[i].size();
      keys[i].resize(at + static_cast<std::size_t>(layout.KeyLength()));
      layout.BuildKey(record.data(), FRecordSize, keys[i].data() + at);
    }
  }
  for (std::size_t i = 0; i < slots.size(); ++i) {
    const int slot = slots[i];
    const TKeyLayout& layout = LayoutOf(slot);
    const auto length = static_cast<std::size_t>(layout.KeyLength());
    const auto keyOf = [&](std::int32_t n) {
      return keys[i].data() + static_cast<std::size_t>(n - 1) * length;
    };
    std::vector<std::int32_t> order(static_cast<std::size_t>(records));
    std::iota(order.begin(), order.end(), 1);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
      return layout.Compare(keyOf(a), keyOf(b)) < 0;
    });
    if (layout.Unique()) {
      for (std::size_t k = 1; k < order.size(); ++k) {
        if (layout.Compare(keyOf(order[k - 1]), keyOf(order[k])) == 0) {
          const std::string name = Index().Descriptor(slot).Name();
          RaiseEngineError(kErrDuplicateKey, FName, {}, {}, name.empty() ? "Primary" : name);
        }
      }
    }
    TIndexTree tree = Tree(slot);
    for (const std::int32_t n : order) tree.Insert(keyOf(n), n);
  }
  Index().SetRecordCount(records);
}

}  // namespace engine
