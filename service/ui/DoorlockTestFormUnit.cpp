#include "service/ui/DoorlockTestFormUnit.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include "service/core/BaseDoorlockUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/SysOptionUnit.h"
#include "service/ui/GuardUnit.h"
#include "ui_DoorlockTestFormUnit.h"

namespace ostra {
namespace {

// The dialog's date-time text: "YYYY-MM-DD HH:NN:SS".
QString DateTimeText(TDateTime Value) {
    return QString::fromStdString(FormatDateTime("yyyy-mm-dd hh:nn:ss", Value));
}

TDateTime ReadDateTime(const QLineEdit* Edit) {
    return StrToDateTime(Edit->text().toStdString());
}

}  // namespace

TDoorlockTestForm::TDoorlockTestForm(std::function<TDateTime()> AClock)
    : TCloseBoxDialog(nullptr),
      ui(std::make_unique<Ui::TDoorlockTestForm>()),
      Clock(std::move(AClock)) {
    ui->setupUi(this);
    OnEvent(ui->OpenPortBtn, &QPushButton::clicked, this, &TDoorlockTestForm::OpenPortBtnClick);
    OnEvent(ui->beepBtn, &QPushButton::clicked, this, &TDoorlockTestForm::beepBtnClick);
    OnEvent(ui->ClosePortBtn, &QPushButton::clicked, this, &TDoorlockTestForm::ClosePortBtnClick);
    OnEvent(ui->ReadCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::ReadCardBtnClick);
    OnEvent(ui->EraseCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::EraseCardBtnClick);
    OnEvent(ui->WriteCardBtn, &QPushButton::clicked, this, &TDoorlockTestForm::WriteCardBtnClick);
    Guarded(this, [this] { FormCreate(); });
}

TDoorlockTestForm::~TDoorlockTestForm() = default;

void TDoorlockTestForm::FormCreate() {
    const TDateTime t = Clock();
    ui->CheckInDateTimeTxt->setText(DateTimeText(t - 1.0 / 24.0));
    ui->CheckOutDateTimeTxt->setText(DateTimeText(t + 2.0));
}

// The dialog opens only while Doorlock is set, and Doorlock is never unset
// again; the buttons still step aside if it is missing.
void TDoorlockTestForm::OpenPortBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->OpenPort();
}

void TDoorlockTestForm::beepBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->Beep();
}

void TDoorlockTestForm::ClosePortBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->ClosePort();
}

void TDoorlockTestForm::EraseCardBtnClick() {
    if (TBaseDoorlock* lock = Doorlock.load()) lock->EraseCard();
}

void TDoorlockTestForm::ReadCardBtnClick() {
    int64_t cardNo = 0;
    if (TBaseDoorlock* lock = Doorlock.load()) lock->ReadCard(cardNo);
    ui->CardNoTxt->setText(QString::number(cardNo));
}

void TDoorlockTestForm::WriteCardBtnClick() {
    const std::string buildingCode = ui->RoomBuildingCodeTxt->text().toStdString();
    const std::string floorCode = ui->RoomFloorCodeTxt->text().toStdString();
    const std::string roomNo = ui->RoomNoTxt->text().toStdString();
    const std::string roomKey = buildingCode + floorCode + roomNo;

    const TDateTime checkIn = ReadDateTime(ui->CheckInDateTimeTxt);
    const TDateTime checkOut = ReadDateTime(ui->CheckOutDateTimeTxt);

    const bool isCopy = ui->IsCopyCheckBox->isChecked();
    const std::string guestName = "Test";
    const std::string registerId;
    int64_t cardNo = 0;

    if (!SysOption) throw std::logic_error("The settings are not loaded");
    const TSysOption& option = *SysOption;
    TDoorlockRecordManager* records = RecordManager;

    TDateTime begin = checkIn;
    if (option.UseNativeDoorlockDb) {
        begin = 0;
        if (isCopy && records) begin = records->GetLastCheckInTime(roomKey);
        if (!isCopy || begin == 0) {
            begin = IncMinute(Clock(), -static_cast<int64_t>(option.DelayMinutes));
            if (isCopy && records) records->InsertRoom(roomKey, begin);
        }
    }

    bool ok = false;
    if (TBaseDoorlock* lock = Doorlock.load()) {
        ok = lock->WriteCard(registerId, buildingCode, floorCode, roomNo, guestName, begin, begin,
                             checkOut, checkOut, isCopy, cardNo);
    }

    if (ok && option.UseNativeDoorlockDb && !isCopy && records)
        records->UpdateLastCheckInTime(roomKey, begin);

    if (option.SaveDoorlockRecord && records) {
        records->InsertIssueCardRecord(registerId, std::to_string(cardNo), roomKey, 1, begin,
                                       checkIn, checkOut, isCopy, guestName, Clock());
    }
}

void ShowDoorlockTestForm() {
    TDoorlockTestForm form;
    form.exec();
}

}  // namespace ostra
