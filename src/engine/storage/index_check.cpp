// Index file checks: see index_check.h.
#include "engine/storage/index_check.h"

#include <cstring>
#include <set>
#include <sstream>

#include "engine/errors.h"
#include "engine/storage/data_file.h"
#include "engine/storage/index_keys.h"

namespace engine {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

bool PositionInside(std::int32_t position, std::int32_t end) {
  if (position == 0) return true;
  if (end == kIndexHeaderSize) return false;
  return position >= kIndexHeaderSize && position <= end - kIndexPageSize &&
         (position - kIndexHeaderSize) % kIndexPageSize == 0;
}

// Walks one tree, recording what it finds.
class TTreeWalker {
 public:
  TTreeWalker(TIndexFile& file, int slot, const TKeyLayout& layout, TIndexCheckReport& report,
              std::vector<int>& owner)
      : FFile(file), FSlot(slot), FLayout(layout), FReport(report), FOwner(owner) {}

  TIndexTreeStats Walk() {
    TIndexTreeStats stats;
    stats.slot = FSlot;
    const std::int32_t root = FFile.Root(FSlot);
    if (root != 0) {
      stats.keys = Visit(root, 0, nullptr, -1);
      CheckLinks();
      stats.depth = static_cast<int>(FLevels.size());
      stats.pages = FPages;
    }
    stats.freePages = WalkFreeList();
    return stats;
  }

 private:
  static constexpr std::size_t kMaxDepth = 64;

  void Problem(std::int32_t page, const std::string& text) {
    FReport.problems.push_back({FSlot, page, text});
  }

  bool Claim(std::int32_t position, const char* what) {
    if (!PositionInside(position, FFile.EndPosition()) || position == 0) {
      Problem(position, std::string(what) + " position lies outside the file");
      return false;
    }
    int& owner = FOwner[static_cast<std::size_t>((position - kIndexHeaderSize) / kIndexPageSize)];
    if (owner != -1) {
      Problem(position,
              std::string(what) + " is already used by index slot " + std::to_string(owner));
      return false;
    }
    owner = FSlot;
    return true;
  }

  // Returns the leaf entries below the page at `position`.
  std::int64_t Visit(std::int32_t position, std::size_t depth, const std::uint8_t* firstKey,
                     std::int32_t expectedCount) {
    if (depth >= kMaxDepth) {
      Problem(position, "the tree is deeper than any real tree (a cycle)");
      return 0;
    }
    if (!Claim(position, "page")) return 0;
    TPageRef page;
    try {
      page = FFile.GetPage(FSlot, position);
    } catch (const EZORVADEngineError& error) {
      Problem(position, "the page cannot be read: " + error.Message());
      return 0;
    }
    ++FPages;
    const bool root = depth == 0;
    if (FLevels.size() <= depth) FLevels.resize(depth + 1);
    FLevels[depth].push_back(position);
    const TPage& p = *page;
    if (p.Free || p.Count() == 0) {
      Problem(position, "an empty or free page is part of the tree");
      return 0;
    }
    if (root != p.IsRoot())
      Problem(position, "page type " + std::to_string(p.Type) + " at the wrong level");
    if (firstKey != nullptr &&
        std::memcmp(firstKey, p.Key(1), static_cast<std::size_t>(p.KeyLength())) != 0) {
      Problem(position, "the parent's key is not the page's first key");
    }
    CheckFill(p, root);
    for (int i = 2; i <= p.Count(); ++i) {
      if (FLayout.Compare(p.Key(i - 1), p.Key(i)) >= 0) {
        Problem(position, "entries " + std::to_string(i - 1) + " and " + std::to_string(i) +
                              " are out of order");
      }
    }
    std::int64_t below = 0;
    if (p.IsLeaf()) {
      if (FLeafDepth < 0) FLeafDepth = static_cast<int>(depth);
      if (FLeafDepth != static_cast<int>(depth)) Problem(position, "leaves at different depths");
      if (!FLastKey.empty() && FLayout.Compare(FLastKey.data(), p.Key(1)) >= 0) {
        Problem(position, "the first key is not above the previous leaf's last key");
      }
      FLastKey.assign(p.Key(p.Count()), p.Key(p.Count()) + p.KeyLength());
      below = p.Count();
    } else {
      // Copy what the children need: the recursion may reuse cache pages.
      const int count = p.Count();
      std::vector<std::vector<std::uint8_t>> keys;
      std::vector<std::int32_t> children, counts;
      for (int i = 1; i <= count; ++i) {
        keys.emplace_back(p.Key(i), p.Key(i) + p.KeyLength());
        children.push_back(p.Value(i));
        counts.push_back(p.EntryCount(i));
      }
      page.Release();
      for (int i = 0; i < count; ++i) {
        below +=
            Visit(children[static_cast<std::size_t>(i)], depth + 1,
                  keys[static_cast<std::size_t>(i)].data(), counts[static_cast<std::size_t>(i)]);
      }
    }
    if (expectedCount >= 0 && below != expectedCount) {
      Problem(position, "the parent counts " + std::to_string(expectedCount) +
                            " leaf entries below the page, there are " + std::to_string(below));
    }
    return below;
  }

