// The search summary of pages of wide keys (shared prefix, 8-byte slices and
// values beside the page header) must answer every search exactly as a
// search over the keys themselves, through every kind of page change: single
// inserts and removals, key and value changes, splits, merges, rereads after
// a write-back, and the undo of a failed change.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include "engine/storage/index_page.h"
#include "engine/storage/index_test_util.h"

namespace engine_test {
namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

// ---- One page against a sorted list ---------------------------------------------

struct PageCase {
  const char* name;
  int stem;         // bytes every generated name starts with
  bool descending;  // the whole index
  int tailLength;   // how many varying characters follow the stem
};

class PageSummaryTest : public ::testing::TestWithParam<PageCase> {
 protected:
  static constexpr int kNameSize = 299;  // key length 300: 13 entries per leaf
  static constexpr int kKeyLength = kNameSize + 1;

  void SetUp() override {
    TKeyField name;
    name.type = kFieldString;
    name.storageSize = kNameSize;
    name.recordOffset = kFirstSlotOffset;
    layout = TKeyLayout({name}, true, GetParam().descending, false, 0, 0);
    page.Reset(kIndexHeaderSize, kPrimarySlot, TPageFormat{kKeyLength, true, kCompressNone});
    page.Type = kPageLeaf;
  }

  // A name of the case's stem and a short tail over few characters, so that
  // keys often tie over 8 bytes; now and then one with another stem, or null.
  Bytes NewKey() {
    Bytes key(kKeyLength, 0);
    if (random() % 25 == 0) return key;  // a null name
    std::string name(static_cast<std::size_t>(GetParam().stem), 'p');
    for (int i = 0; i < GetParam().stem; i += 7) name[static_cast<std::size_t>(i)] = 'q';
    if (random() % 10 == 0 && !name.empty()) name[random() % name.size()] = "aoz"[random() % 3];
    const int tail = 1 + static_cast<int>(random() % static_cast<unsigned>(GetParam().tailLength));
    for (int i = 0; i < tail; ++i) name += "01a"[random() % 3];
    name.resize(std::min<std::size_t>(name.size(), kNameSize));
    key[0] = 1;
    std::memcpy(key.data() + 1, name.data(), name.size());
    return key;
  }

  bool Less(const Bytes& a, const Bytes& b) const { return layout.Compare(a.data(), b.data()) < 0; }
  // The place a key goes in the sorted list.
  std::size_t Place(const Bytes& key) const {
    return static_cast<std::size_t>(
        std::lower_bound(keys.begin(), keys.end(), key,
                         [this](const Bytes& a, const Bytes& b) { return Less(a, b); }) -
        keys.begin());
  }
  bool Holds(const Bytes& key) const {
    const std::size_t at = Place(key);
    return at < keys.size() && layout.Compare(keys[at].data(), key.data()) == 0;
  }

  // Every search on the page agrees with the list, and so do its entries.
  void ExpectAgrees(TPage& p, const std::vector<Bytes>& list, const std::vector<std::int32_t>& vals,
                    const Bytes& probe) {
    ASSERT_EQ(p.Count(), static_cast<int>(list.size()));
    int atMost = 0, below = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const int c = layout.Compare(list[i].data(), probe.data());
      if (c <= 0) atMost = static_cast<int>(i) + 1;
      if (c < 0) below = static_cast<int>(i) + 1;
    }
    const bool equal = atMost > 0 && layout.Compare(list[atMost - 1].data(), probe.data()) == 0;
    bool found = !equal;
    EXPECT_EQ(p.SearchForInsert(layout, probe.data(), kKeyLength, &found), atMost);
    EXPECT_EQ(found, equal);
    EXPECT_EQ(p.SearchBefore(layout, probe.data(), kKeyLength), below);
    found = !equal;
    EXPECT_EQ(p.Search(layout, probe.data(), kKeyLength, found),
              list.empty() ? 0 : std::max(atMost, 1));
    EXPECT_EQ(found, equal);
    EXPECT_TRUE(p.SummaryMatchesEntries());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const int entry = static_cast<int>(i) + 1;
      ASSERT_EQ(Bytes(p.Key(entry), p.Key(entry) + kKeyLength), list[i]) << "entry " << entry;
      ASSERT_EQ(p.Value(entry), vals[i]) << "entry " << entry;
      ASSERT_EQ(p.EntryCount(entry), CountFor(vals[i])) << "entry " << entry;
    }
  }
  // Each entry's count follows from its value, so that a count left behind
  // by a change of both shows.
  static std::int32_t CountFor(std::int32_t value) { return value * 3 + 1; }
  void ExpectAgrees(const Bytes& probe) { ExpectAgrees(page, keys, values, probe); }

  std::mt19937 random{static_cast<unsigned>(GetParam().stem * 31 + GetParam().tailLength)};
  TKeyLayout layout;
  TPage page;
  std::vector<Bytes> keys;  // the page's keys in index order
  std::vector<std::int32_t> values;
};

