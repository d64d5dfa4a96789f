// The door-lock test dialog: its texts, its buttons and the card write with
// the begin-time rule and the record database.
#include <sqlite3.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/datetime/DateTime.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/ui/DoorlockTestFormUnit.h"
#include "service/ui/GuardUnit.h"
#include "tests/support/DialogKeys.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

class DoorlockTestDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        SavedLock = Doorlock.exchange(&Lock);
    }
    void TearDown() override { Doorlock.store(SavedLock); }

    QLineEdit* Edit(TDoorlockTestForm& Form, const char* Name) {
        return Form.findChild<QLineEdit*>(Name);
    }
    void Click(TDoorlockTestForm& Form, const char* Name) {
        Form.findChild<QPushButton*>(Name)->click();
    }

    struct TJournalRow {
        std::string RegisterId, CardNo, RoomNo, GuestName;
        int CardType, IsCopy;
        double LastCheckInTime, CheckInTime, CheckOutTime;
    };
    std::vector<TJournalRow> Journal() {
        std::vector<TJournalRow> rows;
        sqlite3* db = nullptr;
        sqlite3_open((Site.Dir / "Client.mdb").c_str(), &db);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "select RegisterId, CardNo, RoomNo, GuestName, CardType, IsCopy, "
                           "LastCheckInTime, CheckInTime, CheckOutTime from T_IssueCardRecord",
                           -1, &st, nullptr);
        auto text = [st](int i) {
            const unsigned char* t = sqlite3_column_text(st, i);
            return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
        };
        while (sqlite3_step(st) == SQLITE_ROW)
            rows.push_back({text(0), text(1), text(2), text(3), sqlite3_column_int(st, 4),
                            sqlite3_column_int(st, 5), sqlite3_column_double(st, 6),
                            sqlite3_column_double(st, 7), sqlite3_column_double(st, 8)});
        sqlite3_finalize(st);
        sqlite3_close(db);
        return rows;
    }

    TTempSite Site;
    TRecordedBoxes Boxes;
    TRecordingLock Lock;
    TBaseDoorlock* SavedLock = nullptr;
    const TDateTime Opened = At(2008, 5, 1, 14, 0, 0);
    std::function<TDateTime()> Clock = [this] { return Opened; };
};

TEST_F(DoorlockTestDialog, OpensWithItsTextsAndTheTimesAroundNow) {
    TDoorlockTestForm form(Clock);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("测试"));
    EXPECT_EQ(form.size(), QSize(599, 394));
    EXPECT_EQ(Edit(form, "CheckInDateTimeTxt")->text(), "2008-05-01 13:00:00");
    EXPECT_EQ(Edit(form, "CheckOutDateTimeTxt")->text(), "2008-05-03 14:00:00");
    EXPECT_EQ(Edit(form, "RoomBuildingCodeTxt")->text(), "00");
    EXPECT_EQ(Edit(form, "RoomFloorCodeTxt")->text(), "01");
    EXPECT_EQ(Edit(form, "RoomNoTxt")->text(), "01");
    EXPECT_EQ(Edit(form, "CardNoTxt")->text(), "");
    EXPECT_FALSE(form.findChild<QCheckBox*>("IsCopyCheckBox")->isChecked());
    EXPECT_EQ(form.findChild<QPushButton*>("WriteCardBtn")->geometry(), QRect(424, 248, 75, 25));
    EXPECT_EQ(Edit(form, "CheckInDateTimeTxt")->geometry().topLeft(), QPoint(160, 200));
}

