// Zip codec benchmark driver. Prints one table per run:
//   deflate  our level-6 compressor vs zlib's raw deflate at level 6 (windowBits -15, memLevel 8):
//            compressed size and throughput, per corpus part and for the whole corpus;
//   inflate  our decoder vs zlib's raw inflate, both decoding zlib's level-6 stream of the same
//            data (and ours decoding our own stream).
// The corpus is generated in memory (nothing is written to disk): text-like, source-like,
// binary records, random bytes and long repetitive runs, 1 MB each unless a size in MB is given
// as the first argument. Each measurement is the median of kRuns runs in thread CPU time; ratios
// are ours / zlib's (throughput ratio above 1 means we are faster).
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "zip/deflate.h"
#include "zip/inflate.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kRuns = 7;
constexpr int kLevel = 6;
constexpr double kMB = 1024.0 * 1024.0;

// --- corpus ---

Bytes MakeText(std::size_t n, std::mt19937& rng) {
  static const char* const kWords[] = {
      "the",    "of",      "and",    "to",      "in",      "a",       "is",      "that",
      "for",    "it",      "as",     "was",     "with",    "be",      "by",      "on",
      "not",    "he",      "this",   "are",     "or",      "his",     "from",    "at",
      "which",  "but",     "have",   "an",      "had",     "they",    "you",     "were",
      "backup", "archive", "record", "window",  "session", "catalog", "restore", "compress",
      "table",  "engine",  "index",  "locking", "buffer",  "between", "because", "through"};
  // Zipf-like choice: low indices far more often.
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Bytes out;
  while (out.size() < n) {
    const double x = u(rng);
    const auto i = static_cast<std::size_t>(x * x * x * std::size(kWords));
    const char* w = kWords[std::min(i, std::size(kWords) - 1)];
    out.insert(out.end(), w, w + std::strlen(w));
    const unsigned r = rng() % 20;
    out.push_back(r == 0 ? '\n' : r == 1 ? ',' : ' ');
  }
  out.resize(n);
  return out;
}

Bytes MakeSource(std::size_t n, std::mt19937& rng) {
  static const char* const kIdents[] = {"count", "buffer", "index", "result", "node", "entry",
                                        "size",  "offset", "table", "status", "key",  "value"};
  Bytes out;
  auto put = [&](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
  while (out.size() < n) {
    const std::string a = kIdents[rng() % std::size(kIdents)];
    const std::string b = kIdents[rng() % std::size(kIdents)];
    switch (rng() % 6) {
      case 0:
        put("  for (int " + a + " = 0; " + a + " < " + b + "; ++" + a + ") {\n");
        break;
      case 1:
        put("    " + a + " += " + b + "[" + std::to_string(rng() % 64) + "];\n");
        break;
      case 2:
        put("  if (" + a + " != " + b + ") return " + std::to_string(rng() % 100) + ";\n");
        break;
      case 3:
        put("  }\n");
        break;
      case 4:
        put("// Returns the " + a + " of the " + b + ".\n");
        break;
      default:
        put("  std::uint32_t " + a + "_" + b + " = Read" + b + "(" + a + ");\n");
        break;
    }
  }
  out.resize(n);
  return out;
}

Bytes MakeBinary(std::size_t n, std::mt19937& rng) {
  Bytes out;
  std::uint32_t id = 0;
  while (out.size() < n) {
    std::uint8_t rec[32] = {};
    const std::uint32_t ptr = 0x00400000u + (rng() % 8192) * 16;
    const double v = static_cast<double>(rng() % 100000) / 100.0;
    const std::uint16_t flags = static_cast<std::uint16_t>(rng() % 4);
    std::memcpy(rec, &id, 4);
    std::memcpy(rec + 4, &ptr, 4);
    std::memcpy(rec + 8, &v, 8);
    std::memcpy(rec + 16, &flags, 2);
    for (int i = 18; i < 32; ++i) rec[i] = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : 0);
    out.insert(out.end(), rec, rec + sizeof rec);
    ++id;
  }
  out.resize(n);
  return out;
}

Bytes MakeRandom(std::size_t n, std::mt19937& rng) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

Bytes MakeRepetitive(std::size_t n, std::mt19937& rng) {
  Bytes out;
  const std::string unit = "0123456789abcdef-ORVBACKUP-";
  while (out.size() < n) {
    if (rng() % 3 == 0) {
      out.insert(out.end(), 1 + rng() % 2000, static_cast<std::uint8_t>(rng() % 4));
    } else {
      for (unsigned k = rng() % 50; k-- > 0;) out.insert(out.end(), unit.begin(), unit.end());
    }
  }
  out.resize(n);
  return out;
}

// --- peers ---

Bytes ZlibDeflate(const Bytes& in) {
  z_stream z{};
  deflateInit2(&z, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, in.size()));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::size_t ZlibInflate(const Bytes& in, Bytes& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  const std::size_t n = z.total_out;
  inflateEnd(&z);
  return n;
}

