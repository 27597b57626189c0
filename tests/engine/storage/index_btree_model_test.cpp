// The B-tree against a simple model: long random sequences of inserts and
// deletes in every compression mode, unique and non-unique, ascending and
// descending, under byte order and under a locale, compared after each batch
// with an ordered map and checked by the full tree walk (order, counts, fill,
// links, free lists). The trees live in a real file whose 15-page caches
// write back and reread pages all the time.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/storage/index_test_util.h"

namespace engine_test {
namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

struct ModelCase {
  const char* name;
  std::uint8_t compression;
  bool unique;
  bool descending;       // the whole index
  bool fieldDescending;  // the integer field on its own
  std::uint16_t language;
};

class BTreeModelTest : public IndexFileTest, public ::testing::WithParamInterface<ModelCase> {
 protected:
  void SetUp() override {
    IndexFileTest::SetUp();
    fields = LaidOut({Field("Name", kFieldString, 120), Field("N", kFieldInt32)});
    CreateIndex();
    const ModelCase& c = GetParam();
    TIndexDefinition definition =
        IndexOn({1, 2}, c.unique, c.unique ? "" : "ByName", c.compression, c.descending);
    definition.fieldDescending = {false, c.fieldDescending};
    if (c.unique) {
      index->DefinePrimaryIndex(definition, fields);
      slot = kPrimarySlot;
    } else {
      index->DefinePrimaryIndex(IndexOn({}), fields);
      slot = index->AddSecondaryIndex(definition, fields);
    }
    layout = Layout(slot, c.language);
  }

  Bytes RandomKey() {
    static const char* const kPrefixes[] = {"", "C:\\", "C:\\Data\\", "C:\\Data\\Photos\\",
                                            "\xC3\xA4rger\\"};
    static const char kLetters[] = "abcABZz09_.\xC3\xA9";
    std::string name = kPrefixes[random() % 5];
    const int length = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    RecordBuilder r(fields);
    r.Str(1, name).Int(2, static_cast<std::int32_t>(random() % 101) - 50).AutoInc(++autoInc);
    if (random() % 20 == 0) r.Null(1);
    return layout.BuildKey(r.Bytes().data(), r.Bytes().size());
  }

  // The tree must hold exactly the model's keys in the model's order.
  void Compare(
      TIndexTree& tree,
      const std::map<Bytes, std::int32_t, std::function<bool(const Bytes&, const Bytes&)>>& model) {
    ASSERT_EQ(tree.Count(), static_cast<std::int64_t>(model.size()));
    TIndexPosition at;
    bool ok = tree.First(at);
    Bytes key(static_cast<std::size_t>(layout.KeyLength()));
    std::int64_t ordinal = 0;
    for (const auto& [modelKey, record] : model) {
      ASSERT_TRUE(ok) << "the tree ends early";
      std::int32_t found = 0;
      tree.ReadEntry(at, key.data(), &found);
      ASSERT_EQ(key, modelKey);
      ASSERT_EQ(found, record);
      ++ordinal;
      if (ordinal % 97 == 1) {
        ASSERT_EQ(tree.KeysBefore(modelKey.data(), layout.KeyLength()), ordinal - 1);
        ASSERT_EQ(tree.OrdinalOf(at), ordinal);
        TIndexPosition byOrdinal;
        ASSERT_TRUE(tree.SeekOrdinal(ordinal, byOrdinal));
        ASSERT_EQ(tree.RecordAt(byOrdinal), record);
      }
      ok = tree.Next(at);
    }
    ASSERT_FALSE(ok) << "the tree holds more keys than the model";
    index->SetRecordCount(static_cast<std::int32_t>(model.size()));
    ExpectSound(true, GetParam().language);
  }

