// Compression ahead of a backup run: worker threads read the next files and
// deflate each into a one-entry archive in memory while the run's own thread
// inserts rows and waits for commits to reach the disk, so deflate overlaps
// the commits' flushes and, with two workers, itself.
//
// The run takes the archives in list order (Take), each exactly once, and
// does everything observable itself, at the same points as without the
// workers: status texts, progress, messages of the user interface, the
// errors of a file (a worker only records what went wrong with its file;
// Take hands it over for the run to raise), the size limit and the commits.
//
// Invariants:
//  * Memory: a file is admitted for compression, in list order, only while
//    the bytes held (files admitted, in work or done, and the archive the run
//    took last, until it asks for the next; an archive counts with its
//    buffer's capacity) stay within the budget with the file's size, or when
//    nothing is held at all (a file larger than the budget then is
//    compressed alone), and at most kMaxFilesAhead files past the one the
//    run waits for. So archives take at most the budget, or one large
//    file's size.
//  * Order: admission in list order means the file the run waits for is
//    always admitted once every earlier one was taken: no deadlock.
//  * Stopping: the destructor (also on an error or a cancel of the run)
//    raises the workers' stop signal, which ends a compression at its next
//    write, and joins them. Nothing is written to disk by the workers.
//  * The workers never touch the user interface or the engine. What they
//    share with the run's thread in the host layer (path mapping, the name
//    cache, fault injection counters) is guarded there; the zip writer's
//    tables are constant, its state is each worker's own.
//  * A worker that fails outside a file's own error stops the others, and
//    the run's next Take raises that failure: nothing waits forever.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace app {

// Bytes that may be held for files compressed ahead of the run.
inline constexpr std::uint64_t kCompressAheadBytes = 16u << 20;
// Files compressed ahead of the one the run waits for, at most: many small
// files each cost more than their bytes (buffers, bookkeeping).
inline constexpr int kMaxFilesAhead = 32;
// How often the run's thread, waiting for an archive, processes messages.
inline constexpr int kCompressWaitMilliseconds = 20;

class TCompressPipeline {
 public:
  // What became of one file.
  struct Result {
    std::vector<std::uint8_t> archive;  // the one-entry archive, when no error
    std::exception_ptr error;           // the error of the file, if any
    // The error was found before compressing (the file vanished or is too
    // large), where no compressing text is shown.
    bool beforeCompressing = false;
  };

  // Starts `workers` threads over `sources` (full Windows paths, in list
  // order). `maxBytes` is the largest file that may be stored.
  TCompressPipeline(std::vector<std::string> sources, int workers, std::uint64_t maxBytes,
                    std::uint64_t budget = kCompressAheadBytes);
  ~TCompressPipeline();
  TCompressPipeline(const TCompressPipeline&) = delete;
  TCompressPipeline& operator=(const TCompressPipeline&) = delete;

  // The result of file i (each i once, in increasing order). While it is not
  // ready, `waiting` runs every kCompressWaitMilliseconds on this thread; an
  // exception it raises leaves Take.
  Result Take(int i, const std::function<void()>& waiting);

  // The number of workers worth starting on this machine.
  static int DefaultWorkers();

 private:
  // A worker's thread: WorkFiles, its failure kept for Take.
  void Work();
  void WorkFiles();

  const std::vector<std::string> sources_;
  const std::uint64_t maxBytes_;
  const std::uint64_t budget_;
  std::atomic<bool> stop_{false};

  std::mutex mutex_;
  std::condition_variable admitted_;  // the budget or the admission order moved
  std::condition_variable finished_;  // a result arrived
  int nextClaim_ = 0;                 // the next file a worker claims
  int nextAdmission_ = 0;             // the next file to be admitted
  int nextTake_ = 0;                  // the file the run takes next
  std::uint64_t held_ = 0;            // bytes held (see the header)
  std::uint64_t taken_ = 0;           // of them, the archive the run took last
  struct Done {
    Result result;
    std::uint64_t held = 0;
  };
  std::map<int, Done> done_;
  std::exception_ptr failure_;  // a worker failed outside its files' own errors
  std::vector<std::thread> workers_;
};

}  // namespace app
