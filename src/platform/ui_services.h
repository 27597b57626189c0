// User-interface services that non-interface code may call: a message box with
// its buttons, processing pending window messages, and a cancel request. The
// graphical program installs an implementation that shows real message boxes;
// the command line asks on the terminal or follows its flags; tests answer from
// a script. With none installed, a message box answers its default button and
// the text is logged to standard error.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel, YesNoAll };
enum class MsgIcon { None, Information, Warning, Error, Question };
// Answers carry Windows' IDOK..IDNO values; YesToAll and NoToAll follow the toolkit's.
enum class MsgResult {
  None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7,
  All = 8, NoToAll = 9, YesToAll = 10
};

class UiServices {
 public:
  virtual ~UiServices() = default;
  // `defaultResult` is the answer of a non-interactive caller (None: the first button).
  virtual MsgResult MessageBox(std::string_view text, std::string_view caption, MsgButtons buttons,
                               MsgIcon icon, MsgResult defaultResult) = 0;
  virtual void ProcessMessages() = 0;
  virtual bool CancelRequested() = 0;
};

// Installs `services` (not owned; nullptr restores the default) and returns the previous one.
UiServices* InstallUiServices(UiServices* services);
// The installed services, or the non-interactive default.
UiServices& Ui();

// The first button's result of a button set (the default answer of a message box).
MsgResult FirstButton(MsgButtons buttons);

}  // namespace platform
