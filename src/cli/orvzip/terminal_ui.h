// The user-interface service of the command line: message boxes go to
// standard error; a question is asked on the terminal (standard input) only
// when the user chose to be prompted, otherwise it gets its default answer.
// Ctrl+C requests a cancel, which the zip component honours at its next check.
#pragma once

#include "platform/ui_services.h"

namespace orvzip {

class TerminalUi : public platform::UiServices {
 public:
  explicit TerminalUi(bool prompt);
  ~TerminalUi() override;
  TerminalUi(const TerminalUi&) = delete;
  TerminalUi& operator=(const TerminalUi&) = delete;

  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons, platform::MsgIcon icon,
                                 platform::MsgResult defaultResult) override;
  void ProcessMessages() override {}
  bool CancelRequested() override;

 private:
  bool prompt_;
  platform::UiServices* previous_;
};

}  // namespace orvzip