  void CheckFill(const TPage& p, bool root) {
    if (p.IsCompressedLeaf()) {
      if (p.StoredBytes() > kPageEntryArea)
        Problem(p.Position, "compressed entries overflow the page");
      return;
    }
    if (p.Count() > p.Capacity()) Problem(p.Position, "more entries than the page holds");
    if (root) {
      if (!p.IsLeaf() && p.Count() < 2) Problem(p.Position, "an internal root with one entry");
    } else if (p.Count() < p.Capacity() / 2) {
      Problem(p.Position, "page less than half full (" + std::to_string(p.Count()) + " of " +
                              std::to_string(p.Capacity()) + ")");
    }
  }

  void CheckLinks() {
    for (const std::vector<std::int32_t>& level : FLevels) {
      for (std::size_t i = 0; i < level.size(); ++i) {
        TPageRef page;
        try {
          page = FFile.GetPage(FSlot, level[i]);
        } catch (const EZORVADEngineError&) {
          continue;  // already reported
        }
        const std::int32_t prev = i > 0 ? level[i - 1] : 0;
        const std::int32_t next = i + 1 < level.size() ? level[i + 1] : 0;
        if (page->Prev != prev || page->Next != next) {
          Problem(level[i], "level links " + std::to_string(page->Prev) + "/" +
                                std::to_string(page->Next) + ", expected " + std::to_string(prev) +
                                "/" + std::to_string(next));
        }
      }
    }
  }

  int WalkFreeList() {
    int count = 0;
    std::int32_t position = FFile.FirstFree(FSlot);
    while (position != 0) {
      if (!Claim(position, "free page")) return count;
      TPageRef page;
      try {
        page = FFile.GetPage(FSlot, position);
      } catch (const EZORVADEngineError& error) {
        Problem(position, "the free page cannot be read: " + error.Message());
        return count;
      }
      if (!page->Free) Problem(position, "a page on the free list holds entries");
      ++count;
      position = page->Next;
    }
    return count;
  }

  TIndexFile& FFile;
  int FSlot;
  const TKeyLayout& FLayout;
  TIndexCheckReport& FReport;
  std::vector<int>& FOwner;
  std::vector<std::vector<std::int32_t>> FLevels;
  std::vector<std::uint8_t> FLastKey;
  int FLeafDepth = -1;
  int FPages = 0;
};

}  // namespace

