// Shared pieces of the window tests: the offscreen application, a recorder
// that answers every message box, a driver for modal dialogs, a temporary
// folder with its own settings and log, and a lock object that records calls.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/core/BaseDoorlockUnit.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

namespace ostra::test {

using testsupport::BinDir;
using testsupport::Exchange;
using testsupport::FreePort;
using testsupport::SourceDir;
using testsupport::TBusyPort;
using testsupport::TExchange;
using testsupport::TFrontDeskClient;
using testsupport::TTempDir;

// One QApplication for the whole test program (offscreen).
QApplication& App();

struct TShownBox {
    QString Text;
    QString Caption;
    TMsgIcon Icon;
    QWidget* Owner;
};

// Records every message box instead of showing it; put in place for the
// life of the object.
class TRecordedBoxes : public IMessageBoxes {
  public:
    TRecordedBoxes();
    ~TRecordedBoxes() override;
    void Show(QWidget* Owner, const QString& Text, const QString& Caption, TMsgIcon Icon) override;
    std::vector<TShownBox> Boxes;
    // Run after each box is recorded (for example to look at the focus).
    std::function<void()> OnShow;
};

// Runs `Act` on the next modal dialog that opens, from inside its modal loop.
// `Act` gets the dialog; the dialog is rejected afterwards if `Act` left it
// open and `CloseAfter` is set.
void OnNextModal(std::function<void(QDialog&)> Act, bool CloseAfter = true);
// Types `Password` into the password prompt that opens next and presses OK
// (or Cancel when `Cancel` is set).
void AnswerPassword(const QString& Password, bool Cancel = false);

// A temporary folder holding "Option.ini", the log and "Client.mdb"; puts
// its own SysOption and LogFile in place while it lives.
class TTempSite {
  public:
    TTempSite();
    ~TTempSite();

  private:
    TTempDir Temp_{"ostra-ui"};  // goes last, after the settings and the log

  public:
    std::filesystem::path Dir = Temp_.Path();
    std::string OptionIni() const { return (Dir / "Option.ini").string(); }
    std::string LogPath() const { return (Dir / "test.LOG").string(); }
    TSysOption& Option() { return *Option_; }
    // Makes "Client.mdb" from the schema of the service and opens a
    // RecordManager on it (put in place while the site lives).
    void OpenRecordDatabase();
    std::string ReadLog() const;
    std::string ReadFile(const std::string& Name) const;

  private:
    std::unique_ptr<TSysOption> Option_;
    std::unique_ptr<LogWriter> Log_;
    TSysOption* SavedOption_ = nullptr;
    LogWriter* SavedLog_ = nullptr;
    bool OwnsRecords_ = false;
};

// A lock object that records what it is asked and answers as told.
class TRecordingLock : public TBaseDoorlock {
  public:
    struct TWrite {
        std::string RegisterId, BuildingCode, FloorCode, RoomNo, GuestName;
        TDateTime BeginDate, BeginTime, EndDate, EndTime;
        bool IsCopy;
    };
    void ShowOptionForm() override { ++OptionForms; }
    bool OpenPort() override {
        ++Opens;
        return true;
    }
    void Beep() override { ++Beeps; }
    bool ClosePort() override {
        ++Closes;
        return true;
    }
    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, TDateTime BeginDate,
                   TDateTime BeginTime, TDateTime EndDate, TDateTime EndTime, bool IsCopy,
                   int64_t& CardNo) override;
    bool ReadCard(int64_t& CardNo) override;
    bool EraseCard() override {
        ++Erases;
        return EraseResult;
    }

    std::atomic<int> OptionForms{0}, Opens{0}, Beeps{0}, Closes{0}, Erases{0}, Reads{0};
    std::vector<TWrite> Writes;
    bool WriteResult = true;
    int64_t WriteCardNo = 0;  // left in CardNo by WriteCard (0: untouched)
    bool ReadResult = false;
    int64_t ReadCardNo = 0;  // left in CardNo by ReadCard (0: untouched)
    bool EraseResult = false;
};

// A date-time from its parts.
TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second);

// Pumps the event loop until `Done` is true (at most `Rounds` rounds of 10 ms).
bool PumpUntil(const std::function<bool()>& Done, int Rounds = 1000);

}  // namespace ostra::test
