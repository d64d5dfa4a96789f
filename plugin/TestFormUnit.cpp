#include "plugin/TestFormUnit.h"

#include "platform/datetime/DateTime.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/RegionalSettingsUnit.h"
#include "service/ui/GuardUnit.h"
#include "ui_TestFormUnit.h"

namespace ostra::kestrane {

TTestForm::TTestForm() : ui(std::make_unique<Ui::TTestForm>()) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("TestForm"));
    setAttribute(Qt::WA_QuitOnClose, false);
    OnEvent(ui->OpenPortBtn, &QPushButton::clicked, this, &TTestForm::OpenPortBtnClick);
    OnEvent(ui->ClosePortBtn, &QPushButton::clicked, this, &TTestForm::ClosePortBtnClick);
    OnEvent(ui->beepBtn, &QPushButton::clicked, this, &TTestForm::beepBtnClick);
    OnEvent(ui->ReadCardBtn, &QPushButton::clicked, this, &TTestForm::ReadCardBtnClick);
    OnEvent(ui->EraseCardBtn, &QPushButton::clicked, this, &TTestForm::EraseCardBtnClick);
    OnEvent(ui->WriteCardBtn, &QPushButton::clicked, this, &TTestForm::WriteCardBtnClick);
    FormCreate();
}

TTestForm::~TTestForm() = default;

void TTestForm::FormCreate() {
    const TDateTime now = Now();
    const char* format = "yyyy-mm-dd hh:nn:ss";
    ui->CheckInDateTimeTxt->setText(
        QString::fromStdString(FormatDateTime(format, now - 1.0 / 24.0)));
    ui->CheckOutDateTimeTxt->setText(QString::fromStdString(FormatDateTime(format, now + 2.0)));
}

void TTestForm::OpenPortBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->OpenPort();
}

void TTestForm::ClosePortBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->ClosePort();
}

void TTestForm::beepBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->Beep();
}

void TTestForm::ReadCardBtnClick() {
    TBaseDoorlock* lock = Doorlock.load();
    if (!lock) return;
    int64_t cardNo = 0;
    lock->ReadCard(cardNo);
    ui->CardNoTxt->setText(QString::number(cardNo));
}

void TTestForm::EraseCardBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->EraseCard();
}

void TTestForm::WriteCardBtnClick() {
    const std::string buildingCode = ui->RoomBuildingCodeTxt->text().toStdString();
    const std::string floorCode = ui->RoomFloorCodeTxt->text().toStdString();
    const std::string roomNo = ui->RoomNoTxt->text().toStdString();
    const TDateTime checkIn = StrToDateTime(ui->CheckInDateTimeTxt->text().toStdString());
    const TDateTime checkOut = StrToDateTime(ui->CheckOutDateTimeTxt->text().toStdString());
    TBaseDoorlock* lock = Doorlock.load();
    if (!lock) return;
    int64_t cardNo = 0;
    lock->WriteCard("0", buildingCode, floorCode, roomNo, "aa", checkIn, checkIn, checkOut,
                    checkOut, cardNo);
}

void ShowTestForm() {
    TTestForm form;
    form.exec();
}

}  // namespace ostra::kestrane