TEST_P(PageSummaryTest, SearchesAgreeWithTheKeysThroughEveryChange) {
  std::int32_t nextValue = 1;
  bool sawSummary = false;
  for (int step = 0; step < 1500; ++step) {
    const int op = static_cast<int>(random() % 100);
    if (keys.empty() || (op < 45 && keys.size() < 18)) {
      const Bytes key = NewKey();
      if (Holds(key)) continue;
      const std::size_t at = Place(key);
      page.InsertEntry(static_cast<int>(at), key.data(), nextValue, CountFor(nextValue));
      keys.insert(keys.begin() + static_cast<std::ptrdiff_t>(at), key);
      values.insert(values.begin() + static_cast<std::ptrdiff_t>(at), nextValue++);
    } else if (op < 70) {
      const std::size_t at = random() % keys.size();
      page.RemoveEntry(static_cast<int>(at) + 1);
      keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(at));
      values.erase(values.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (op < 80) {
      // A new key in place of one, where it keeps the order.
      const std::size_t at = random() % keys.size();
      const Bytes key = NewKey();
      if ((at > 0 && !Less(keys[at - 1], key)) ||
          (at + 1 < keys.size() && !Less(key, keys[at + 1]))) {
        continue;
      }
      page.SetKey(static_cast<int>(at) + 1, key.data());
      keys[at] = key;
    } else if (op < 88) {
      const std::size_t at = random() % keys.size();
      const int entry = static_cast<int>(at) + 1;
      if (random() % 2 == 0) {
        page.SetValue(entry, nextValue);
        page.SetEntryCount(entry, CountFor(nextValue));
      } else {
        page.SetEntryCount(entry, CountFor(nextValue));
        page.SetValue(entry, nextValue);
      }
      values[at] = nextValue++;
    } else if (op < 94) {
      // A split and a merge back, searching both halves in between.
      const int first = 1 + static_cast<int>(random() % keys.size());
      TPage tail;
      tail.Reset(2 * kIndexHeaderSize, kPrimarySlot, page.Format());
      tail.Type = kPageLeaf;
      page.TakeTail(first, tail);
      const auto cut = static_cast<std::ptrdiff_t>(first - 1);
      const std::vector<Bytes> tailKeys(keys.begin() + cut, keys.end());
      const std::vector<std::int32_t> tailValues(values.begin() + cut, values.end());
      const Bytes probe = NewKey();
      ASSERT_NO_FATAL_FAILURE(
          ExpectAgrees(page, std::vector<Bytes>(keys.begin(), keys.begin() + cut),
                       std::vector<std::int32_t>(values.begin(), values.begin() + cut), probe));
      ASSERT_NO_FATAL_FAILURE(ExpectAgrees(tail, tailKeys, tailValues, probe));
      if (random() % 2 == 0) {
        page.Append(tail);
      } else {
        tail.Prepend(page);  // the head goes in front of the tail...
        page.Append(tail);   // ...and the whole comes back
      }
    } else {
      page.ClearEntries();
      keys.clear();
      values.clear();
    }
    ASSERT_TRUE(page.SummaryMatchesEntries()) << "after step " << step;
    // Probe with a held key, a new one, and the neighbours of a held one.
    if (!keys.empty()) {
      const Bytes& held = keys[random() % keys.size()];
      ASSERT_NO_FATAL_FAILURE(ExpectAgrees(held)) << "step " << step;
      Bytes before = held, after = held;
      before[kKeyLength - 1] = 0;
      after[kKeyLength - 1] = 0xFF;
      ASSERT_NO_FATAL_FAILURE(ExpectAgrees(before)) << "step " << step;
      ASSERT_NO_FATAL_FAILURE(ExpectAgrees(after)) << "step " << step;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectAgrees(NewKey())) << "step " << step;
    sawSummary = sawSummary || page.HasSummary();
  }
  EXPECT_TRUE(sawSummary);
}

const PageCase kPageCases[] = {
    {"NoStem", 0, false, 12},
    {"ShortStem", 20, false, 4},
    {"StemOfCopiedBytes", 63, false, 3},
    {"StemPastCopiedBytes", 65, false, 3},
    {"LongStem", 150, false, 14},
    {"LongStemDescending", 150, true, 14},
    {"NearlyWholeKey", 290, false, 9},
    {"ShortStemDescending", 20, true, 4},
};

INSTANTIATE_TEST_SUITE_P(Stems, PageSummaryTest, ::testing::ValuesIn(kPageCases),
                         [](const ::testing::TestParamInfo<PageCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- Whole trees of wide keys against a model -------------------------------------

enum class Order { Ascending, Descending, Random };

struct TreeCase {
  const char* name;
  Order order;
  bool unique;
  bool descending;
  std::uint8_t compression;
  bool longStem;
};

class TreeSummaryTest : public IndexFileTest, public ::testing::WithParamInterface<TreeCase> {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    // Key length 407 (411 without uniqueness): 9 entries per page.
    fields = LaidOut({Field("Dir", kFieldString, 200), Field("Name", kFieldString, 200),
                      Field("N", kFieldInt32)});
    CreateIndex();
    const TreeCase& c = GetParam();
    const TIndexDefinition definition =
        IndexOn({1, 2, 3}, c.unique, c.unique ? "" : "ByName", c.compression, c.descending);
    if (c.unique) {
      index->DefinePrimaryIndex(definition, fields);
      slot = kPrimarySlot;
    } else {
      index->DefinePrimaryIndex(IndexOn({}), fields);
      slot = index->AddSecondaryIndex(definition, fields);
    }
    layout = Layout(slot);
  }

  Bytes KeyOf(int i) {
    // With the long stem every key shares the whole directory (over 200
    // bytes with its zero padding); otherwise the directory varies.
    const std::string dir =
        GetParam().longStem
            ? "C:\\Users\\me\\Documents\\Projects\\engine\\build\\objects\\release\\"
            : std::string(1, static_cast<char>('a' + i % 5));
    char name[32];
    std::snprintf(name, sizeof name, "f%06d.dat", i);
    RecordBuilder r(fields);
    r.Str(1, dir).Str(2, name).Int(3, i % 3).AutoInc(i + 1);
    return layout.BuildKey(r.Bytes().data(), r.Bytes().size());
  }

  // Every page of the tree: its summary (when it has one) matches its entries.
  void ExpectSummariesMatch() {
    std::vector<std::int32_t> level = {index->Root(slot)};
    if (level[0] == 0) return;
    int pages = 0;
    while (!level.empty()) {
      std::vector<std::int32_t> below;
      for (const std::int32_t position : level) {
        TPageRef p = index->GetPage(slot, position);
        ASSERT_TRUE(p->SummaryMatchesEntries()) << "page " << position;
        ++pages;
        if (!p->IsLeaf()) {
          for (int i = 1; i <= p->Count(); ++i) below.push_back(p->Value(i));
        }
      }
      level = std::move(below);
    }
    EXPECT_GT(pages, 0);
  }

  void ExpectMatchesModel(TIndexTree& tree, const std::map<int, std::int32_t>& model) {
    ASSERT_EQ(tree.Count(), static_cast<std::int64_t>(model.size()));
    for (int i = 0; i < kKeys; i += 7) {
      const Bytes key = KeyOf(i);
      std::int32_t record = 0;
      const auto it = model.find(i);
      ASSERT_EQ(tree.FindForInsert(key.data(), &record), it != model.end()) << "key " << i;
      if (it != model.end()) {
        ASSERT_EQ(record, it->second) << "key " << i;
      }
      ASSERT_EQ(tree.Find(key.data(), layout.KeyLength()), it != model.end()) << "key " << i;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSummariesMatch());
    index->SetRecordCount(static_cast<std::int32_t>(model.size()));
    ExpectSound(true);
  }

  std::vector<int> InOrder() {
    std::vector<int> order(kKeys);
    for (int i = 0; i < kKeys; ++i) order[static_cast<std::size_t>(i)] = i;
    if (GetParam().order == Order::Descending) std::reverse(order.begin(), order.end());
    if (GetParam().order == Order::Random) std::shuffle(order.begin(), order.end(), random);
    return order;
  }

  static constexpr int kKeys = 700;
  std::mt19937 random{99};
  int slot = 0;
  TKeyLayout layout;
};

TEST_P(TreeSummaryTest, InsertsDeletesAndUndoneChangesMatchTheModel) {
  std::map<int, std::int32_t> model;
  TIndexTree tree(*index, slot, layout);
  // Inserts as a unique index takes them: the duplicate check's descent is
  // handed to the insert.
  for (const int i : InOrder()) {
    const Bytes key = KeyOf(i);
    ASSERT_FALSE(tree.FindForInsert(key.data()));
    tree.Insert(key.data(), i + 1);
    model[i] = i + 1;
  }
  ASSERT_NO_FATAL_FAILURE(ExpectMatchesModel(tree, model));

  // A change taken back: inserts and deletes that split and merge pages. The
  // pages it changes stay in memory, as the table keeps them during a change.
  host.transactionLock = true;
  index->BeginUndo();
  for (int i = kKeys; i < kKeys + 40; ++i) tree.Insert(KeyOf(i).data(), i + 1);
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(tree.Delete(KeyOf(i * 3).data()));
  if (!index->RollBackUndo()) index->DropCache(true);
  index->EndUndo();
  host.transactionLock = false;
  ASSERT_NO_FATAL_FAILURE(ExpectMatchesModel(tree, model));

  // Half of the keys leave in the case's order; the pages are reread.
  int n = 0;
  for (const int i : InOrder()) {
    if (n++ % 2 == 0) continue;
    ASSERT_TRUE(tree.Delete(KeyOf(i).data(), model[i]));
    model.erase(i);
  }
  Reopen();
  TIndexTree reopened(*index, slot, layout);
  ASSERT_NO_FATAL_FAILURE(ExpectMatchesModel(reopened, model));
  while (!model.empty()) {
    ASSERT_TRUE(reopened.Delete(KeyOf(model.begin()->first).data()));
    model.erase(model.begin());
  }
  EXPECT_EQ(index->Root(slot), 0);
}

const TreeCase kTreeCases[] = {
    {"Ascending", Order::Ascending, true, false, kCompressNone, true},
    {"DescendingOrder", Order::Descending, true, false, kCompressNone, true},
    {"Random", Order::Random, true, false, kCompressNone, true},
    {"RandomShortStem", Order::Random, true, false, kCompressNone, false},
    {"RandomDescendingIndex", Order::Random, true, true, kCompressNone, true},
    {"RandomNonUnique", Order::Random, false, false, kCompressNone, true},
    {"RandomFullCompression", Order::Random, true, false, kCompressFull, true},
};

INSTANTIATE_TEST_SUITE_P(Orders, TreeSummaryTest, ::testing::ValuesIn(kTreeCases),
                         [](const ::testing::TestParamInfo<TreeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace engine_test
