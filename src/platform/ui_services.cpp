// The installed user-interface services and the non-interactive default.
//
// Invariant: Ui() always returns a usable object. Without an installed
// implementation a message box answers its default (or first) button at once
// and writes caption and text to standard error, so that a run without a window
// leaves a trace of every question it answered.
#include "platform/ui_services.h"

#include <atomic>
#include <iostream>

namespace platform {
namespace {

class DefaultUiServices final : public UiServices {
 public:
  MsgResult MessageBox(std::string_view text, std::string_view caption, MsgButtons buttons,
                       MsgIcon /*icon*/, MsgResult defaultResult) override {
    const MsgResult answer =
        defaultResult != MsgResult::None ? defaultResult : FirstButton(buttons);
    std::cerr << "[message] " << caption << ": " << text << " -> " << static_cast<int>(answer)
              << '\n';
    return answer;
  }
  void ProcessMessages() override {}
  bool CancelRequested() override { return false; }
};

DefaultUiServices gDefault;
std::atomic<UiServices*> gInstalled{nullptr};

}  // namespace

UiServices* InstallUiServices(UiServices* services) {
  return gInstalled.exchange(services);
}

UiServices& Ui() {
  UiServices* installed = gInstalled.load();
  return installed != nullptr ? *installed : gDefault;
}

MsgResult FirstButton(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel:
      return MsgResult::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
    case MsgButtons::YesNoAll:
      return MsgResult::Yes;
    case MsgButtons::AbortRetryIgnore:
      return MsgResult::Abort;
    case MsgButtons::RetryCancel:
      return MsgResult::Retry;
  }
  return MsgResult::Ok;
}

}  // namespace platform