  std::mt19937 random{12345};
  std::int32_t autoInc = 0;
  int slot = 0;
  TKeyLayout layout;
};

TEST_P(BTreeModelTest, RandomInsertsAndDeletesMatchTheModel) {
  auto less = [this](const Bytes& a, const Bytes& b) {
    return layout.Compare(a.data(), b.data()) < 0;
  };
  std::map<Bytes, std::int32_t, std::function<bool(const Bytes&, const Bytes&)>> model(less);
  TIndexTree tree(*index, slot, layout);
  constexpr int kBatches = 12;
  constexpr int kBatchSize = 200;
  std::int32_t nextRecord = 1;
  for (int batch = 0; batch < kBatches; ++batch) {
    // Grow for most batches, then shrink to empty.
    const int insertPercent = batch < 7 ? 75 : 20;
    for (int op = 0; op < kBatchSize; ++op) {
      if (model.empty() || static_cast<int>(random() % 100) < insertPercent) {
        const Bytes key = RandomKey();
        const bool present = tree.Find(key.data(), layout.KeyLength());
        ASSERT_EQ(present, model.count(key) > 0);
        if (present) continue;  // a duplicate in a unique index is refused
        tree.Insert(key.data(), nextRecord);
        model.emplace(key, nextRecord++);
      } else {
        auto victim = model.begin();
        std::advance(victim, static_cast<long>(random() % model.size()));
        ASSERT_TRUE(tree.Delete(victim->first.data(), victim->second));
        ASSERT_FALSE(tree.Find(victim->first.data(), layout.KeyLength()));
        model.erase(victim);
      }
    }
    ASSERT_NO_FATAL_FAILURE(Compare(tree, model)) << "after batch " << batch;
    if (batch == 6) {
      // At its largest the tree has internal levels (and uncompressed, three).
      const TIndexCheckReport report =
          CheckIndexTrees(*index, fields, {GetParam().language, 0, false});
      for (const TIndexTreeStats& stats : report.trees) {
        if (stats.slot != slot) continue;
        EXPECT_GE(stats.depth, GetParam().compression == kCompressNone ? 3 : 2);
        EXPECT_GT(stats.keys, 500);
      }
    }
  }
  // What is on disk is what was in memory.
  Reopen();
  TIndexTree reopened(*index, slot, layout);
  ASSERT_NO_FATAL_FAILURE(Compare(reopened, model));
  while (!model.empty()) {
    ASSERT_TRUE(reopened.Delete(model.begin()->first.data(), model.begin()->second));
    model.erase(model.begin());
  }
  EXPECT_EQ(index->Root(slot), 0);
  // Every page of the file is back on the index's free list.
  Flush();
  const TIndexCheckReport report = CheckIndexTrees(*index, fields, {GetParam().language, 0, false});
  EXPECT_TRUE(report.Ok()) << report.Describe();
  EXPECT_EQ(report.unreferencedPages, 0);
}

const ModelCase kModelCases[] = {
    {"None", kCompressNone, true, false, false, 0},
    {"NoneNonUnique", kCompressNone, false, false, false, 0},
    {"NoneDescending", kCompressNone, true, true, false, 0},
    {"NoneFieldDescending", kCompressNone, false, false, true, 0},
    {"Duplicate", kCompressDuplicate, true, false, false, 0},
    {"DuplicateNonUniqueDescending", kCompressDuplicate, false, true, false, 0},
    {"Trailing", kCompressTrailing, true, false, true, 0},
    {"TrailingNonUnique", kCompressTrailing, false, false, false, 0},
    {"TrailingDescending", kCompressTrailing, true, true, false, 0},
    {"Full", kCompressFull, true, false, false, 0},
    {"FullNonUnique", kCompressFull, false, false, false, 0},
    {"FullNonUniqueDescending", kCompressFull, false, true, false, 0},
    {"GermanNone", kCompressNone, true, false, true, 0x0407},
    {"GermanFullNonUnique", kCompressFull, false, true, false, 0x0407},
};

INSTANTIATE_TEST_SUITE_P(Modes, BTreeModelTest, ::testing::ValuesIn(kModelCases),
                         [](const ::testing::TestParamInfo<ModelCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace engine_test
