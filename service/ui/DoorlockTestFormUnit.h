// The door-lock test dialog: drives the card encoder by hand through
// `Doorlock`, and writes a card with the begin-time rule and the record
// keeping of the IssueCard request.
//
// Threads: main (user-interface) thread only. Its calls of Doorlock and
// RecordManager may meet those of the connection threads; both objects
// cope with that themselves.
#pragma once

#include <functional>
#include <memory>

#include "platform/datetime/DateTime.h"
#include "service/ui/CloseBoxDialog.h"

namespace Ui {
class TDoorlockTestForm;
}

namespace ostra {

class TDoorlockTestForm : public TCloseBoxDialog {
    Q_OBJECT
  public:
    // `Clock` gives "now" (the local clock unless a test hands in another).
    explicit TDoorlockTestForm(std::function<TDateTime()> Clock = &Now);
    ~TDoorlockTestForm() override;

    void FormCreate();
    void OpenPortBtnClick();
    void beepBtnClick();
    void ClosePortBtnClick();
    void ReadCardBtnClick();
    void EraseCardBtnClick();
    void WriteCardBtnClick();

  private:
    std::unique_ptr<Ui::TDoorlockTestForm> ui;
    std::function<TDateTime()> Clock;
};

// Shows the dialog modally, without an owner, and frees it when it closes.
void ShowDoorlockTestForm();

}  // namespace ostra
