// Inflate: decodes zlib's raw streams for every level and strategy, hands its output over in
// whole windows, and stops with kBadData on hand-built invalid streams without writing the
// damaged window. Sample streams from the shared test data decode byte-exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "zip/codec_test_util.h"
#include "zip/crc32.h"
#include "zip/inflate.h"

namespace zip {
namespace {

using testutil::BitWriter;
using testutil::Bytes;
using testutil::DataKind;

// Delivers its bytes in small pieces of varying size, so the bit reader's careful path (fewer
// than eight buffered bytes) runs all through the stream.
class TrickleInput : public DecodeInput {
 public:
  explicit TrickleInput(const Bytes& data) : data_(data) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    const std::size_t piece = std::min({n, data_.size() - at_, std::size_t{1} + (calls_++ % 7)});
    std::copy_n(data_.begin() + static_cast<long>(at_), piece, buf);
    at_ += piece;
    return piece;
  }

 private:
  const Bytes& data_;
  std::size_t at_ = 0;
  std::size_t calls_ = 0;
};

class MemoryInput : public DecodeInput {
 public:
  explicit MemoryInput(const Bytes& data) : data_(data) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    n = std::min(n, data_.size() - at_);
    std::copy_n(data_.begin() + static_cast<long>(at_), n, buf);
    at_ += n;
    return n;
  }

 private:
  const Bytes& data_;
  std::size_t at_ = 0;
};

class RecordingOutput : public DecodeOutput {
 public:
  void Write(const std::uint8_t* p, std::size_t n) override {
    pieces.push_back(n);
    bytes.insert(bytes.end(), p, p + n);
  }
  std::vector<std::size_t> pieces;
  Bytes bytes;
};

DecodeStatus Inflate(const Bytes& in, Bytes* out) {
  return InflateBuffer(in.data(), in.size(), out);
}

TEST(CodecInflate, DecodesZlibStreamsOfEveryLevelAndStrategy) {
  const struct {
    int strategy;
    const char* name;
  } kStrategies[] = {{Z_DEFAULT_STRATEGY, "default"},
                     {Z_FILTERED, "filtered"},
                     {Z_HUFFMAN_ONLY, "huffman-only"},
                     {Z_RLE, "rle"},
                     {Z_FIXED, "fixed"}};
  const DataKind kKinds[] = {DataKind::kText, DataKind::kBinary, DataKind::kRandom,
                             DataKind::kZeros};
  for (DataKind kind : kKinds) {
    const Bytes original = testutil::MakeData(kind, 150000);
    for (const auto& s : kStrategies) {
      for (int level = 0; level <= 9; ++level) {
        SCOPED_TRACE(std::string(testutil::DataKindName(kind)) + " " + s.name + " level " +
                     std::to_string(level));
        const Bytes packed = testutil::ZlibDeflateRaw(original, level, s.strategy);
        ASSERT_FALSE(packed.empty());
        Bytes out;
        ASSERT_EQ(Inflate(packed, &out), DecodeStatus::kOk);
        ASSERT_EQ(out, original);
      }
    }
  }
}

TEST(CodecInflate, ByteByByteInputGivesTheSameBytes) {
  for (DataKind kind : {DataKind::kText, DataKind::kRandom, DataKind::kRepetitive}) {
    const Bytes original = testutil::MakeData(kind, 100000, 7);
    const Bytes packed = testutil::ZlibDeflateRaw(original, 6);
    TrickleInput input(packed);
    RecordingOutput output;
    EntryDecoder decoder;
    ASSERT_EQ(decoder.Inflate(input, output), DecodeStatus::kOk) << DataKindName(kind);
    EXPECT_EQ(output.bytes, original) << DataKindName(kind);
  }
}

