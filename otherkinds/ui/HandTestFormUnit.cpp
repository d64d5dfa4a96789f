#include "otherkinds/ui/HandTestFormUnit.h"

#include <QTimeZone>
#include <string>

#include "otherkinds/core/BaseHandUnit.h"
#include "service/ui/GuardUnit.h"
#include "ui_THandTestForm.h"  // generated from THandTestForm.ui

namespace ostra {

namespace {

// Local wall-clock arithmetic: the hour and the two days are counted on the
// clock face, as a date-time value would be, not across a change of summer time.
QString WallClockText(const QDateTime& now, qint64 seconds) {
    const QDateTime face(now.date(), now.time(), QTimeZone::utc());
    return face.addSecs(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

THandTestForm::THandTestForm(QWidget* parent, const QDateTime& now)
    : TCloseBoxDialog(parent), ui_(std::make_unique<Ui::THandTestForm>()) {
    ui_->setupUi(this);
    ui_->CheckInDateTimeTxt->setText(WallClockText(now, -3600));
    ui_->CheckOutDateTimeTxt->setText(WallClockText(now, 2 * 24 * 3600));
    OnEvent(ui_->OpenPortBtn, &QPushButton::clicked, this, &THandTestForm::OpenPortBtnClick);
    OnEvent(ui_->ClosePortBtn, &QPushButton::clicked, this, &THandTestForm::ClosePortBtnClick);
    OnEvent(ui_->beepBtn, &QPushButton::clicked, this, &THandTestForm::beepBtnClick);
    OnEvent(ui_->ReadCardBtn, &QPushButton::clicked, this, &THandTestForm::ReadCardBtnClick);
    OnEvent(ui_->WriteCardBtn, &QPushButton::clicked, this, &THandTestForm::WriteCardBtnClick);
    OnEvent(ui_->EraseCardBtn, &QPushButton::clicked, this, &THandTestForm::EraseCardBtnClick);
}

THandTestForm::~THandTestForm() = default;

// The dialog is opened only while a device is registered; each button checks
// again all the same, so that it never reaches through a null device.
void THandTestForm::OpenPortBtnClick() {
    if (TBaseHand* device = Hand.load()) device->OpenPort();
}

void THandTestForm::ClosePortBtnClick() {
    if (TBaseHand* device = Hand.load()) device->ClosePort();
}

void THandTestForm::beepBtnClick() {
    if (TBaseHand* device = Hand.load()) device->Beep();
}

void THandTestForm::ReadCardBtnClick() {
    TBaseHand* device = Hand.load();
    if (device == nullptr) return;
    std::string handNo;
    device->ReadCard(handNo);
    ui_->HandNoTxt->setText(QString::fromStdString(handNo));  // also after a failed read
}

// Writing and cancelling show nothing: the number and the result are dropped.
void THandTestForm::WriteCardBtnClick() {
    TBaseHand* device = Hand.load();
    if (device == nullptr) return;
    std::string handNo;
    device->WriteCard(handNo);
}

void THandTestForm::EraseCardBtnClick() {
    TBaseHand* device = Hand.load();
    if (device == nullptr) return;
    std::string handNo;
    device->EraseCard(handNo);
}

void ShowHandTestForm() {
    THandTestForm form;
    form.exec();
}

}  // namespace ostra
