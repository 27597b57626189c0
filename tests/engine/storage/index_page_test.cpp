// Index pages: the stored entry formats of the four compression modes (with
// and without the non-unique suffix), round trips, and stored pages whose
// lengths or counts are impossible (8965, never a crash).
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "engine/storage/index_test_util.h"

namespace engine_test {
namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;

TPage LeafPage(int keyLength, bool unique, std::uint8_t compression) {
  TPage page;
  page.Reset(4096, 0, TPageFormat{keyLength, unique, compression});
  page.Type = kPageRootLeaf;
  return page;
}

Bytes Stored(const TPage& page) {
  Bytes out(kIndexPageSize);
  page.Serialize(out.data());
  return out;
}

// The stored entry bytes (after the 13-byte header) of a page.
Bytes Entries(const TPage& page, std::size_t length) {
  const Bytes stored = Stored(page);
  return Bytes(stored.begin() + 13, stored.begin() + 13 + static_cast<std::ptrdiff_t>(length));
}

TEST(IndexPageFormat, EntryBytesOfEachMode) {
  const Bytes k1 = {0x41, 0x42, 0x43, 0, 0, 0, 0, 0};
  const Bytes k2 = {0x41, 0x42, 0x44, 0x45, 0, 0, 0, 0};
  struct Case {
    const char* what;
    std::uint8_t mode;
    Bytes second;  // stored bytes of the second entry, record number 2 included
  };
  const Case cases[] = {
      {"none", kCompressNone, {0x41, 0x42, 0x44, 0x45, 0, 0, 0, 0, 2, 0, 0, 0}},
      {"duplicate", kCompressDuplicate, {2, 0, 0x44, 0x45, 0, 0, 0, 0, 2, 0, 0, 0}},
      {"trailing", kCompressTrailing, {4, 0, 0x41, 0x42, 0x44, 0x45, 2, 0, 0, 0}},
      {"full", kCompressFull, {2, 4, 0x44, 0x45, 2, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    TPage page = LeafPage(8, true, c.mode);
    page.InsertEntry(0, k1.data(), 1, 0);
    page.InsertEntry(1, k2.data(), 2, 0);
    const Bytes stored = Stored(page);
    const std::size_t firstSize = c.mode == kCompressNone        ? 12
                                  : c.mode == kCompressDuplicate ? 2 + 8 + 4
                                                                 : 2 + 3 + 4;
    const Bytes second(
        stored.begin() + 13 + static_cast<std::ptrdiff_t>(firstSize),
        stored.begin() + 13 + static_cast<std::ptrdiff_t>(firstSize + c.second.size()));
    EXPECT_EQ(second, c.second) << c.what;
    EXPECT_EQ(bytes::GetU16(&stored[kPageUsed]),
              c.mode == kCompressNone ? 0 : firstSize + c.second.size())
        << c.what;
    TPage back = LeafPage(8, true, c.mode);
    back.Expand(stored.data(), "T");
    ASSERT_EQ(back.Count(), 2) << c.what;
    EXPECT_EQ(Bytes(back.Key(2), back.Key(2) + 8), k2) << c.what;
    EXPECT_EQ(back.Value(2), 2) << c.what;
  }
}

TEST(IndexPageFormat, NonUniqueSuffixIsKeptApart) {
  // Key: 3 value bytes, 2 zero bytes, then the 4-byte suffix 80 00 00 05.
  const Bytes k1 = {1, 'a', 'b', 0, 0, 0x80, 0, 0, 5};
  const Bytes k2 = {1, 'a', 'c', 0, 0, 0x80, 0, 0, 6};
  TPage trailing = LeafPage(9, false, kCompressTrailing);
  trailing.InsertEntry(0, k1.data(), 1, 0);
  EXPECT_EQ(Entries(trailing, 13), (Bytes{2, 0, 1, 'a', 'b', 0x80, 0, 0, 5, 1, 0, 0, 0}));
  TPage full = LeafPage(9, false, kCompressFull);
  full.InsertEntry(0, k1.data(), 1, 0);
  full.InsertEntry(1, k2.data(), 2, 0);
  // Second entry: d = 2, t = 2 counted before the suffix, middle "c", suffix.
  const Bytes stored = Entries(full, 13 + 11);
  EXPECT_EQ(Bytes(stored.begin() + 13, stored.end()),
            (Bytes{2, 2, 'c', 0x80, 0, 0, 6, 2, 0, 0, 0}));
  // With fewer than 5 bytes after the shared prefix, t runs over the suffix too.
  const Bytes k3 = {1, 'a', 'c', 0, 0, 0x80, 0, 0, 0};
  const Bytes k4 = {1, 'a', 'c', 0, 0, 0x80, 0, 7, 0};
  TPage shortRest = LeafPage(9, false, kCompressFull);
  shortRest.InsertEntry(0, k3.data(), 1, 0);
  shortRest.InsertEntry(1, k4.data(), 2, 0);
  const Bytes s2 = Entries(shortRest, 13 + 7);
  EXPECT_EQ(Bytes(s2.begin() + 13, s2.end()), (Bytes{7, 1, 7, 2, 0, 0, 0}));
}

TEST(IndexPageFormat, RandomPagesRoundTripInEveryMode) {
  std::mt19937 random(7);
  for (std::uint8_t mode = 0; mode <= kCompressFull; ++mode) {
    for (bool unique : {true, false}) {
      for (int keyLength : {5, 9, 40, 300}) {
        TPage page = LeafPage(keyLength, unique, mode);
        Bytes key(static_cast<std::size_t>(keyLength));
        for (int n = 0; n < 500; ++n) {
          // Keys with shared prefixes and zero tails, as string keys have.
          const int prefix = static_cast<int>(random() % static_cast<unsigned>(keyLength));
          for (int i = prefix; i < keyLength; ++i) key[static_cast<std::size_t>(i)] = 0;
          const int body = prefix + static_cast<int>(random() % 4);
          for (int i = prefix; i < std::min(body, keyLength); ++i) {
            key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(random());
          }
          const int at = static_cast<int>(random() % static_cast<unsigned>(page.Count() + 1));
          page.InsertEntry(at, key.data(), static_cast<std::int32_t>(random()), 0);
          if (page.Overflows()) {
            page.RemoveEntry(at + 1);
            break;
          }
          if (random() % 5 == 0) {
            page.RemoveEntry(1 + static_cast<int>(random() % static_cast<unsigned>(page.Count())));
          }
        }
        const Bytes stored = Stored(page);
        if (mode != kCompressNone) {
          // The size kept up to date entry by entry is the size written.
          EXPECT_EQ(bytes::GetU16(&stored[kPageUsed]), page.StoredBytes());
        }
        TPage back = LeafPage(keyLength, unique, mode);
        back.Expand(stored.data(), "T");
        ASSERT_EQ(back.Count(), page.Count());
        for (int i = 1; i <= page.Count(); ++i) {
          ASSERT_EQ(Bytes(back.Key(i), back.Key(i) + keyLength),
                    Bytes(page.Key(i), page.Key(i) + keyLength))
              << int(mode) << " " << unique << " " << keyLength << " entry " << i;
          ASSERT_EQ(back.Value(i), page.Value(i));
        }
        EXPECT_EQ(Stored(back), stored);
      }
    }
  }
}

// An entry inserted from a key that lies in the same page (as a split or a
// redistribution may hand over) keeps its bytes although the entries move
// and their buffer may grow under it.
TEST(IndexPageFormat, KeyTakenFromTheSamePage) {
  for (int keyLength : {5, 300}) {
    TPage page = LeafPage(keyLength, true, kCompressNone);
    std::vector<Bytes> keys;
    for (int i = 0; i < 3; ++i) {
      keys.emplace_back(static_cast<std::size_t>(keyLength), static_cast<std::uint8_t>(10 * i + 1));
      page.InsertEntry(i, keys.back().data(), i, 0);
    }
    page.InsertEntry(0, page.Key(3), 99, 0);  // the last key again, at the front
    page.InsertEntry(4, page.Key(1), 98, 0);
    const std::vector<std::pair<Bytes, std::int32_t>> expected = {
        {keys[2], 99}, {keys[0], 0}, {keys[1], 1}, {keys[2], 2}, {keys[2], 98}};
    ASSERT_EQ(page.Count(), 5);
    for (int i = 1; i <= 5; ++i) {
      const auto& [key, value] = expected[static_cast<std::size_t>(i - 1)];
      EXPECT_EQ(Bytes(page.Key(i), page.Key(i) + keyLength), key) << keyLength << " entry " << i;
      EXPECT_EQ(page.Value(i), value) << keyLength << " entry " << i;
    }
  }
}

TEST(IndexPageFormat, ImpossibleStoredPagesAreCorrupt) {
  const Bytes k = {1, 'a', 'b', 0, 0, 0, 0, 0};
  auto page = [&](std::uint8_t mode, int entries) {
    TPage p = LeafPage(8, true, mode);
    for (int i = 0; i < entries; ++i) {
      Bytes key = k;
      key[2] = static_cast<std::uint8_t>('b' + i);
      p.InsertEntry(i, key.data(), i + 1, 0);
    }
    return Stored(p);
  };
  struct Case {
    const char* what;
    std::uint8_t mode;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"unknown page type", kCompressNone, [](Bytes& b) { b[kPageType] = 7; }},
      {"more entries than fit", kCompressNone,
       [](Bytes& b) { bytes::PutU16(&b[kPageCount], 400); }},
      {"first entry shares bytes", kCompressDuplicate, [](Bytes& b) { b[13] = 1; }},
      {"shared bytes beyond the key", kCompressDuplicate,
       [](Bytes& b) { bytes::PutU16(&b[13 + 14], 9); }},
      {"zero run beyond the key", kCompressTrailing, [](Bytes& b) { bytes::PutU16(&b[13], 9); }},
      {"full mode runs beyond the key", kCompressFull, [](Bytes& b) { b[14] = 200; }},
      {"used bytes disagree", kCompressFull, [](Bytes& b) { bytes::PutU16(&b[kPageUsed], 1); }},
      {"entries run off the page", kCompressTrailing,
       [](Bytes& b) { bytes::PutU16(&b[kPageCount], 4000); }},
  };
  for (const Case& c : cases) {
    Bytes stored = page(c.mode, 3);
    c.damage(stored);
    TPage p = LeafPage(8, true, c.mode);
    EXPECT_EQ(EngineCodeOf([&] { p.Expand(stored.data(), "T"); }), kErrIndexPageCorrupt) << c.what;
  }
}

}  // namespace
}  // namespace engine_test
