// Shrink, reduce and implode: the sample archives' entries decode to their recorded size and CRC
// (and to the known text where the sample set has it); damaged or truncated data ends with
// kBadData; hand-built LZW codes show the not-yet-defined code and the control codes.
#include <gtest/gtest.h>

#include <string>

#include "zip/codec_test_util.h"
#include "zip/crc32.h"
#include "zip/inflate.h"

namespace zip {
namespace {

using testutil::BitWriter;
using testutil::Bytes;

DecodeStatus Decode(std::uint16_t method, std::uint16_t flags, std::uint64_t size,
                    const Bytes& data, Bytes* out) {
  DecodeParams p;
  p.method = method;
  p.flagBits = flags;
  p.uncompressedSize = size;
  out->clear();
  return DecodeBuffer(p, data.data(), data.size(), out);
}

TEST(CodecLegacy, SampleArchivesDecodeToTheirCrc) {
  const char* const kArchives[] = {
      "legacy-methods/implode-4k-2trees-2048-byte-repetitive.zip",
      "legacy-methods/implode-4k-2trees-header-txt.zip",
      "legacy-methods/implode-4k2t-and-8k3t-plus-stored-jpg.zip",
      "legacy-methods/implode-8k-3trees-135-entries-unix-host.zip",
      "legacy-methods/implode-8k-3trees-first-txt.zip",
      "legacy-methods/implode-8k-3trees-license-txt.zip",
      "legacy-methods/implode-8k-3trees-lorem-144k.zip",
      "legacy-methods/implode-pkzip-1991-flag-bit13-growing-sizes.zip",
      "legacy-methods/implode-pkzip10-1990-five-entries-4k2t-8k3t.zip",
      "legacy-methods/reduce1-m2-exe-jpg-plus-shrunk-txt.zip",
      "legacy-methods/reduce2-m3-exe-jpg-plus-shrunk-txt.zip",
      "legacy-methods/reduce3-m4-exe-jpg-plus-shrunk-txt.zip",
      "legacy-methods/reduce4-m5-exe-jpg-plus-shrunk-txt.zip",
      "legacy-methods/reduce4-m5-first-txt.zip",
      "legacy-methods/shrink-m1-first-txt.zip",
      "legacy-methods/shrink-m1-two-small-xml.zip",
      "legacy-methods/shrink-m1-txt-exe-plus-stored-jpg.zip",
  };
  const auto firstTxt =
      testutil::ReadFile(testutil::SharedPath("legacy-methods/expected-first.txt"));
  int decoded[7] = {};
  for (const char* archive : kArchives) {
    SCOPED_TRACE(archive);
    const auto zip = testutil::ReadFile(testutil::SharedPath(archive));
    if (!zip) GTEST_SKIP() << "shared test data not found: " << archive;
    const auto entries = testutil::WalkLocalHeaders(*zip);
    ASSERT_FALSE(entries.empty());
    for (const auto& e : entries) {
      if ((e.flags & 1) != 0 || e.method > CodecMethod::kImploded) continue;  // encrypted
      SCOPED_TRACE(e.name);
      Bytes out;
      ASSERT_EQ(Decode(e.method, e.flags, e.uncompressedSize, e.data, &out), DecodeStatus::kOk);
      EXPECT_EQ(out.size(), e.uncompressedSize);
      EXPECT_EQ(Crc32(out.data(), out.size()), e.crc);
      if (firstTxt && std::string(archive).find("first-txt") != std::string::npos) {
        EXPECT_EQ(out, *firstTxt);
      }
      ++decoded[e.method];
    }
  }
  // Every method was met at least once.
  for (int m = 0; m <= 6; ++m) EXPECT_GT(decoded[m], 0) << "method " << m;
}

TEST(CodecLegacy, RawSampleStreams) {
  const auto implode = testutil::ReadFile(
      testutil::SharedPath("legacy-methods/raw-implode-4k-2trees-hamlet256.bin"));
  const auto implodeExpected = testutil::ReadFile(
      testutil::SharedPath("legacy-methods/raw-implode-4k-2trees-hamlet256.expected"));
  const auto reduce =
      testutil::ReadFile(testutil::SharedPath("legacy-methods/raw-reduce4-hamlet2048.bin"));
  const auto reduceExpected =
      testutil::ReadFile(testutil::SharedPath("legacy-methods/raw-reduce4-hamlet2048.expected"));
  const auto reduceZeros = testutil::ReadFile(
      testutil::SharedPath("legacy-methods/raw-reduce4-hamlet2048-plus-1024-zeros.bin"));
  if (!implode || !implodeExpected || !reduce || !reduceExpected || !reduceZeros) {
    GTEST_SKIP() << "shared test data not found";
  }
  Bytes out;
  EXPECT_EQ(Decode(CodecMethod::kImploded, 0, 256, *implode, &out), DecodeStatus::kOk);
  EXPECT_EQ(out, *implodeExpected);
  EXPECT_EQ(Decode(5, 0, 2048, *reduce, &out), DecodeStatus::kOk);
  EXPECT_EQ(out, *reduceExpected);
  // The zeros are copied from before the start of the output.
  EXPECT_EQ(Decode(5, 0, 3072, *reduceZeros, &out), DecodeStatus::kOk);
  ASSERT_EQ(out.size(), 3072u);
  EXPECT_EQ(Bytes(out.begin() + 2048, out.end()), Bytes(1024, 0));
}

TEST(CodecLegacy, TruncatedDataIsBadData) {
  const auto zip = testutil::ReadFile(
      testutil::SharedPath("legacy-methods/implode-4k2t-and-8k3t-plus-stored-jpg.zip"));
  const auto reduce =
      testutil::ReadFile(testutil::SharedPath("legacy-methods/reduce4-m5-first-txt.zip"));
  if (!zip || !reduce) GTEST_SKIP() << "shared test data not found";
  auto entries = testutil::WalkLocalHeaders(*zip);
  const auto more = testutil::WalkLocalHeaders(*reduce);
  entries.insert(entries.end(), more.begin(), more.end());
  for (auto e : entries) {
    if (e.method == CodecMethod::kStored) continue;
    SCOPED_TRACE(e.name);
    for (std::size_t keep : {std::size_t{0}, std::size_t{10}, e.data.size() / 2}) {
      Bytes cut(e.data.begin(), e.data.begin() + static_cast<long>(keep));
      Bytes out;
      EXPECT_EQ(Decode(e.method, e.flags, e.uncompressedSize, cut, &out), DecodeStatus::kBadData)
          << "kept " << keep;
    }
  }
}

TEST(CodecLegacy, ImplodeTreeDescriptions) {
  const struct {
    const char* name;
    Bytes data;
    DecodeStatus status;
  } kCases[] = {
      // Length tree: one byte 0xF5 = 16 symbols of length 6 ... only 16 of 64 symbols.
      {"counts short of the tree size", Bytes{0x00, 0xF5, 0x00, 0xF5, 0, 0, 0, 0},
       DecodeStatus::kBadData},
      // Length tree: 5 bytes of 16 symbols each = 80 > 64.
      {"counts beyond the tree size", Bytes{0x04, 0xF5, 0xF5, 0xF5, 0xF5, 0xF5, 0, 0},
       DecodeStatus::kBadData},
      // 64 symbols of length 1: over-subscribed.
      {"over-subscribed lengths", Bytes{0x03, 0xF0, 0xF0, 0xF0, 0xF0, 0x03, 0xF0, 0xF0, 0xF0, 0xF0},
       DecodeStatus::kBadData},
  };
  for (const auto& c : kCases) {
    Bytes out;
    EXPECT_EQ(Decode(CodecMethod::kImploded, 0, 100, c.data, &out), c.status) << c.name;
  }
  // Two complete trees of 64 codes of length 6, then literal 'A' (flag 1, 8 raw bits) and a match
  // of distance 1 (6 low bits 0, distance code 0) with length code 1: length 1 + 2 = 3.
  BitWriter w;
  for (int tree = 0; tree < 2; ++tree) {
    w.Put(3, 8);                                 // 4 bytes follow
    for (int i = 0; i < 4; ++i) w.Put(0xF5, 8);  // 16 symbols of length 6, four times
  }
  w.Put(1, 1);
  w.Put('A', 8);
  w.Put(0, 1);
  w.Put(0, 6);               // distance low bits
  w.PutCode(~0u & 0x3F, 6);  // distance code 0: canonical 000000, sent inverted
  w.PutCode(~1u & 0x3F, 6);  // length code 1: canonical 000001, sent inverted
  Bytes out;
  EXPECT_EQ(Decode(CodecMethod::kImploded, 0, 4, w.bytes(), &out), DecodeStatus::kOk);
  EXPECT_EQ(out, (Bytes{'A', 'A', 'A', 'A'}));
}

// LZW codes, 9 bits each unless widened.
Bytes ShrinkCodes(std::initializer_list<std::pair<unsigned, unsigned>> codes) {
  BitWriter w;
  for (auto [code, width] : codes) w.Put(code, width);
  return w.bytes();
}

TEST(CodecLegacy, ShrinkCodes) {
  const struct {
    const char* name;
    Bytes data;
    DecodeStatus status;
    std::string expected;
  } kCases[] = {
      {"empty", {}, DecodeStatus::kOk, ""},
      // a, b, 257 = "ab", 259 not yet defined = "ab" + "a".
      {"not-yet-defined code", ShrinkCodes({{'a', 9}, {'b', 9}, {257, 9}, {259, 9}}),
       DecodeStatus::kOk, "abababa"},
      // Widen to 10 bits after the escape.
      {"widen", ShrinkCodes({{'x', 9}, {256, 9}, {1, 9}, {'y', 10}, {257, 10}}), DecodeStatus::kOk,
       "xyxy"},
      // a, b (257 = ab), c (258 = bc), clear: 257 and 258 are prefixes of nothing and become free;
      // d then takes 257 = "c" + "d".
      {"partial clear",
       ShrinkCodes({{'a', 9}, {'b', 9}, {'c', 9}, {256, 9}, {2, 9}, {'d', 9}, {257, 9}}),
       DecodeStatus::kOk, "abcdcd"},
      {"first code is not a byte", ShrinkCodes({{300, 9}}), DecodeStatus::kBadData, ""},
      {"unknown control code", ShrinkCodes({{'a', 9}, {256, 9}, {7, 9}}), DecodeStatus::kBadData,
       ""},
      {"escape without its control code", ShrinkCodes({{'a', 9}, {256, 9}}), DecodeStatus::kBadData,
       ""},
  };
  for (const auto& c : kCases) {
    Bytes out;
    EXPECT_EQ(Decode(CodecMethod::kShrunk, 0, c.expected.size(), c.data, &out), c.status) << c.name;
    if (c.status == DecodeStatus::kOk) {
      EXPECT_EQ(std::string(out.begin(), out.end()), c.expected) << c.name;
    }
  }
}

TEST(CodecLegacy, MethodDispatch) {
  const Bytes stored = testutil::MakeData(testutil::DataKind::kBinary, 70000);
  Bytes out;
  EXPECT_EQ(Decode(CodecMethod::kStored, 0, stored.size(), stored, &out), DecodeStatus::kOk);
  EXPECT_EQ(out, stored);
  for (std::uint16_t method : {7, 9, 12, 14, 99}) {
    EXPECT_FALSE(IsSupportedMethod(method)) << method;
    EXPECT_EQ(Decode(method, 0, 10, stored, &out), DecodeStatus::kUnsupportedMethod) << method;
  }
  for (std::uint16_t method : {0, 1, 2, 3, 4, 5, 6, 8}) EXPECT_TRUE(IsSupportedMethod(method));
}

}  // namespace
}  // namespace zip
