// Compression ahead of a backup run; see compress_pipeline.h.
#include "app/core/compress_pipeline.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "app/core/texts.h"
#include "platform/file_ops.h"
#include "zip/zip_writer.h"

namespace app {

namespace {
// More workers than this only wait for a processor on the machines we run on.
constexpr int kMaxWorkers = 2;
// An archive of one stored file: the data, a local and a central header with
// the name twice, the end record; deflate adds at most a few bytes per block
// of data it cannot shrink.
constexpr std::uint64_t kArchiveOverheadBytes = 1024;
constexpr std::uint64_t kStoredOverheadDivisor = 1024;
// Unused room kept in an archive's buffer without giving it back.
constexpr std::size_t kSlackToGiveBack = 64u << 10;
}  // namespace

int TCompressPipeline::DefaultWorkers() {
  const auto cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, kMaxWorkers);
}

TCompressPipeline::TCompressPipeline(std::vector<std::string> sources, int workers,
                                     std::uint64_t maxBytes, std::uint64_t budget)
    : sources_(std::move(sources)), maxBytes_(maxBytes), budget_(budget) {
  const int count = std::min(std::max(workers, 1), static_cast<int>(sources_.size()));
  try {
    for (int w = 0; w < count; ++w) workers_.emplace_back([this] { Work(); });
  } catch (...) {
    stop_ = true;
    admitted_.notify_all();
    for (std::thread& t : workers_) t.join();
    throw;
  }
}

TCompressPipeline::~TCompressPipeline() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  admitted_.notify_all();
  for (std::thread& t : workers_) t.join();
}

TCompressPipeline::Result TCompressPipeline::Take(int i, const std::function<void()>& waiting) {
  std::unique_lock lock(mutex_);
  // The run is done with the archive it took last.
  held_ -= taken_;
  taken_ = 0;
  nextTake_ = i;
  admitted_.notify_all();
  for (;;) {
    if (failure_) std::rethrow_exception(failure_);
    const auto found = done_.find(i);
    if (found != done_.end()) {
      Done done = std::move(found->second);
      done_.erase(found);
      // Still held, by the run, until it asks for the next file.
      taken_ = done.held;
      return std::move(done.result);
    }
    if (finished_.wait_for(lock, std::chrono::milliseconds(kCompressWaitMilliseconds)) ==
            std::cv_status::timeout &&
        waiting) {
      lock.unlock();
      waiting();
      lock.lock();
    }
  }
}

void TCompressPipeline::Work() {
  // A failure outside a file's own compression (memory for the bookkeeping,
  // say) must not end the process from this thread, nor leave the run
  // waiting for a result that never comes: it stops the workers and is
  // raised by the run's next Take.
  try {
    WorkFiles();
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    stop_ = true;
  }
  admitted_.notify_all();
  finished_.notify_all();
}

void TCompressPipeline::WorkFiles() {
  // Each worker has a writer of its own; its settings are those of the
  // run's writer, without the user interface.
  zip::TOrvZip writer;
  writer.RecreateDirs = true;
  writer.DoProcessMessages = false;
  writer.StopSignal = &stop_;
  const int n = static_cast<int>(sources_.size());
  for (;;) {
    int i = 0;
    {
      std::lock_guard lock(mutex_);
      if (stop_ || nextClaim_ >= n) return;
      i = nextClaim_++;
    }
    const std::string& source = sources_[static_cast<std::size_t>(i)];
    Result result;
    std::uint64_t size = 0;
    if (!platform::FileExists(source)) {
      result.error =
          std::make_exception_ptr(std::runtime_error(std::string(texts::kFileVanished) + source));
      result.beforeCompressing = true;
    } else {
      size = platform::GetFileSize(source).value_or(0);
      if (size > maxBytes_) {
        result.error =
            std::make_exception_ptr(std::runtime_error(std::string(texts::kFileTooLarge) + source));
        result.beforeCompressing = true;
        size = 0;
      }
    }
    {
      // Admission in list order, within the budget (see the header).
      std::unique_lock lock(mutex_);
      admitted_.wait(lock, [&] {
        return stop_ || (nextAdmission_ == i && i - nextTake_ < kMaxFilesAhead &&
                         (held_ == 0 || held_ + size <= budget_));
      });
      if (stop_) return;
      ++nextAdmission_;
      held_ += size;
    }
    admitted_.notify_all();
    if (!result.error) {
      try {
        // Room for the file stored as it is, so the buffer never grows by
        // copies; what deflate saved is given back below.
        result.archive.reserve(size + size / kStoredOverheadDivisor + kArchiveOverheadBytes +
                               2 * source.size());
        writer.FilesList.assign(1, source);
        if (writer.ZipToMemory(result.archive) != 1) {
          throw std::runtime_error(std::string(texts::kCannotRead) + source);
        }
      } catch (...) {
        result.error = std::current_exception();
        result.archive.clear();
        result.archive.shrink_to_fit();
      }
    }
    if (result.archive.capacity() - result.archive.size() > kSlackToGiveBack) {
      result.archive.shrink_to_fit();
    }
    {
      const std::uint64_t archiveBytes = result.archive.capacity();
      std::lock_guard lock(mutex_);
      // What is held from now on is the archive itself.
      held_ = held_ - size + archiveBytes;
      done_[i] = Done{std::move(result), archiveBytes};
    }
    finished_.notify_all();
  }
}

}  // namespace app
