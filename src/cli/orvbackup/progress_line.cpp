// The progress line; see progress_line.h.
#include "progress_line.h"

#include <cstdio>

namespace orvbackup {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr char kClearLine[] = "\r\033[K";
constexpr double kKilo = 1024.0;
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;

}  // namespace

std::string ProgressLine::Bytes(double bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  while (bytes >= kKilo && unit + 1 < static_cast<int>(std::size(kUnits))) {
    bytes /= kKilo;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string ProgressLine::Duration(double seconds) {
  const long long s = seconds < 0 ? 0 : static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= kSecondsPerHour) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / kSecondsPerHour,
                  s / kSecondsPerMinute % kSecondsPerMinute, s % kSecondsPerMinute);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / kSecondsPerMinute, s % kSecondsPerMinute);
  }
  return text;
}

void ProgressLine::Start(std::int64_t totalItems, std::int64_t totalBytes, std::string unit) {
  started_ = true;
  unit_ = std::move(unit);
  totalItems_ = totalItems;
  totalBytes_ = totalBytes;
  items_ = bytes_ = 0;
  start_ = Clock::now();
  lastDraw_ = {};
}

void ProgressLine::Update(std::int64_t items, std::int64_t bytes) {
  items_ = items;
  bytes_ = bytes;
  if (!terminal_ || !started_) return;
  const auto now = Clock::now();
  if (shown_ && now - lastDraw_ < kRedrawInterval && items_ < totalItems_) return;
  lastDraw_ = now;
  std::fprintf(stderr, "%s%s", kClearLine, Text(false).c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs(kClearLine, stderr);
  shown_ = false;
}

void ProgressLine::Finish() {
  if (!started_) return;
  started_ = false;
  if (terminal_) std::fputs(kClearLine, stderr);
  std::fprintf(stderr, "%s\n", Text(true).c_str());
  std::fflush(stderr);
  shown_ = false;
}

std::string ProgressLine::Text(bool final) const {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  std::string text = std::to_string(items_) + "/" + std::to_string(totalItems_) + " " + unit_;
  const bool bytesKnown = totalBytes_ >= 0;
  if (bytesKnown)
    text += ", " + Bytes(static_cast<double>(bytes_)) + " of " +
            Bytes(static_cast<double>(totalBytes_));
  if (seconds > 0) {
    char rate[48];
    if (bytesKnown) {
      std::snprintf(rate, sizeof rate, ", %s/s", Bytes(bytes_ / seconds).c_str());
    } else {
      std::snprintf(rate, sizeof rate, ", %.0f %s/s", items_ / seconds, unit_.c_str());
    }
    text += rate;
  }
  if (final) return text + ", " + Duration(seconds);
  // Time left from the share done so far: bytes when known, else items.
  const double done = bytesKnown && totalBytes_ > 0
                          ? static_cast<double>(bytes_) / static_cast<double>(totalBytes_)
                          : (totalItems_ > 0 ? static_cast<double>(items_) / totalItems_ : 0.0);
  if (done > 0) text += ", " + Duration(seconds / done - seconds) + " left";
  return text;
}

}  // namespace orvbackup
