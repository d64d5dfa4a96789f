#include "otherkinds/ui/MemberTestFormUnit.h"

#include <string>

#include "otherkinds/core/BaseMemberUnit.h"
#include "service/ui/GuardUnit.h"
#include "ui_TMemberTestForm.h"  // generated from TMemberTestForm.ui

namespace ostra {

namespace {
const QString HotelMemberCardText = QStringLiteral("酒店会员卡");
}

TMemberTestForm::TMemberTestForm(QWidget* parent)
    : TCloseBoxDialog(parent), ui_(std::make_unique<Ui::TMemberTestForm>()) {
    ui_->setupUi(this);
    ui_->ChannelCmb->setCurrentIndex(0);
    OnEvent(ui_->OpenPortBtn, &QPushButton::clicked, this, &TMemberTestForm::OpenPortBtnClick);
    OnEvent(ui_->ClosePortBtn, &QPushButton::clicked, this, &TMemberTestForm::ClosePortBtnClick);
    OnEvent(ui_->BeepBtn, &QPushButton::clicked, this, &TMemberTestForm::BeepBtnClick);
    OnEvent(ui_->ReadCardBtn, &QPushButton::clicked, this, &TMemberTestForm::ReadCardBtnClick);
    OnEvent(ui_->WriteCardBtn, &QPushButton::clicked, this, &TMemberTestForm::WriteCardBtnClick);
}

TMemberTestForm::~TMemberTestForm() = default;

int TMemberTestForm::Channel() const {
    return ui_->ChannelCmb->currentText() == HotelMemberCardText ? HotelMemberCardChannel
                                                                 : AllianceCardChannel;
}

// The dialog is opened only while a device is registered; each button checks
// again all the same, so that it never reaches through a null device.
void TMemberTestForm::OpenPortBtnClick() {
    if (TBaseMember* device = Member.load()) device->OpenPort();
}

void TMemberTestForm::ClosePortBtnClick() {
    if (TBaseMember* device = Member.load()) device->ClosePort();
}

void TMemberTestForm::BeepBtnClick() {
    if (TBaseMember* device = Member.load()) device->Beep();
}

void TMemberTestForm::ReadCardBtnClick() {
    TBaseMember* device = Member.load();
    if (device == nullptr) return;
    std::string cardNo, password, expireDate, guestName, score;
    device->ReadCard(false, cardNo, password, expireDate, guestName, score, Channel());
    // Shown whether or not the read succeeded.
    ui_->CardNoEdit->setText(QString::fromStdString(cardNo));
    ui_->PasswordEdit->setText(QString::fromStdString(password));
}

void TMemberTestForm::WriteCardBtnClick() {
    TBaseMember* device = Member.load();
    if (device == nullptr) return;
    device->WriteCard(ui_->CardNoEdit->text().toStdString(), std::string(), std::string(),
                      std::string(), Channel());
}

void ShowMemberTestForm() {
    TMemberTestForm form;
    form.exec();
}

}  // namespace ostra
