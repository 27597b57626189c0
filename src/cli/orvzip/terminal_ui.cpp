// Terminal message boxes and the Ctrl+C cancel request; see terminal_ui.h.
#include "terminal_ui.h"

#include <cctype>
#include <csignal>
#include <iostream>
#include <string>

namespace orvzip {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

}  // namespace

TerminalUi::TerminalUi(bool prompt)
    : prompt_(prompt), previous_(platform::InstallUiServices(this)) {
  std::signal(SIGINT, OnInterrupt);
}

TerminalUi::~TerminalUi() {
  std::signal(SIGINT, SIG_DFL);
  platform::InstallUiServices(previous_);
}

platform::MsgResult TerminalUi::MessageBox(std::string_view text, std::string_view caption,
                                           platform::MsgButtons buttons, platform::MsgIcon,
                                           platform::MsgResult defaultResult) {
  const platform::MsgResult fallback =
      defaultResult == platform::MsgResult::None ? platform::FirstButton(buttons) : defaultResult;
  const bool question = buttons == platform::MsgButtons::YesNo ||
                        buttons == platform::MsgButtons::YesNoCancel ||
                        buttons == platform::MsgButtons::OkCancel;
  if (!question || !prompt_) {
    std::cerr << "orvzip: " << caption << ": " << text << "\n";
    return fallback;
  }
  const bool okCancel = buttons == platform::MsgButtons::OkCancel;
  while (true) {
    std::cerr << caption << ": " << text << (okCancel ? " [o/c] " : " [y/n] ") << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return fallback;
    const char c = answer.empty() ? ' ' : static_cast<char>(std::tolower(answer[0]));
    if (okCancel && c == 'o') return platform::MsgResult::Ok;
    if (okCancel && c == 'c') return platform::MsgResult::Cancel;
    if (!okCancel && c == 'y') return platform::MsgResult::Yes;
    if (!okCancel && c == 'n') return platform::MsgResult::No;
  }
}

bool TerminalUi::CancelRequested() {
  const bool interrupted = gInterrupted != 0;
  gInterrupted = 0;
  return interrupted;
}

}  // namespace orvzip
