// The progress line of orvbackup on standard error: files (or rows) done of
// the total, bytes done of the total when known, the rate and the time left.
// On a terminal the line is redrawn in place at most every kRedrawInterval;
// otherwise nothing is shown until Finish, which prints the final line only,
// so that logs of cron jobs stay short.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace orvbackup {

class ProgressLine {
 public:
  explicit ProgressLine(bool terminal) : terminal_(terminal) {}
  ~ProgressLine() { Finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `totalBytes` < 0: unknown, bytes are not shown.
  void Start(std::int64_t totalItems, std::int64_t totalBytes, std::string unit);
  void Update(std::int64_t items, std::int64_t bytes);
  // Clears the line on a terminal before other output; the next Update draws it again.
  void Clear();
  // Prints the final line once (nothing when Start never ran).
  void Finish();

  // "12.3 MB" and the like.
  static std::string Bytes(double bytes);
  // "1:05" or "1:02:03".
  static std::string Duration(double seconds);

 private:
  std::string Text(bool final) const;

  bool terminal_;
  bool started_ = false;
  bool shown_ = false;
  std::string unit_;
  std::int64_t totalItems_ = 0, totalBytes_ = -1, items_ = 0, bytes_ = 0;
  std::chrono::steady_clock::time_point start_{}, lastDraw_{};
};

}  // namespace orvbackup
