// The sample archives of the shared test data (see its PROVENANCE.md): each
// extracts byte for byte (every entry passes its CRC check) or fails with the
// clear error its damage or its unsupported feature calls for. Names must
// come back as independent tools read them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "platform/paths.h"
#include "zip/inflate.h"
#include "zip/unzip_reader.h"
#include "zip/zip_errors.h"
#include "zip_test_util.h"

namespace zip {
namespace {

const std::string kData = ORV_SHARED_DIR "/testdata/zip/";

enum class Outcome { kExtracts, kIncomplete, kNotSupported, kPremature };

struct SampleCase {
  const char* path;
  Outcome outcome;
  int extracted;         // entries extracted (directories count)
  const char* failures;  // entries reported bad or skipped, "|"-separated
  int legacyMethod;      // a method the archive needs beyond stored and deflate (0: none)
};

// What the reader does with each sample. Failures are the damaged entries the
// provenance notes describe (wrong CRC, data beyond the declared size, an
// unknown method, a missing local header, an unsafe path, a password).
const SampleCase kCases[] = {
    {"deflate-streams/in-zip/deflate-135168-bytes-to-147.zip", Outcome::kExtracts, 1, "", 0},
    {"deflate-streams/in-zip/deflate-262304-bytes-to-437-long-matches.zip", Outcome::kExtracts, 1,
     "", 0},
    {"deflate-streams/in-zip/deflate-dynamic-10689-bytes-js.zip", Outcome::kExtracts, 1, "", 0},
    {"deflate-streams/invalid-in-zip/invalid_code_lengths_set.zip", Outcome::kExtracts, 0,
     "index.js", 0},
    {"deflate-streams/invalid-in-zip/too_many_length_or_distance_symbols.zip", Outcome::kExtracts,
     0, "index.js", 0},
    {"legacy-methods/implode-4k-2trees-2048-byte-repetitive.zip", Outcome::kExtracts, 1, "", 6},
    {"legacy-methods/implode-4k-2trees-header-txt.zip", Outcome::kExtracts, 1, "", 6},
    {"legacy-methods/implode-4k2t-and-8k3t-plus-stored-jpg.zip", Outcome::kExtracts, 3, "", 6},
    {"legacy-methods/implode-8k-3trees-135-entries-unix-host.zip", Outcome::kExtracts, 135, "", 1},
    {"legacy-methods/implode-8k-3trees-first-txt.zip", Outcome::kExtracts, 1, "", 6},
    {"legacy-methods/implode-8k-3trees-license-txt.zip", Outcome::kExtracts, 1, "", 6},
    {"legacy-methods/implode-8k-3trees-lorem-144k.zip", Outcome::kExtracts, 1, "", 6},
    {"legacy-methods/implode-pkzip-1991-flag-bit13-growing-sizes.zip", Outcome::kExtracts, 3, "",
     6},
    {"legacy-methods/implode-pkzip10-1990-five-entries-4k2t-8k3t.zip", Outcome::kExtracts, 5, "",
     6},
    {"legacy-methods/reduce1-m2-exe-jpg-plus-shrunk-txt.zip", Outcome::kExtracts, 3, "", 2},
    {"legacy-methods/reduce2-m3-exe-jpg-plus-shrunk-txt.zip", Outcome::kExtracts, 3, "", 3},
    {"legacy-methods/reduce3-m4-exe-jpg-plus-shrunk-txt.zip", Outcome::kExtracts, 3, "", 4},
    {"legacy-methods/reduce4-m5-exe-jpg-plus-shrunk-txt.zip", Outcome::kExtracts, 3, "", 5},
    {"legacy-methods/reduce4-m5-first-txt.zip", Outcome::kExtracts, 1, "", 5},
    {"legacy-methods/shrink-m1-first-txt.zip", Outcome::kExtracts, 1, "", 1},
    {"legacy-methods/shrink-m1-two-small-xml.zip", Outcome::kExtracts, 2, "", 1},
    {"legacy-methods/shrink-m1-txt-exe-plus-stored-jpg.zip", Outcome::kExtracts, 3, "", 1},
    {"legacy-methods/unsupported-method7-tokenize.zip", Outcome::kExtracts, 0, "README", 0},
    {"structure/comments/archive-comment-1717-bytes-deflate.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/comments/archive-comment-36-bytes-stored.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/comments/archive-comment-4097-bytes.zip", Outcome::kExtracts, 1, "", 0},
    {"structure/comments/entry-comment.zip", Outcome::kExtracts, 1, "", 0},
    {"structure/damaged/deflate-output-exceeds-declared-size.zip", Outcome::kExtracts, 1, "first",
     0},
    {"structure/damaged/duplicate-cd-entries-same-offset.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/damaged/malformed-62-bytes-no-eocd.zip", Outcome::kIncomplete, 0, "", 0},
    {"structure/damaged/not-a-zip-141-bytes.zip", Outcome::kIncomplete, 0, "", 0},
    {"structure/damaged/path-traversal-backslash-dotdot.zip", Outcome::kExtracts, 1,
     "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\"
     "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\Temp\\evil.txt",
     0},
    {"structure/damaged/stored-csize-exceeds-usize.zip", Outcome::kExtracts, 1, "first", 0},
    {"structure/damaged/truncated-77-bytes.zip", Outcome::kIncomplete, 0, "", 0},
    {"structure/damaged/truncated-79-bytes.zip", Outcome::kIncomplete, 0, "", 0},
    {"structure/damaged/unsupported-method-200.zip", Outcome::kExtracts, 1, "bad_symlink", 0},
    // a.txt decodes to 39 of its declared 48 bytes (its CRC matches): damaged too.
    {"structure/damaged/wrong-entry-sizes.zip", Outcome::kExtracts, 1, "a.txt|b.txt", 0},
    {"structure/damaged/yauzl-failure/"
     "End_of_central_directory_record_signature_not_found_Either_not_a_zip_file_or_file_is_"
     "truncated.zip",
     Outcome::kIncomplete, 0, "", 0},
    {"structure/damaged/yauzl-failure/absolute_path_C_xt.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/damaged/yauzl-failure/absolute_path_atxt.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/damaged/yauzl-failure/"
     "compressed_uncompressed_size_mismatch_for_stored_file_2147483647_5.zip",
     Outcome::kPremature, 0, "", 0},
    {"structure/damaged/yauzl-failure/file_data_overflows_file_bounds_63_2147483647_308.zip",
     Outcome::kPremature, 0, "", 0},
    {"structure/damaged/yauzl-failure/"
     "invalid_central_directory_file_header_signature_0x1014b50.zip",
     Outcome::kExtracts, 2, "", 0},
    {"structure/damaged/yauzl-failure/invalid_local_file_header_signature_0x3034b50.zip",
     Outcome::kExtracts, 1, "b.txt", 0},
    {"structure/damaged/yauzl-failure/invalid_relative_path_xt.zip", Outcome::kExtracts, 1,
     "..\\xt", 0},
    {"structure/damaged/yauzl-failure/"
     "multi-disk_zip_files_are_not_supported_found_disk_number_1.zip",
     Outcome::kNotSupported, 0, "", 0},
    {"structure/damaged/yauzl-failure/strong_encryption_is_not_supported.zip", Outcome::kExtracts,
     0, "a.txt", 0},
    {"structure/damaged/yauzl-failure/unsupported_compression_method_1.zip", Outcome::kExtracts, 1,
     "b.txt", 0},
    {"structure/damaged/yauzl-failure/"
     "zip64_extended_information_extra_field_does_not_include_compressed_size.zip",
     Outcome::kNotSupported, 0, "", 0},
    {"structure/data-descriptor/dd-deflate-jar-with-archive-comment.zip", Outcome::kExtracts, 2, "",
     0},
    {"structure/data-descriptor/dd-deflate-unix-with-dir.zip", Outcome::kExtracts, 2, "file2", 0},
    {"structure/data-descriptor/dd-mixed-stored-deflate-xps-12-entries.zip", Outcome::kExtracts, 12,
     "", 0},
    {"structure/data-descriptor/dd-stored-four-entries-flag-0808.zip", Outcome::kExtracts, 4, "",
     0},
    {"structure/data-descriptor/dd-stored-no-sig-eocd-cdoffset-stale.zip", Outcome::kExtracts, 2,
     "", 0},
    {"structure/data-descriptor/dd-stored-with-sig-eocd-cdoffset-stale-by-16.zip",
     Outcome::kExtracts, 2, "", 0},
    {"structure/host/msdos-host-dir-attribute-no-slash.zip", Outcome::kExtracts, 6, "", 0},
    {"structure/host/msdos-host-winzip-cp437-names.zip", Outcome::kExtracts, 5, "", 0},
    {"structure/host/unix-host-freebsd-infozip-10-entries.zip", Outcome::kExtracts, 10, "", 0},
    {"structure/host/unix-host-symlink.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/junk/bytes-after-compressed-data.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/junk/prefix-15-bytes-text-unadjusted-offsets.zip", Outcome::kExtracts, 1, "", 0},
    {"structure/junk/prefix-511-bytes-adjusted-offsets.zip", Outcome::kExtracts, 3, "", 0},
    {"structure/junk/prefix-and-trailing-junk.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/junk/prefix-junk-89-bytes-unadjusted-offsets.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/junk/sfx-1024-byte-stub-unadjusted-offsets-with-comment.zip", Outcome::kExtracts, 2,
     "", 0},
    {"structure/junk/spanned-marker-PK00-prefix.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/junk/trailing-junk-189-bytes.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/misc/empty-archive-eocd-only.zip", Outcome::kExtracts, 0, "", 0},
    {"structure/misc/nested-zip-stored.zip", Outcome::kExtracts, 2, "", 0},
    {"structure/misc/traditional-encryption-stored.zip", Outcome::kExtracts, 0, "a.txt", 0},
    {"structure/misc/unicode-path-extra-field-0x7075.zip", Outcome::kExtracts, 1, "", 0},
    {"structure/misc/utf8-names.zip", Outcome::kExtracts, 5, "", 0},
    {"structure/zip64/zip64-always-with-comment.zip", Outcome::kNotSupported, 0, "", 0},
    {"structure/zip64/zip64-eocd-all-ff-traditional-eocd.zip", Outcome::kNotSupported, 0, "", 0},
    {"structure/zip64/zip64-extra-sizes-ffffffff.zip", Outcome::kNotSupported, 0, "", 0},
    {"structure/zip64/zip64-small-infozip.zip", Outcome::kNotSupported, 0, "", 0},
    {"structure/zip64/zip64-streamed-dd-a.zip", Outcome::kExtracts, 1, "", 0},
};

// True when the codec decodes `method` (the older methods may still be missing).
bool MethodDecodes(int method) {
  EntryDecoder decoder;
  struct NoInput : DecodeInput {
    std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
  } input;
  struct NoOutput : DecodeOutput {
    void Write(const std::uint8_t*, std::size_t) override {}
  } output;
  DecodeParams params;
  params.method = static_cast<std::uint16_t>(method);
  params.uncompressedSize = 1;
  return decoder.Decode(params, input, output) != DecodeStatus::kUnsupportedMethod;
}

std::set<std::string> Split(const std::string& list) {
  std::set<std::string> out;
  std::stringstream in(list);
  for (std::string item; std::getline(in, item, '|');) {
    if (!item.empty()) out.insert(item);
  }
  return out;
}

class SamplesTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SamplesTest, ExtractsOrFailsClearly) {
  const SampleCase& c = GetParam();
  const std::string host = kData + c.path;
  if (!zip_test::HostExists(host)) GTEST_SKIP() << "test data not found: " << host;
  if (c.legacyMethod != 0 && !MethodDecodes(c.legacyMethod)) {
    GTEST_SKIP() << "method " << c.legacyMethod << " is not decoded yet";
  }
  zip_test::TempDir out;
  platform::SetDrive('X', out.path());
  TOrvUnZip reader;
  reader.SetZipName(platform::ToWindowsPath(host));
  reader.SetDestDir("X:\\out");
  reader.DoAll = true;
  reader.RecreateDirs = true;
  std::set<std::string> failures;
  reader.OnBadCRC = [&](std::uint32_t, std::uint32_t, int i) {
    failures.insert(reader.FileName(i));
  };
  reader.OnSkippingFile = [&](TSkipReason, const std::string&, int i, bool&) {
    failures.insert(reader.FileName(i));
  };
  zip_test::RecordingUi ui;  // answers the "Unknown Compression Method" box
  int extracted = -1;
  try {
    extracted = reader.UnZip();
    EXPECT_EQ(c.outcome, Outcome::kExtracts);
  } catch (const EIncompleteZip&) {
    EXPECT_EQ(c.outcome, Outcome::kIncomplete);
  } catch (const EZipNotSupported&) {
    EXPECT_EQ(c.outcome, Outcome::kNotSupported);
  } catch (const EFatalUnzipError&) {
    EXPECT_EQ(c.outcome, Outcome::kPremature);
  }
  if (c.outcome == Outcome::kExtracts) {
    EXPECT_EQ(extracted, c.extracted);
  }
  EXPECT_EQ(failures, Split(c.failures));
  // A failed entry leaves no file, and nothing lands outside the destination.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out.path())) {
    EXPECT_EQ(entry.path().string().rfind(out.path() + "/out", 0), 0u) << entry.path();
  }
  platform::RemoveDrive('X');
}

