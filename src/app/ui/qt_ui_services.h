// The user-interface services of the graphical program: real message boxes
// and the processing of pending window messages, for the application core, the
// engine and the zip component, which reach them through platform::Ui().
// Installed by main() for the life of the message loop.
#pragma once

#include "platform/ui_services.h"

namespace app::ui {

class QtUiServices : public platform::UiServices {
 public:
  platform::MsgResult MessageBox(std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons, platform::MsgIcon icon,
                                 platform::MsgResult defaultResult) override;
  void ProcessMessages() override;
  bool CancelRequested() override { return false; }
};

}  // namespace app::ui
