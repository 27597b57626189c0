// Console view and message boxes of orvbackup; see console_front.h.
#include "console_front.h"

#include <cctype>
#include <iostream>

namespace orvbackup {

namespace {

constexpr int kBarWidth = 40;
constexpr std::string_view kFileExistsCaption = "File Exists Alert";

}  // namespace

ConsoleView::~ConsoleView() {
  EndBar();
}

void ConsoleView::Print(std::string_view text) {
  EndBar();
  std::cout << text << '\n' << std::flush;
}

void ConsoleView::SetProgressMaximum(int maximum) {
  maximum_ = maximum;
  position_ = 0;
}

void ConsoleView::SetProgressPosition(int position) {
  position_ = position;
  DrawBar();
}

void ConsoleView::DrawBar() {
  if (!progressBar_ || maximum_ <= 0) return;
  const int filled = static_cast<int>(static_cast<long long>(position_) * kBarWidth / maximum_);
  std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
            << std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') << "] " << position_
            << '/' << maximum_ << std::flush;
  barShown_ = true;
}

void ConsoleView::EndBar() {
  if (!barShown_) return;
  std::cerr << '\n' << std::flush;
  barShown_ = false;
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
