// A BLOB too large for the memory a process may use: writing it through the
// cursor raises the engine's out-of-memory error naming the table, instead
// of letting the standard library's allocation failure escape. The process
// is a forked child whose address space is capped just above what it uses.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>

#include <fstream>
#include <new>

#include "common/step_child.h"
#include "engine/errors.h"
#include "engine/table/table_test_util.h"

namespace {

using engine::TDataCursor;
using test_common::StepChild;
using namespace table_test;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kBlobBytes = 512 * kMiB;  // "a BLOB of hundreds of MB"
constexpr std::size_t kHeadroom = 96 * kMiB;    // what the child may still map

// The answers of the child.
enum Outcome { kWritten, kOutOfMemoryWithTable, kOtherEngineError, kBadAlloc, kNoLimit };

// Bytes of address space this process maps now.
std::size_t MappedBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // its allocator aborts instead of failing
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST_F(TableTest, BlobBeyondTheMemoryLimitRaisesOutOfMemoryWithTheTableName) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's allocator cannot fail softly";
  CreateTable("Big", CatalogDefinition());
  StepChild child([&](int) -> int {
    // Zero pages the blob is copied from: mapped, never touched.
    void* source = ::mmap(nullptr, kBlobBytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (source == MAP_FAILED) return kNoLimit;
    engine::TDataSession session;
    TDataCursor c(session.OpenDirectory("", "D:\\Db"), "Big");
    c.Open();
    auto r = c.NewRecord();
    const rlimit cap{MappedBytes() + kHeadroom, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &cap) != 0) return kNoLimit;
    try {
      c.PutBlob(r, kFile, source, kBlobBytes);
    } catch (const engine::EZORVADEngineError& e) {
      return e.ErrorCode() == engine::kErrOutOfMemory &&
                     engine::ContextName(engine::kContextTable) == "Big.DAT"
                 ? kOutOfMemoryWithTable
                 : kOtherEngineError;
    } catch (const std::bad_alloc&) {
      return kBadAlloc;
    }
    return kWritten;
  });
  EXPECT_EQ(child.Run(0), kOutOfMemoryWithTable);
}

}  // namespace