// Each case is named after its archive ("structure/damaged/bad-crc.zip" ->
// "structure_damaged_bad_crc_zip"), so a failure names the file.
std::string SampleName(const ::testing::TestParamInfo<SampleCase>& info) {
  std::string name;
  for (const char* p = info.param.path; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    name += std::isalnum(c) ? static_cast<char>(c) : '_';
  }
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Archives, SamplesTest, ::testing::ValuesIn(kCases), SampleName);

// The expected bytes of the legacy samples that come with them.
TEST(SamplesContentTest, LegacyMethodsGiveTheExpectedText) {
  const std::string expected = zip_test::ReadHostFile(kData + "legacy-methods/expected-first.txt");
  if (expected.empty()) GTEST_SKIP() << "test data not found";
  for (const auto& [archive, method] :
       std::vector<std::pair<std::string, int>>{{"shrink-m1-first-txt.zip", 1},
                                                {"reduce4-m5-first-txt.zip", 5},
                                                {"implode-8k-3trees-first-txt.zip", 6}}) {
    if (!MethodDecodes(method)) continue;
    zip_test::TempDir out;
    platform::SetDrive('X', out.path());
    TOrvUnZip reader;
    reader.SetZipName(platform::ToWindowsPath(kData + "legacy-methods/" + archive));
    reader.SetDestDir("X:\\");
    reader.DoAll = true;
    ASSERT_EQ(reader.UnZip(), 1) << archive;
    const std::string name = reader.Entry(0).FileName();
    EXPECT_EQ(zip_test::ReadHostFile(out.path() + "/" + name), expected) << archive;
    platform::RemoveDrive('X');
  }
}

