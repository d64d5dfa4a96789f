// The test dialog: drives each operation of the host's lock object by hand.
//
// The buttons call the lock and ignore its result, except "读卡", which shows
// the number the lock left (0 when it wrote none). "写卡" writes a card for
// the room texts as they stand, RegisterId "0" and guest "aa", valid from the
// check-in text to the check-out text read with the user's regional settings
// (RegionalSettingsUnit), without any shift. With no lock object set the
// buttons do nothing (a bad date text is still reported).
//
// Threads: host's user-interface thread only; the listener's connection
// threads may call the same lock object meanwhile.
#pragma once

#include <memory>

#include "service/ui/CloseBoxDialog.h"

namespace Ui {
class TTestForm;
}

namespace ostra::kestrane {

class TTestForm : public TCloseBoxDialog {
    Q_OBJECT
  public:
    TTestForm();
    ~TTestForm() override;

    void FormCreate();
    void OpenPortBtnClick();
    void ClosePortBtnClick();
    void beepBtnClick();
    void ReadCardBtnClick();
    void EraseCardBtnClick();
    // Throws EConvertError for a date text that does not read; the click's
    // guard shows it.
    void WriteCardBtnClick();

  private:
    std::unique_ptr<Ui::TTestForm> ui;
};

// Shows a new test dialog modally, without an owner, and frees it.
void ShowTestForm();

}  // namespace ostra::kestrane
