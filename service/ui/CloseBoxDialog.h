// The base of the test dialogs: a dialog without OK or Cancel button that
// closes only through its window's close box (or a program's close request).
// Esc leaves it open, and it has no default button, so Return in an edit
// clicks nothing; a button with the focus still answers Space.
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QDialog>

namespace ostra {

class TCloseBoxDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TCloseBoxDialog(QWidget* Owner = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* Event) override;
    // Before the dialog would pick a default button among its push buttons.
    void showEvent(QShowEvent* Event) override;
};

}  // namespace ostra