TEST(CodecInflate, OutputLeavesInWholeWindows) {
  const struct {
    std::size_t size;
    std::vector<std::size_t> pieces;
  } kCases[] = {
      {0, {}},
      {100, {100}},
      {32768, {32768}},  // exactly one window: one write when it fills, nothing after
      {70000, {32768, 32768, 4464}},
  };
  for (const auto& c : kCases) {
    const Bytes original = testutil::MakeData(DataKind::kText, c.size, 3);
    const Bytes packed = testutil::ZlibDeflateRaw(original, 6);
    MemoryInput input(packed);
    RecordingOutput output;
    EntryDecoder decoder;
    ASSERT_EQ(decoder.Inflate(input, output), DecodeStatus::kOk);
    EXPECT_EQ(output.pieces, c.pieces) << "size " << c.size;
    EXPECT_EQ(output.bytes, original);
  }
}

// --- hand-built streams ---

// Block header: last-block bit, then the 2-bit type.
void PutHeader(BitWriter& w, bool last, unsigned type) {
  w.Put(last ? 1 : 0, 1);
  w.Put(type, 2);
}

// Fixed-code literal/length symbol (RFC 1951 3.2.6).
void PutFixedLitLen(BitWriter& w, unsigned sym) {
  if (sym < 144)
    w.PutCode(0x30 + sym, 8);
  else if (sym < 256)
    w.PutCode(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.PutCode(sym - 256, 7);
  else
    w.PutCode(0xC0 + sym - 280, 8);
}

// A dynamic block header whose code-length code gives every length 0-15 a 4-bit code (16
// symbols of 4 bits: a complete code), so any lengths can be written one by one.
void PutDynamicHeader(BitWriter& w, bool last, const std::vector<int>& litLens,
                      const std::vector<int>& distLens) {
  PutHeader(w, last, 2);
  w.Put(static_cast<std::uint32_t>(litLens.size() - 257), 5);  // HLIT
  w.Put(static_cast<std::uint32_t>(distLens.size() - 1), 5);   // HDIST
  w.Put(19 - 4, 4);                                            // HCLEN: all 19 code lengths
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int sym : kOrder) w.Put(sym < 16 ? 4 : 0, 3);                  // 16-18 unused
  for (int l : litLens) w.PutCode(static_cast<std::uint32_t>(l), 4);  // length l has code l
  for (int l : distLens) w.PutCode(static_cast<std::uint32_t>(l), 4);
}

// Code-length code with symbols 16, 17, 18 (2 bits) and 0, 8 (3 bits) only, for repeat codes.
void PutRepeatHeader(BitWriter& w, unsigned hlit, unsigned hdist) {
  PutHeader(w, true, 2);
  w.Put(hlit - 257, 5);
  w.Put(hdist - 1, 5);
  w.Put(19 - 4, 4);
  static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  for (int sym : kOrder) w.Put(sym >= 16 ? 2 : (sym == 0 || sym == 8) ? 3 : 0, 3);
  // Canonical codes: 16 -> 00, 17 -> 01, 18 -> 10, 0 -> 110, 8 -> 111.
}
void PutRepeat(BitWriter& w, unsigned sym, unsigned count) {
  if (sym == 16) {
    w.PutCode(0b00, 2);
    w.Put(count - 3, 2);
  }
  if (sym == 17) {
    w.PutCode(0b01, 2);
    w.Put(count - 3, 3);
  }
  if (sym == 18) {
    w.PutCode(0b10, 2);
    w.Put(count - 11, 7);
  }
}

std::vector<int> Lengths(std::size_t n, std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> v(n, 0);
  for (auto [sym, len] : set) v[static_cast<std::size_t>(sym)] = len;
  return v;
}

struct StreamCase {
  const char* name;
  Bytes stream;
  DecodeStatus status;
  Bytes expected;  // for kOk
};

