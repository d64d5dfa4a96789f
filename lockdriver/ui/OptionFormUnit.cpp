#include "lockdriver/ui/OptionFormUnit.h"

#include "lockdriver/LockDriverUi.h"
#include "lockdriver/OptionUnit.h"
#include "service/ui/FormPlacement.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "ui_OptionFormUnit.h"

namespace ostra {

std::string OldPortName;

TOptionForm::TOptionForm(QWidget* Parent) : QDialog(Parent), FUi(new Ui::TOptionForm) {
    FUi->setupUi(this);
    OnEvent(FUi->OKBtn, &QPushButton::clicked, this, &TOptionForm::OKBtnClick);
    OnEvent(FUi->CancelBtn, &QPushButton::clicked, this, &TOptionForm::CancelBtnClick);
    CentreOnMainWindow(*this);
    Guarded(this, [this] { FormCreate(); });
}

TOptionForm::~TOptionForm() = default;

void TOptionForm::FormCreate() {
    const std::string PortName = Option ? Option->PortName() : std::string("COM1");
    OldPortName = PortName;
    // The name is shown as it is stored, also when it is not among the items.
    FUi->PortCmb->setEditText(QString::fromStdString(PortName));
    FUi->AutoReadChk->setChecked(Option && Option->AutoReadDoorCard);
}

void TOptionForm::OKBtnClick() {
    if (Option == nullptr) {
        close();
        return;
    }
    Option->SetPortName(FUi->PortCmb->currentText().toStdString());
    Option->AutoReadDoorCard = FUi->AutoReadChk->isChecked();
    Option->Save();
    if (OldPortName != Option->PortName())
        MessageBoxes().Show(this, QStringLiteral("参数已经发生变化,请重新启动程序"), HintCaption(),
                            TMsgIcon::Information);
    close();
}

void TOptionForm::CancelBtnClick() {
    close();
}

void ShowOptionFormModal() {
    std::unique_ptr<TOptionForm> Form(new TOptionForm(nullptr));
    Form->exec();
}

namespace {

class TWindowedLockDriverUi : public ILockDriverUi {
  public:
    void ShowOptionForm() override { ShowOptionFormModal(); }
    void ShowError(const std::string& Text) override {
        MessageBoxes().Show(nullptr, QString::fromStdString(Text), HintCaption(), TMsgIcon::Error);
    }
};

}  // namespace

void InstallLockDriverUi() {
    static TWindowedLockDriverUi Ui;
    SetLockDriverUi(&Ui);
}

}  // namespace ostra
