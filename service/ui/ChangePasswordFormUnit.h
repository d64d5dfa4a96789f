// The change-password dialog.
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QDialog>
#include <memory>

#include "service/ui/PasswordStore.h"

namespace Ui {
class TChangePasswordForm;
}

namespace ostra {

class TChangePasswordForm : public QDialog {
    Q_OBJECT
  public:
    TChangePasswordForm(IPasswordStore& Store, QWidget* Owner);
    ~TChangePasswordForm() override;

    // OK: stores and saves the new password when both entries agree.
    void btnOKClick();

  private:
    std::unique_ptr<Ui::TChangePasswordForm> ui;
    IPasswordStore& Store;
};

// Shows the dialog modally over `Owner`.
void ShowChangePasswordForm(IPasswordStore& Store, QWidget* Owner);

}  // namespace ostra