class SliceInput : public zip::DecodeInput {
 public:
  explicit SliceInput(const Bytes& d) : d_(d) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    n = std::min(n, d_.size() - at_);
    std::memcpy(buf, d_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const Bytes& d_;
  std::size_t at_ = 0;
};

class FixedOutput : public zip::DecodeOutput {
 public:
  explicit FixedOutput(Bytes& out) : out_(out) {}
  void Write(const std::uint8_t* p, std::size_t n) override {
    if (n > out_.size() - at_) std::abort();
    std::memcpy(out_.data() + at_, p, n);
    at_ += n;
  }
  std::size_t at_ = 0;

 private:
  Bytes& out_;
};

std::size_t OurInflate(zip::EntryDecoder& decoder, const Bytes& in, Bytes& out) {
  SliceInput input(in);
  FixedOutput output(out);
  if (decoder.Inflate(input, output) != zip::DecodeStatus::kOk) std::abort();
  return output.at_;
}

class SliceDeflateInput : public zip::DeflateInput {
 public:
  explicit SliceDeflateInput(const Bytes& d) : d_(d) {}
  std::size_t Read(std::uint8_t* buf, std::size_t n) override {
    n = std::min(n, d_.size() - at_);
    std::memcpy(buf, d_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  const Bytes& d_;
  std::size_t at_ = 0;
};

class AppendOutput : public zip::DeflateOutput {
 public:
  explicit AppendOutput(Bytes& out) : out_(out) {}
  void Write(const std::uint8_t* p, std::size_t n) override { out_.insert(out_.end(), p, p + n); }

 private:
  Bytes& out_;
};

Bytes OurDeflate(zip::DeflateCompressor& compressor, const Bytes& in) {
  Bytes out;
  out.reserve(in.size() + in.size() / 100 + 64);
  SliceDeflateInput input(in);
  AppendOutput output(out);
  compressor.CompressEntry(kLevel, input, output);
  return out;
}

// CPU time of this thread: the build machine is shared, and wall time would mostly measure the
// other jobs.
double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double MedianSeconds(const std::function<void()>& f) {
  std::vector<double> t;
  for (int i = 0; i < kRuns; ++i) {
    const double a = ThreadSeconds();
    f();
    t.push_back(ThreadSeconds() - a);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

struct Row {
  std::string name;
  Bytes data;
};

}  // namespace

int main(int argc, char** argv) {
  const std::size_t partMB = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 1;
  const std::size_t n = std::max<std::size_t>(partMB, 1) * 1024 * 1024;
  std::mt19937 rng(12345);
  std::vector<Row> rows = {{"text", MakeText(n, rng)},
                           {"source", MakeSource(n, rng)},
                           {"binary", MakeBinary(n, rng)},
                           {"random", MakeRandom(n, rng)},
                           {"repetitive", MakeRepetitive(n, rng)}};
  Bytes all;
  for (const Row& r : rows) all.insert(all.end(), r.data.begin(), r.data.end());
  rows.push_back({"all (mixed)", all});

  zip::DeflateCompressor compressor;
  zip::EntryDecoder decoder;
  std::printf("Deflate level %d, median of %d runs (MB/s of uncompressed data)\n", kLevel, kRuns);
  std::printf("%-12s %10s %10s %10s %8s %8s %8s %6s\n", "corpus", "input", "ours", "zlib", "size%",
              "ours", "zlib", "speed");
  for (const Row& r : rows) {
    Bytes ours, theirs;
    const double tOurs = MedianSeconds([&] { ours = OurDeflate(compressor, r.data); });
    const double tZlib = MedianSeconds([&] { theirs = ZlibDeflate(r.data); });
    const double mb = static_cast<double>(r.data.size()) / kMB;
    std::printf("%-12s %10zu %10zu %10zu %+7.2f%% %8.1f %8.1f %5.2fx\n", r.name.c_str(),
                r.data.size(), ours.size(), theirs.size(),
                100.0 * (static_cast<double>(ours.size()) / static_cast<double>(theirs.size()) - 1),
                mb / tOurs, mb / tZlib, tZlib / tOurs);
  }

  std::printf("\nInflate, median of %d runs (MB/s of decompressed data)\n", kRuns);
  std::printf("%-12s %12s %12s %12s %6s\n", "corpus", "ours(zlib's)", "zlib", "ours(own)", "speed");
  for (const Row& r : rows) {
    const Bytes zstream = ZlibDeflate(r.data);
    const Bytes ostream = OurDeflate(compressor, r.data);
    Bytes out(r.data.size() + 64);
    const double tOurs = MedianSeconds([&] { OurInflate(decoder, zstream, out); });
    if (!std::equal(r.data.begin(), r.data.end(), out.begin())) std::abort();
    const double tZlib = MedianSeconds([&] { ZlibInflate(zstream, out); });
    // Our own stream: a stored-whole entry is not a deflate stream; all parts here deflate.
    const double tOwn = MedianSeconds([&] { OurInflate(decoder, ostream, out); });
    const double mb = static_cast<double>(r.data.size()) / kMB;
    std::printf("%-12s %12.1f %12.1f %12.1f %5.2fx\n", r.name.c_str(), mb / tOurs, mb / tZlib,
                mb / tOwn, tZlib / tOurs);
  }
  return 0;
}
