// The administrator-password prompt.
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QDialog>
#include <memory>

#include "service/ui/PasswordStore.h"

namespace Ui {
class TCheckPasswordForm;
}

namespace ostra {

class TCheckPasswordForm : public QDialog {
    Q_OBJECT
  public:
    TCheckPasswordForm(IPasswordStore& Store, QWidget* Owner);
    ~TCheckPasswordForm() override;

    // OK: the dialog closes with OK only when the trimmed entry equals the
    // stored password; otherwise an error box, and the dialog stays open.
    void btnOKClick();

  private:
    std::unique_ptr<Ui::TCheckPasswordForm> ui;
    IPasswordStore& Store;
};

// Shows the prompt modally over `Owner`; True only when the operator entered
// the administrator password of `Store` and confirmed it.
bool CheckPassword(IPasswordStore& Store, QWidget* Owner);

}  // namespace ostra