TEST_F(DoorlockTestDialog, PlainButtonsReachTheLockAndReadShowsTheNumber) {
    TDoorlockTestForm form(Clock);
    Click(form, "OpenPortBtn");
    Click(form, "beepBtn");
    Click(form, "ClosePortBtn");
    Click(form, "EraseCardBtn");
    EXPECT_EQ(Lock.Opens, 1);
    EXPECT_EQ(Lock.Beeps, 1);
    EXPECT_EQ(Lock.Closes, 1);
    EXPECT_EQ(Lock.Erases, 1);

    Click(form, "ReadCardBtn");  // fails without a number
    EXPECT_EQ(Edit(form, "CardNoTxt")->text(), "0");
    Lock.ReadCardNo = -12345678901LL;  // fails, but left a number behind
    Click(form, "ReadCardBtn");
    EXPECT_EQ(Edit(form, "CardNoTxt")->text(), "-12345678901");
    Lock.ReadResult = true;
    Lock.ReadCardNo = 20080501;
    Click(form, "ReadCardBtn");
    EXPECT_EQ(Edit(form, "CardNoTxt")->text(), "20080501");
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(DoorlockTestDialog, WriteWithoutRecordDatabaseUsesTheTimesAsTyped) {
    Site.Option().DelayMinutes = 30;
    Site.Option().DelayMinutes2 = 60;
    TDoorlockTestForm form(Clock);
    Edit(form, "RoomBuildingCodeTxt")->setText(" 1");
    Edit(form, "RoomNoTxt")->setText("");
    Edit(form, "CardNoTxt")->setText("keep me");
    Click(form, "WriteCardBtn");

    ASSERT_EQ(Lock.Writes.size(), 1u);
    const auto& w = Lock.Writes[0];
    EXPECT_EQ(w.RegisterId, "");
    EXPECT_EQ(w.BuildingCode, " 1");
    EXPECT_EQ(w.FloorCode, "01");
    EXPECT_EQ(w.RoomNo, "");
    EXPECT_EQ(w.GuestName, "Test");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", w.BeginDate), "2008-05-01 13:00:00");
    EXPECT_EQ(w.BeginTime, w.BeginDate);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", w.EndDate), "2008-05-03 14:00:00");
    EXPECT_EQ(w.EndTime, w.EndDate);
    EXPECT_FALSE(w.IsCopy);
    EXPECT_EQ(Edit(form, "CardNoTxt")->text(), "keep me");
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(DoorlockTestDialog, CopyWithoutStoredTimeAddsTheRoomAndBeginsNowLessDelay) {
    Site.OpenRecordDatabase();
    Site.Option().UseNativeDoorlockDb = true;
    Site.Option().DelayMinutes = 30;
    TDoorlockTestForm form(Clock);
    form.findChild<QCheckBox*>("IsCopyCheckBox")->setChecked(true);
    Click(form, "WriteCardBtn");

    ASSERT_EQ(Lock.Writes.size(), 1u);
    EXPECT_TRUE(Lock.Writes[0].IsCopy);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", Lock.Writes[0].BeginDate),
              "2008-05-01 13:30:00");
    EXPECT_DOUBLE_EQ(RecordManager->GetLastCheckInTime("000101"), Lock.Writes[0].BeginDate);
    EXPECT_NE(Site.ReadLog().find("新建房间000101"), std::string::npos);

    // A later copy begins at the stored time, whatever the clock says now.
    Clock = [] { return At(2008, 5, 2, 9, 0, 0); };
    TDoorlockTestForm later(Clock);
    later.findChild<QCheckBox*>("IsCopyCheckBox")->setChecked(true);
    Click(later, "WriteCardBtn");
    ASSERT_EQ(Lock.Writes.size(), 2u);
    EXPECT_DOUBLE_EQ(Lock.Writes[1].BeginDate, Lock.Writes[0].BeginDate);
}

TEST_F(DoorlockTestDialog, FirstCardStoresItsBeginTimeOnlyWhenWritten) {
    Site.OpenRecordDatabase();
    Site.Option().UseNativeDoorlockDb = true;
    Site.Option().DelayMinutes = 10;
    TDoorlockTestForm form(Clock);

    Lock.WriteResult = false;
    Click(form, "WriteCardBtn");
    EXPECT_EQ(RecordManager->GetLastCheckInTime("000101"), 0.0);

    Lock.WriteResult = true;
    Click(form, "WriteCardBtn");
    ASSERT_EQ(Lock.Writes.size(), 2u);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", Lock.Writes[1].BeginDate),
              "2008-05-01 13:50:00");
    EXPECT_DOUBLE_EQ(RecordManager->GetLastCheckInTime("000101"), Lock.Writes[1].BeginDate);
}

TEST_F(DoorlockTestDialog, JournalRowIsStoredAlsoForAFailedWrite) {
    Site.OpenRecordDatabase();
    Site.Option().SaveDoorlockRecord = true;
    Lock.WriteResult = false;
    TDoorlockTestForm form(Clock);
    Click(form, "WriteCardBtn");
    Lock.WriteResult = true;
    Lock.WriteCardNo = 4660;
    Click(form, "WriteCardBtn");

    const auto rows = Journal();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].RegisterId, "");
    EXPECT_EQ(rows[0].CardNo, "0");
    EXPECT_EQ(rows[0].RoomNo, "000101");
    EXPECT_EQ(rows[0].GuestName, "Test");
    EXPECT_EQ(rows[0].CardType, 1);
    EXPECT_EQ(rows[0].IsCopy, 0);
    EXPECT_DOUBLE_EQ(rows[0].CheckInTime, At(2008, 5, 1, 13, 0, 0));
    EXPECT_DOUBLE_EQ(rows[0].CheckOutTime, At(2008, 5, 3, 14, 0, 0));
    EXPECT_DOUBLE_EQ(rows[0].LastCheckInTime, rows[0].CheckInTime);
    EXPECT_EQ(rows[1].CardNo, "4660");
}

TEST_F(DoorlockTestDialog, UnreadableDateStopsTheWriteWithAConversionError) {
    SetApplicationTitle(QStringLiteral("澄枫Zelt门锁接口"));
    Site.OpenRecordDatabase();
    Site.Option().SaveDoorlockRecord = true;
    TDoorlockTestForm form(Clock);
    Edit(form, "CheckOutDateTimeTxt")->setText("2008-13-01 10:00:00");
    Click(form, "WriteCardBtn");

    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text,
              QStringLiteral("'2008-13-01 10:00:00' is not a valid date and time"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(Lock.Writes.empty());
    EXPECT_TRUE(Journal().empty());
}

TEST_F(DoorlockTestDialog, OnlyTheCloseBoxClosesItAndNoKeyReachesTheLock) {
    EXPECT_TRUE(testsupport::ClosesOnlyThroughTheCloseBox(&ShowDoorlockTestForm));
    EXPECT_EQ(Lock.Opens + Lock.Beeps + Lock.Closes + Lock.Reads + Lock.Erases, 0);
    EXPECT_TRUE(Lock.Writes.empty());
}

}  // namespace
}  // namespace ostra::test