std::vector<StreamCase> HandBuiltStreams() {
  std::vector<StreamCase> cases;
  {
    BitWriter w;  // an empty stored block that is the last one
    PutHeader(w, true, 0);
    w.AlignToByte();
    w.Put(0, 16);       // LEN
    w.Put(0xFFFF, 16);  // NLEN
    cases.push_back({"empty stored block", w.bytes(), DecodeStatus::kOk, {}});
  }
  {
    BitWriter w;  // stored "abc", then a fixed block copying it from distance 3, length 4
    PutHeader(w, false, 0);
    w.AlignToByte();
    w.Put(3, 16);
    w.Put(0xFFFC, 16);
    for (char c : std::string("abc")) w.PutByte(static_cast<std::uint8_t>(c));
    PutHeader(w, true, 1);
    PutFixedLitLen(w, 258);  // length 4
    w.PutCode(2, 5);         // distance code 2: distance 3
    PutFixedLitLen(w, 256);
    cases.push_back({"match reaching into a stored block", w.bytes(), DecodeStatus::kOk,
                     Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a'}});
  }
  {
    BitWriter w;  // 'x' then distance 1, length 258: one byte repeated (overlapping copy)
    PutHeader(w, true, 1);
    PutFixedLitLen(w, 'x');
    PutFixedLitLen(w, 285);  // length 258, no extra bits
    w.PutCode(0, 5);         // distance 1
    PutFixedLitLen(w, 256);
    cases.push_back({"distance 1 length 258", w.bytes(), DecodeStatus::kOk, Bytes(259, 'x')});
  }
  {
    BitWriter w;  // literal code: 'a', 'b', end (lengths 1, 2, 2); one distance code of length 1
    PutDynamicHeader(w, true, Lengths(257, {{'a', 1}, {'b', 2}, {256, 2}}), {1});
    w.PutCode(0b0, 1);   // a
    w.PutCode(0b10, 2);  // b
    w.PutCode(0b11, 2);  // end
    cases.push_back(
        {"single distance code of length 1", w.bytes(), DecodeStatus::kOk, Bytes{'a', 'b'}});
  }
  {
    BitWriter w;  // all distance lengths zero: a literal-only block
    PutDynamicHeader(w, true, Lengths(257, {{'a', 1}, {256, 1}}), {0});
    w.PutCode(0, 1);
    w.PutCode(0, 1);
    w.PutCode(1, 1);
    cases.push_back({"no distance codes", w.bytes(), DecodeStatus::kOk, Bytes{'a', 'a'}});
  }
  {
    BitWriter w;  // block type 3 is reserved
    PutHeader(w, true, 3);
    w.Put(0, 16);
    cases.push_back({"bad block type", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // LEN 5 with NLEN 5 instead of ~5
    PutHeader(w, true, 0);
    w.AlignToByte();
    w.Put(5, 16);
    w.Put(5, 16);
    for (int i = 0; i < 5; ++i) w.PutByte('z');
    cases.push_back({"stored length mismatch", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // stored block promising 10 bytes, 4 present
    PutHeader(w, true, 0);
    w.AlignToByte();
    w.Put(10, 16);
    w.Put(0xFFF5, 16);
    for (int i = 0; i < 4; ++i) w.PutByte('z');
    cases.push_back({"stored block cut short", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // HLIT = 30 + 257 = 287 literal/length codes (at most 286)
    PutHeader(w, true, 2);
    w.Put(30, 5);
    w.Put(0, 5);
    w.Put(0, 4);
    w.Put(0, 32);
    cases.push_back({"too many literal/length codes", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // HDIST = 30 + 1 = 31 distance codes (at most 30)
    PutHeader(w, true, 2);
    w.Put(0, 5);
    w.Put(30, 5);
    w.Put(0, 4);
    w.Put(0, 32);
    cases.push_back({"too many distance codes", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // code-length code: four codes of length 1 (over-subscribed)
    PutHeader(w, true, 2);
    w.Put(0, 5);
    w.Put(0, 5);
    w.Put(0, 4);  // HCLEN 4: lengths for 16, 17, 18, 0
    for (int i = 0; i < 4; ++i) w.Put(1, 3);
    w.Put(0, 32);
    cases.push_back({"over-subscribed code-length code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // three literal/length codes of length 1
    PutDynamicHeader(w, true, Lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), {1});
    w.Put(0, 8);
    cases.push_back({"over-subscribed literal/length code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // 'a' and end of block with length 2 each: half the code space unused
    PutDynamicHeader(w, true, Lengths(257, {{'a', 2}, {256, 2}}), {1});
    w.PutCode(0, 2);
    w.PutCode(1, 2);
    cases.push_back({"incomplete literal/length code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // distance codes 0 and 1 with lengths 2 and 3: incomplete, not a single code
    PutDynamicHeader(w, true, Lengths(257, {{'a', 1}, {256, 1}}), {2, 3});
    w.PutCode(1, 1);
    cases.push_back({"incomplete distance code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // 258 lengths expected; zeros for 138 + 127 = 265 of them
    PutRepeatHeader(w, 257, 1);
    PutRepeat(w, 18, 138);
    PutRepeat(w, 18, 127);
    w.Put(0, 16);
    cases.push_back({"repeat past the end of the lengths", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // code 16 (repeat previous) as the very first length
    PutRepeatHeader(w, 257, 1);
    PutRepeat(w, 16, 3);
    w.Put(0, 32);
    cases.push_back({"repeat with no previous length", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // one literal, then distance 2 (only 1 byte decoded so far)
    PutHeader(w, true, 1);
    PutFixedLitLen(w, 'q');
    PutFixedLitLen(w, 257);  // length 3
    w.PutCode(1, 5);         // distance 2
    PutFixedLitLen(w, 256);
    cases.push_back({"distance too far back", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // distance code 30 is reserved
    PutHeader(w, true, 1);
    PutFixedLitLen(w, 'q');
    PutFixedLitLen(w, 257);
    w.PutCode(30, 5);
    PutFixedLitLen(w, 256);
    cases.push_back({"reserved distance code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // length symbol 286 is reserved
    PutHeader(w, true, 1);
    PutFixedLitLen(w, 'q');
    PutFixedLitLen(w, 286);
    w.PutCode(0, 5);
    PutFixedLitLen(w, 256);
    cases.push_back({"reserved length code", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // a fixed block that never ends: the data runs out
    PutHeader(w, true, 1);
    for (int i = 0; i < 40; ++i) PutFixedLitLen(w, 'k');
    cases.push_back({"data ends inside a block", w.bytes(), DecodeStatus::kBadData, {}});
  }
  {
    BitWriter w;  // a block that is not the last, then nothing
    PutHeader(w, false, 1);
    PutFixedLitLen(w, 'k');
    PutFixedLitLen(w, 256);
    cases.push_back({"no last block", w.bytes(), DecodeStatus::kBadData, {}});
  }
  return cases;
}

TEST(CodecInflate, HandBuiltStreams) {
  for (const StreamCase& c : HandBuiltStreams()) {
    SCOPED_TRACE(c.name);
    RecordingOutput output;
    MemoryInput input(c.stream);
    EntryDecoder decoder;
    EXPECT_EQ(decoder.Inflate(input, output), c.status);
    if (c.status == DecodeStatus::kOk) {
      EXPECT_EQ(output.bytes, c.expected);
    } else {
      EXPECT_TRUE(output.bytes.empty()) << "a damaged window must not be written";
    }
    // zlib, as the control, agrees on valid versus invalid.
    EXPECT_EQ(testutil::ZlibInflateRaw(c.stream).has_value(), c.status == DecodeStatus::kOk);
  }
}

TEST(CodecInflate, DamageAfterTheFirstWindowKeepsTheWindowsBefore) {
  // 40,000 literals in a fixed block that never ends: the first window is complete and is
  // written; the second is damaged and is not.
  BitWriter w;
  PutHeader(w, true, 1);
  for (int i = 0; i < 40000; ++i) PutFixedLitLen(w, 'a' + i % 26);
  Bytes out;
  EXPECT_EQ(Inflate(w.bytes(), &out), DecodeStatus::kBadData);
  EXPECT_EQ(out.size(), kDecodeWindowSize);
}

TEST(CodecInflate, SampleStreamsDecodeByteExact) {
  const struct {
    const char* stream;
    const char* expected;
    DecodeStatus status;
  } kSamples[] = {
      {"deflate-streams/wuffs-romeo.txt.deflate", "deflate-streams/wuffs-romeo.txt",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-romeo.txt.fixed-huff.deflate", "deflate-streams/wuffs-romeo.txt",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-midsummer.txt.deflate", "deflate-streams/wuffs-midsummer.txt",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-pi.txt.deflate", "deflate-streams/wuffs-pi.txt", DecodeStatus::kOk},
      {"deflate-streams/wuffs-artificial/backref-crosses-blocks.deflate",
       "deflate-streams/wuffs-artificial/backref-crosses-blocks.deflate.decompressed",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-artificial/degenerate-huffman.deflate",
       "deflate-streams/wuffs-artificial/degenerate-huffman.deflate.decompressed",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-artificial/distance-32768.deflate",
       "deflate-streams/wuffs-artificial/distance-32768.deflate.decompressed", DecodeStatus::kOk},
      {"deflate-streams/wuffs-artificial/huffman-primlen-9.deflate",
       "deflate-streams/wuffs-artificial/huffman-primlen-9.deflate.decompressed",
       DecodeStatus::kOk},
      {"deflate-streams/wuffs-artificial/distance-code-31.deflate", nullptr,
       DecodeStatus::kBadData},
  };
  for (const auto& s : kSamples) {
    SCOPED_TRACE(s.stream);
    const auto stream = testutil::ReadFile(testutil::SharedPath(s.stream));
    if (!stream) GTEST_SKIP() << "shared test data not found: " << s.stream;
    Bytes out;
    EXPECT_EQ(Inflate(*stream, &out), s.status);
    if (s.expected != nullptr) {
      const auto expected = testutil::ReadFile(testutil::SharedPath(s.expected));
      ASSERT_TRUE(expected.has_value());
      EXPECT_EQ(out, *expected);
    }
  }
}

TEST(CodecInflate, SampleArchiveEntriesMatchTheirCrc) {
  const struct {
    const char* archive;
    DecodeStatus status;
  } kArchives[] = {
      {"deflate-streams/in-zip/deflate-135168-bytes-to-147.zip", DecodeStatus::kOk},
      {"deflate-streams/in-zip/deflate-262304-bytes-to-437-long-matches.zip", DecodeStatus::kOk},
      {"deflate-streams/in-zip/deflate-dynamic-10689-bytes-js.zip", DecodeStatus::kOk},
      {"deflate-streams/invalid-in-zip/invalid_code_lengths_set.zip", DecodeStatus::kBadData},
      {"deflate-streams/invalid-in-zip/too_many_length_or_distance_symbols.zip",
       DecodeStatus::kBadData},
  };
  for (const auto& a : kArchives) {
    SCOPED_TRACE(a.archive);
    const auto zip = testutil::ReadFile(testutil::SharedPath(a.archive));
    if (!zip) GTEST_SKIP() << "shared test data not found: " << a.archive;
    const auto entries = testutil::WalkLocalHeaders(*zip);
    ASSERT_FALSE(entries.empty());
    for (const auto& e : entries) {
      ASSERT_EQ(e.method, CodecMethod::kDeflated);
      Bytes out;
      EXPECT_EQ(Inflate(e.data, &out), a.status);
      if (a.status == DecodeStatus::kOk) {
        EXPECT_EQ(out.size(), e.uncompressedSize);
        EXPECT_EQ(Crc32(out.data(), out.size()), e.crc);
      }
    }
  }
}

}  // namespace
}  // namespace zip
