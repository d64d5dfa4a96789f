// What the lock driver shows the operator, without the driver depending on a
// window toolkit: the program installs the windowed form (see
// lockdriver/ui/OptionFormUnit.h, InstallLockDriverUi); with nothing
// installed the option dialog is not shown and messages only go to the log.
//
// Threads: set on the main thread before any card operation or auto-read
// thread runs, and unset only after they are gone. Both operations are
// called on the main thread only (the option action, and OpenPort at start
// and from the test dialog).
#pragma once

#include <string>

namespace ostra {

class ILockDriverUi {
  public:
    virtual ~ILockDriverUi() = default;
    // Shows the port option dialog modally; returns when it is closed.
    virtual void ShowOptionForm() = 0;
    // Shows a modal error message with the caption "提示".
    virtual void ShowError(const std::string& Text) = 0;
};

// The installed user interface, or nullptr.
ILockDriverUi* LockDriverUi();
// Installs `Ui` (nullptr removes it); returns the previous one. The caller
// keeps ownership and keeps the object alive while it is installed.
ILockDriverUi* SetLockDriverUi(ILockDriverUi* Ui);

}  // namespace ostra
