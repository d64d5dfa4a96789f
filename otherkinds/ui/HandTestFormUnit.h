// The hand-card test dialog: drives the hand device `Hand` by hand. Its layout
// is that of the door-lock test dialog, with the number edit `HandNoTxt`.
// Main thread only.
#pragma once

#include <QDateTime>
#include <memory>

#include "service/ui/CloseBoxDialog.h"

namespace Ui {
class THandTestForm;
}

namespace ostra {

class THandTestForm : public TCloseBoxDialog {
    Q_OBJECT
  public:
    // Fills the check-in edit with `now` less one hour and the check-out edit
    // with `now` plus two days ("yyyy-MM-dd hh:mm:ss", wall-clock arithmetic).
    explicit THandTestForm(QWidget* parent = nullptr,
                           const QDateTime& now = QDateTime::currentDateTime());
    ~THandTestForm() override;

    Ui::THandTestForm* ui() const { return ui_.get(); }

  private:
    void OpenPortBtnClick();
    void ClosePortBtnClick();
    void beepBtnClick();
    void ReadCardBtnClick();
    void WriteCardBtnClick();
    void EraseCardBtnClick();

    std::unique_ptr<Ui::THandTestForm> ui_;
};

// Opens the dialog without an owner, modally, and frees it when it closes.
void ShowHandTestForm();

}  // namespace ostra
