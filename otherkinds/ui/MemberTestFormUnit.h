// The member-card test dialog: drives the member device `Member` by hand.
// Main thread only.
#pragma once

#include <memory>

#include "service/ui/CloseBoxDialog.h"

namespace Ui {
class TMemberTestForm;
}

namespace ostra {

class TMemberTestForm : public TCloseBoxDialog {
    Q_OBJECT
  public:
    explicit TMemberTestForm(QWidget* parent = nullptr);
    ~TMemberTestForm() override;

    // -1 while the channel box shows exactly "酒店会员卡", else 11.
    int Channel() const;

    Ui::TMemberTestForm* ui() const { return ui_.get(); }

  private:
    void OpenPortBtnClick();
    void ClosePortBtnClick();
    void BeepBtnClick();
    void ReadCardBtnClick();
    void WriteCardBtnClick();

    std::unique_ptr<Ui::TMemberTestForm> ui_;
};

// Opens the dialog without an owner, modally, and frees it when it closes.
void ShowMemberTestForm();

}  // namespace ostra
