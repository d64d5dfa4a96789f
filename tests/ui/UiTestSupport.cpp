#include "tests/ui/UiTestSupport.h"

#include <sqlite3.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <thread>

#include "platform/datetime/DateTime.h"
#include "service/core/DoorlockRecordManagerUnit.h"

namespace ostra::test {

QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

TRecordedBoxes::TRecordedBoxes() {
    SetMessageBoxes(this);
}
TRecordedBoxes::~TRecordedBoxes() {
    SetMessageBoxes(nullptr);
}

void TRecordedBoxes::Show(QWidget* Owner, const QString& Text, const QString& Caption,
                          TMsgIcon Icon) {
    Boxes.push_back({Text, Caption, Icon, Owner});
    if (OnShow) OnShow();
}

void OnNextModal(std::function<void(QDialog&)> Act, bool CloseAfter) {
    auto timer = new QTimer(&App());
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, Act, CloseAfter] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        Act(*dialog);
        if (CloseAfter && dialog->isVisible()) dialog->reject();
    });
    timer->start();
}

void AnswerPassword(const QString& Password, bool Cancel) {
    OnNextModal([Password, Cancel](QDialog& dialog) {
        ASSERT_EQ(dialog.objectName(), "TCheckPasswordForm");
        dialog.findChild<QLineEdit*>("edtPswd")->setText(Password);
        dialog.findChild<QPushButton*>(Cancel ? "btnCancel" : "btnOK")->click();
    });
}

TTempSite::TTempSite() {
    Option_ = std::make_unique<TSysOption>(OptionIni());
    Option_->Load();
    SavedOption_ = SetSysOption(Option_.get());
    Log_ = std::make_unique<TLogFile>(LogPath());
    SavedLog_ = SetLogFile(Log_.get());
}

TTempSite::~TTempSite() {
    if (OwnsRecords_) FreeRecordManager();
    SetLogFile(SavedLog_);
    SetSysOption(SavedOption_);
}

void TTempSite::OpenRecordDatabase() {
    const std::string path = (Dir / "Client.mdb").string();
    const std::string schema = testsupport::ReadFile(SourceDir() + "/service/core/ClientMdb.sql");
    ASSERT_FALSE(schema.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    auto* manager = new TDoorlockRecordManager();
    manager->Open(path);
    ASSERT_TRUE(manager->IsOpen());
    delete SetRecordManager(manager);
    OwnsRecords_ = true;
}

std::string TTempSite::ReadFile(const std::string& Name) const {
    return testsupport::ReadFile(Dir / Name);
}

std::string TTempSite::ReadLog() const {
    return ReadFile("test.LOG");
}

bool TRecordingLock::WriteCard(std::string RegisterId, std::string BuildingCode,
                               std::string FloorCode, std::string RoomNo, std::string GuestName,
                               TDateTime BeginDate, TDateTime BeginTime, TDateTime EndDate,
                               TDateTime EndTime, bool IsCopy, int64_t& CardNo) {
    Writes.push_back({RegisterId, BuildingCode, FloorCode, RoomNo, GuestName, BeginDate, BeginTime,
                      EndDate, EndTime, IsCopy});
    if (WriteCardNo != 0) CardNo = WriteCardNo;
    return WriteResult;
}

bool TRecordingLock::ReadCard(int64_t& CardNo) {
    ++Reads;
    if (ReadCardNo != 0) CardNo = ReadCardNo;
    return ReadResult;
}

TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second) {
    return EncodeDateTime({Year, Month, Day, Hour, Minute, Second, 0});
}

bool PumpUntil(const std::function<bool()>& Done, int Rounds) {
    for (int i = 0; i < Rounds; ++i) {
        if (Done()) return true;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Done();
}

}  // namespace ostra::test
