// Console view and message boxes of orvbackup; see console_front.h.
#include "console_front.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>

namespace orvbackup {

namespace {

constexpr std::string_view kFileExistsCaption = "File Exists Alert";
// The longest a status line waits in the buffer of a file or pipe.
constexpr auto kFlushInterval = std::chrono::milliseconds(100);

}  // namespace

ConsoleView::ConsoleView(bool terminal)
    : terminal_(terminal),
      outputTerminal_(::isatty(STDOUT_FILENO) != 0),
      lastFlush_(std::chrono::steady_clock::now()),
      progress_(terminal) {}

ConsoleView::~ConsoleView() {
  FlushOutput();
  progress_.Finish();
}

void ConsoleView::Finish() {
  FlushOutput();
  // The run is over: the last item is done too.
  if (terminal_ && bytesOf_ && position_ >= 1)
    progress_.Update(position_, bytesDone_ + bytesOf_(position_));
  bytesOf_ = nullptr;
  progress_.Finish();
}

void ConsoleView::FlushOutput() {
  std::cout.flush();
  lastFlush_ = std::chrono::steady_clock::now();
}

void ConsoleView::Print(std::string_view text) {
  EndBar();
  std::cout << text << '\n';
  // One write per line costs a restore of small files a tenth of its
  // system calls; a file or pipe gets the lines in batches instead.
  if (outputTerminal_ || std::chrono::steady_clock::now() - lastFlush_ >= kFlushInterval)
    FlushOutput();
}

void ConsoleView::SetProgressMaximum(int maximum) {
  maximum_ = maximum;
  position_ = 0;
  bytesDone_ = 0;
  std::int64_t totalBytes = -1;
  if (terminal_ && bytesOf_) {
    totalBytes = 0;
    for (int p = 1; p <= maximum; ++p) totalBytes += bytesOf_(p);
  }
  progress_.Start(maximum, totalBytes, unit_);
}

void ConsoleView::SetProgressPosition(int position) {
  // The progress line goes to standard error: the lines before it first.
  if (terminal_) FlushOutput();
  // The previous item is done when the next one starts.
  if (terminal_ && bytesOf_)
    for (int p = std::max(position_, 1); p < position; ++p) bytesDone_ += bytesOf_(p);
  position_ = position;
  progress_.Update(position, bytesDone_);
}

void ConsoleView::EndBar() {
  if (terminal_) FlushOutput();
  progress_.Clear();
}

ConsoleUi::ConsoleUi(ConsoleView& view, Overwrite overwrite)
    : view_(view), overwrite_(overwrite), previous_(platform::InstallUiServices(this)) {}

ConsoleUi::~ConsoleUi() {
  platform::InstallUiServices(previous_);
}

platform::MsgResult ConsoleUi::MessageBox(std::string_view text, std::string_view caption,
                                          platform::MsgButtons buttons, platform::MsgIcon icon,
                                          platform::MsgResult defaultResult) {
  view_.EndBar();
  if (caption == kFileExistsCaption && buttons == platform::MsgButtons::YesNo) {
    if (overwrite_ == Overwrite::Always) return platform::MsgResult::Yes;
    if (overwrite_ == Overwrite::Never) return platform::MsgResult::No;
    for (;;) {
      std::cerr << caption << ": " << text << " [y/n] " << std::flush;
      std::string answer;
      if (!std::getline(std::cin, answer)) return platform::MsgResult::No;
      const char c = answer.empty() ? ' ' : static_cast<char>(std::tolower(answer[0]));
      if (c == 'y') return platform::MsgResult::Yes;
      if (c == 'n') return platform::MsgResult::No;
    }
  }
  if (icon == platform::MsgIcon::Error) errorShown_ = true;
  std::cout << text << '\n' << std::flush;
  return defaultResult == platform::MsgResult::None ? platform::FirstButton(buttons)
                                                    : defaultResult;
}

}  // namespace orvbackup