// Names as Python's zipfile reads them (UTF-8 with flag bit 11, code page 437
// without it), with backslashes for slashes.
TEST(SamplesNamesTest, NamesAgreeWithPython) {
  if (!zip_test::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  for (const char* path :
       {"structure/misc/cp866-names-no-utf8-flag.zip",
        "structure/misc/utf8-flag-bit11-japanese.zip", "structure/misc/utf8-names.zip",
        "structure/data-descriptor/dd-stored-four-entries-flag-0808.zip",
        "legacy-methods/implode-4k2t-and-8k3t-plus-stored-jpg.zip"}) {
    const std::string host = kData + path;
    if (!zip_test::HostExists(host)) continue;
    std::string names;
    ASSERT_EQ(
        zip_test::RunCommand(
            "python3 -c 'import sys,zipfile\n"
            "for n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n.replace(\"/\",\"\\\\\"))' " +
                zip_test::Quote(host),
            &names),
        0)
        << names;
    TOrvUnZip reader;
    reader.SetZipName(platform::ToWindowsPath(host));
    reader.ReadZip();
    std::string ours;
    for (int i = 0; i < reader.Count(); ++i) ours += reader.FileName(i) + "\n";
    EXPECT_EQ(ours, names) << path;
  }
}

}  // namespace
}  // namespace zip
