// Fuzz harness for the archive side of the zip component: the directory load
// (end record search, central headers, repair scan) and the extraction of an
// in-memory archive (local headers, decoding, CRC checks, output paths).
//
// The first input byte picks the incomplete-archive mode, the rest is the
// archive. Every input is loaded and tested (decoded and checked in memory);
// one in kExtractEvery, chosen by a hash of the whole input so that a crash
// reproduces from its input alone, is also extracted. Writing files through
// the host layer costs several times what decoding does, and the decoders
// see the same bytes either way; the mutations of an input that is only
// tested are extracted in their turn. Extraction goes to a private temporary
// directory (mapped to drive F:) that is emptied after every input; nothing
// may land outside it.
//
// Build and run (clang):
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -DORV_BUILD_FUZZ=ON -DORV_BUILD_TESTS=OFF \
//       -DORV_BUILD_GUI=OFF
//   ninja -C build-fuzz zip_archive_fuzz
//   build-fuzz/fuzz/zip/zip_archive_fuzz -max_total_time=300 -max_len=65536 \
//       fuzz/zip/archive_corpus <the sample archives of ../shared/testdata/zip>
// The seeds named hostile-* are written by make_hostile_seeds.py.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/ui_services.h"
#include "zip/dir_load.h"
#include "zip/unzip_reader.h"
#include "zip/zip_errors.h"

namespace {

// Answers every message box with its default and never cancels.
class QuietUi : public platform::UiServices {
 public:
  platform::MsgResult MessageBox(std::string_view, std::string_view, platform::MsgButtons buttons,
                                 platform::MsgIcon, platform::MsgResult) override {
    return platform::FirstButton(buttons);
  }
  void ProcessMessages() override {}
  bool CancelRequested() override { return false; }
};

constexpr const char* kMemoryFileSystem = "/dev/shm";
constexpr std::uint32_t kExtractEvery = 4;

// FNV-1a over the input: a stable choice of the inputs that are extracted.
std::uint32_t InputHash(const std::uint8_t* data, std::size_t size) {
  constexpr std::uint32_t kOffsetBasis = 2166136261u;
  constexpr std::uint32_t kPrime = 16777619u;
  std::uint32_t h = kOffsetBasis;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * kPrime;
  return h;
}

void RemoveOutputRoot();

const std::string& OutputRoot() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string& root = *new std::string([] {
    // A memory file system when there is one: every created directory is
    // flushed to disk, which would otherwise bound the rate of executions.
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory(kMemoryFileSystem, ec)
                                           ? std::filesystem::path(kMemoryFileSystem)
                                           : std::filesystem::temp_directory_path();
    std::string templ = (base / "orv-fuzz-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    std::string sandbox = templ + "/sandbox";
    std::filesystem::create_directories(sandbox);
    platform::SetDrive('F', templ);
    static QuietUi ui;
    platform::InstallUiServices(&ui);
    return templ;
  }());
  static const bool removedAtExit = std::atexit(RemoveOutputRoot) == 0;  // libFuzzer calls exit()
  (void)removedAtExit;
  return root;
}

void RemoveOutputRoot() {
  std::error_code ec;
  std::filesystem::remove_all(OutputRoot(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& root = OutputRoot();
  if (size < 1) return 0;
  const auto mode = static_cast<zip::TIncompleteZipMode>(data[0] % 3);
  std::vector<std::uint8_t> archive(data + 1, data + size);

  // The directory load alone.
  {
    zip::TMemoryStream stream(archive);
    zip::TDirLoadOptions options;
    options.incompleteMode = mode;
    options.doProcessMessages = false;
    zip::TZipDirectory dir;
    try {
      zip::LoadDirectory(stream, options, dir);
    } catch (const zip::EZipError&) {
    }
  }

  // Testing and extracting every entry.
  zip::TOrvUnZip reader;
  reader.UseMemoryArchive(archive);
  reader.IncompleteZipMode = mode;
  reader.DoProcessMessages = false;
  reader.DoAll = true;
  reader.RecreateDirs = true;
  reader.OverwriteMode = zip::TUZOverwriteMode::Always;
  reader.Password = "fuzz";
  const bool extract = InputHash(data, size) % kExtractEvery == 0;
  try {
    reader.TestZip();
    if (!extract) return 0;
    reader.UseMemoryArchive(archive);
    reader.SetDestDir("F:\\sandbox\\out");
    reader.DoAll = true;
    reader.UnZip();
  } catch (const zip::EZipError&) {
  }
  // Everything written stays below the sandbox.
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    if (entry.path().filename() != "sandbox") std::abort();
  }
  std::error_code ec;
  std::filesystem::remove_all(root + "/sandbox/out", ec);
  return 0;
}
