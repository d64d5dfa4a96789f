// The port option dialog: the encoder's serial port and the auto-read box,
// stored in "Option.ini" through Option.
//
// Threads: main (user-interface) thread only. It replaces Option's port
// name, which card operations on other threads read under Option's lock.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TOptionForm;
}

namespace ostra {

// The port name as it was when the last option dialog was created.
extern std::string OldPortName;

class TOptionForm : public QDialog {
    Q_OBJECT

  public:
    // Made without an owner; placed at the centre of the main window.
    explicit TOptionForm(QWidget* Parent = nullptr);
    ~TOptionForm() override;

  private:
    void FormCreate();
    void OKBtnClick();
    void CancelBtnClick();

    std::unique_ptr<Ui::TOptionForm> FUi;
};

// Creates the dialog, shows it modally and frees it when it closes.
void ShowOptionFormModal();

// Installs the windowed user interface of the lock driver: the option
// dialog and the message boxes (see lockdriver/LockDriverUi.h). Called once
// by the program on the main thread before the lock object is opened.
void InstallLockDriverUi();

}  // namespace ostra