void CheckIndexFileOnOpen(const TIndexFile& file, const TFieldDefinitions& fields) {
  const std::string& table = file.FileName();
  if (file.Format() != kIndexFormat) RaiseEngineError(kErrWrongVersion, table);
  auto corrupt = [&]() { RaiseEngineError(kErrHeaderCorrupt, table); };
  const std::int32_t end = file.EndPosition();
  if (end < kIndexHeaderSize || (end - kIndexHeaderSize) % kIndexPageSize != 0 ||
      file.SecondaryCount() > kMaxSecondaryIndexes) {
    corrupt();
  }
  // No data file holds more records than an append may number.
  if (file.RecordCount() < 0 || file.RecordCount() > kMaxRecordNumber) corrupt();
  std::set<std::string> names;
  for (int slot = 0; slot <= file.SecondaryCount(); ++slot) {
    const TIndexDescriptor d = file.Descriptor(slot);
    const std::string name = Trimmed(d.Name());
    if (slot == kPrimarySlot) {
      if (!name.empty()) corrupt();
      if (!file.NoPrimaryKey() && !d.Unique()) corrupt();
    } else {
      if (!IsValidNameStart(name) || !names.insert(Upper(name)).second) corrupt();
    }
    if (d.FieldCount() > kMaxKeyFields) corrupt();
    int sum = 0;
    for (int i = 0; i < d.FieldCount(); ++i) {
      const int number = d.FieldNumber(i);
      if (number < 1 || static_cast<std::size_t>(number) > fields.size()) corrupt();
      const TFieldDefinition& field = fields[static_cast<std::size_t>(number - 1)];
      if (field.Type() == kFieldBlob) corrupt();
      sum += field.StorageSize() + 1;
    }
    const bool keyless = slot == kPrimarySlot && file.NoPrimaryKey();
    if (sum > kMaxKeyFieldBytes || (sum == 0 && !keyless)) corrupt();
    // The stored key length must be the one the fields give: pages are read
    // with it.
    const bool unique = slot == kPrimarySlot || d.Unique();
    if (sum > 0 && d.KeyLength() != sum + (unique ? 0 : kNonUniqueSuffixSize)) corrupt();
    if (!PositionInside(d.Root(), end) || !PositionInside(d.FirstFree(), end)) corrupt();
  }
  const TIndexDescriptor system = file.Descriptor(kSystemSlot);
  if (system.KeyLength() != kSystemKeyLength || !PositionInside(system.Root(), end) ||
      !PositionInside(system.FirstFree(), end)) {
    corrupt();
  }
}

std::string TIndexCheckReport::Describe() const {
  std::ostringstream out;
  for (const TIndexProblem& p : problems) {
    out << "slot " << p.slot;
    if (p.page != 0) out << " page " << p.page;
    out << ": " << p.text << "\n";
  }
  return out.str();
}

TIndexCheckReport CheckIndexTrees(TIndexFile& file, const TFieldDefinitions& fields,
                                  const TIndexCheckOptions& options) {
  TIndexCheckReport report;
  const std::int32_t end = file.EndPosition();
  if (end < kIndexHeaderSize || (end - kIndexHeaderSize) % kIndexPageSize != 0) {
    report.problems.push_back({-1, 0, "impossible end position " + std::to_string(end)});
    return report;
  }
  std::vector<int> owner(static_cast<std::size_t>((end - kIndexHeaderSize) / kIndexPageSize), -1);
  std::vector<int> slots;
  const int secondaries = std::min(file.SecondaryCount(), kMaxSecondaryIndexes);
  for (int slot = 0; slot <= secondaries; ++slot) {
    if (slot == kPrimarySlot && file.NoPrimaryKey() && file.Descriptor(slot).KeyLength() == 0) {
      continue;
    }
    slots.push_back(slot);
  }
  slots.push_back(kSystemSlot);
  for (int slot : slots) {
    TKeyLayout layout;
    try {
      layout = TKeyLayout::ForDescriptor(file.Descriptor(slot), slot, fields, options.languageId,
                                         options.sortId, file.FileName());
    } catch (const EZORVADEngineError& error) {
      report.problems.push_back({slot, 0, "impossible descriptor: " + error.Message()});
      continue;
    }
    if (layout.KeyLength() != file.Descriptor(slot).KeyLength()) {
      report.problems.push_back({slot, 0, "the key length does not match the key fields"});
      continue;
    }
    TTreeWalker walker(file, slot, layout, report, owner);
    const TIndexTreeStats stats = walker.Walk();
    report.trees.push_back(stats);
    if (options.compareRecordCount && slot != kSystemSlot && stats.keys != file.RecordCount()) {
      report.problems.push_back({slot, 0,
                                 "the index holds " + std::to_string(stats.keys) +
                                     " keys, the header counts " +
                                     std::to_string(file.RecordCount()) + " records"});
    }
  }
  for (int o : owner) {
    if (o == -1) ++report.unreferencedPages;
  }
  return report;
}

}  // namespace engine
