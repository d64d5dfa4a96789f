// The plug-in's main window and test dialog in-process, offscreen, with the
// message boxes recorded instead of shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "lockdriver/ui/OptionFormUnit.h"
#include "platform/ini/IniFile.h"
#include "plugin/ApplicationUnit.h"
#include "plugin/MainForm.h"
#include "plugin/TestFormUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/DialogKeys.h"

namespace ostra::kestrane::testing {
namespace {

struct TBox {
    QString Text, Caption;
    TMsgIcon Icon;
};

class TRecordedBoxes final : public IMessageBoxes {
  public:
    void Show(QWidget*, const QString& Text, const QString& Caption, TMsgIcon Icon) override {
        Boxes.push_back({Text, Caption, Icon});
    }
    std::vector<TBox> Boxes;
};

// Acts on the next modal window named Name once it is on top; the act runs
// from the event loop, not from inside the poll.
void WhenModal(const QString& Name, std::function<void(QWidget*)> Act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, Name, Act] {
        QWidget* top = QApplication::activeModalWidget();
        if (!top || top->objectName() != Name) return;
        poll->stop();
        poll->deleteLater();
        QMetaObject::invokeMethod(
            qApp,
            [w = QPointer<QWidget>(top), Act] {
                if (w) Act(w);
            },
            Qt::QueuedConnection);
    });
    poll->start(5);
}

// Answers the next password prompt with Password, or cancels it ("-").
void AnswerPassword(const QString& Password) {
    WhenModal("TCheckPasswordForm", [Password](QWidget* prompt) {
        if (Password == "-") return static_cast<void>(qobject_cast<QDialog*>(prompt)->reject());
        prompt->findChild<QLineEdit*>("edtPswd")->setText(Password);
        prompt->findChild<QPushButton*>("btnOK")->click();
    });
}

QStringList ActionTexts(const QWidget* Holder) {
    QStringList texts;
    for (const QAction* a : Holder->actions()) texts << (a->isSeparator() ? "-" : a->text());
    return texts;
}

class KestraneForms : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "plugin_forms_test";
        static char* argv[] = {name, nullptr};
        if (!qApp) new QApplication(argc, argv);
    }
    void SetUp() override {
        SetMessageBoxes(&Boxes);
        Globals.Options.PortNo = FreePort();
        Application = &HostApp;
    }
    void TearDown() override {
        Application = nullptr;
        SetMessageBoxes(nullptr);
    }

    TRecordingLock Lock;
    TLibraryGlobals Globals{&Lock};
    TRecordedBoxes Boxes;
    TApplication HostApp{qApp};
};

TEST_F(KestraneForms, MainWindowTitlesMenusAndListenerStart) {
    TfrmMain form;
    EXPECT_EQ(form.windowTitle(), "澄枫Zelt门锁接口");
    EXPECT_EQ(QCoreApplication::applicationName(), "澄枫Zelt门锁接口");
    const auto* menus = form.findChild<QMenuBar*>("MainMenu1");
    ASSERT_NE(menus, nullptr);
    // The client area below the menu bar, fixed.
    EXPECT_EQ(form.width(), 709);
    EXPECT_EQ(form.height() - menus->sizeHint().height(), 446);
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(ActionTexts(menus), QStringList({"文件(&F)", "工具(&T)", "帮助(&H)"}));
    EXPECT_EQ(ActionTexts(form.findChild<QMenu*>("mnuFile")),
              QStringList({"测试(&T)", "退出(&X)"}));
    EXPECT_EQ(ActionTexts(form.findChild<QMenu*>("mnuTool")),
              QStringList({"选项(&O)...", "-", "更改管理员密码(&C)"}));
    EXPECT_EQ(ActionTexts(form.findChild<QMenu*>("mnuHelp")), QStringList({"关于(&A)..."}));
    EXPECT_EQ(
        ActionTexts(form.findChild<QToolBar*>("ToolBar1")),
        QStringList({"选项(&O)...", "更改管理员密码(&C)", "-", "关于(&A)...", "-", "退出(&X)"}));
    for (const char* button : {"btnOption", "btnChangePassword", "btnAbout", "btnExit"}) {
        const auto* b = form.findChild<QWidget*>(button);
        ASSERT_NE(b, nullptr) << button;
        EXPECT_EQ(b->size(), QSize(25, 25)) << button;
    }

    EXPECT_TRUE(form.Memo()->isReadOnly());
    EXPECT_TRUE(form.Listener().Active());
    EXPECT_EQ(form.Listener().BoundPort(), Globals.Options.PortNo);
    EXPECT_EQ(form.Memo()->toPlainText(), "门锁接口监听服务器已经启动...");
    form.StopServer();
    EXPECT_FALSE(form.Listener().Active());
    EXPECT_EQ(form.Memo()->toPlainText(),
              "门锁接口监听服务器已经启动...\n门锁接口监听服务器已经停止。");
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(KestraneForms, APortInUseIsShownAndTheWindowOpensWithoutStartLine) {
    TfrmMain first;
    ASSERT_TRUE(first.Listener().Active());
    TfrmMain second;  // the same port
    EXPECT_FALSE(second.Listener().Active());
    EXPECT_EQ(second.Memo()->toPlainText(), "");
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Caption, "澄枫Zelt门锁接口");
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
}

TEST_F(KestraneForms, ClosingAsksForThePasswordEveryTime) {
    TfrmMain form;
    form.show();
    AnswerPassword("-");
    form.actExitExecute();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Listener().Active());
    AnswerPassword("movrel");
    form.actExitExecute();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(KestraneForms, OptionNeedsThePasswordAndALock) {
    TfrmMain form;
    AnswerPassword("-");
    form.actOptionExecute();
    EXPECT_TRUE(Lock.Calls().empty());
    AnswerPassword("movrel");
    form.actOptionExecute();
    EXPECT_EQ(Lock.Calls(), std::vector<std::string>{"ShowOptionForm"});
    Doorlock = nullptr;
    AnswerPassword("movrel");
    form.actOptionExecute();  // nothing after the password
    EXPECT_EQ(Lock.Calls().size(), 1u);
}

TEST_F(KestraneForms, TheTestCommandOpensTheDialogWithoutPasswordAndWithoutLock) {
    Doorlock = nullptr;
    TfrmMain form;
    QStringList opened;
    // Whatever opens first is recorded and closed: a password prompt would be wrong.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* top = QApplication::activeModalWidget()) {
            opened << top->objectName();
            QMetaObject::invokeMethod(
                qApp,
                [d = QPointer<QDialog>(qobject_cast<QDialog*>(top))] {
                    if (d) d->reject();
                },
                Qt::QueuedConnection);
            watch.stop();
        }
    });
    watch.start(5);
    form.findChild<QAction*>("mnuTest")->trigger();
    EXPECT_EQ(opened, QStringList({"TestForm"}));
}

TEST_F(KestraneForms, ChangingThePasswordSavesTheLibrarysSection) {
    TfrmMain form;
    AnswerPassword("movrel");
    WhenModal("TChangePasswordForm", [](QWidget* dialog) {
        dialog->findChild<QLineEdit*>("edtPswd")->setText(" neu ");
        dialog->findChild<QLineEdit*>("edtConfirmPswd")->setText("neu");
        dialog->findChild<QPushButton*>("btnOK")->click();
    });
    form.actChangePasswordExecute();
    EXPECT_EQ(Globals.Options.Password, "neu");
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, "管理员密码更改成功！");
    const IniFile ini(Globals.Options.FileName);
    EXPECT_EQ(ini.ReadString("SysOptions", "Password", ""), "neu");
    EXPECT_EQ(ini.ReadString("SysOptions", "PortNo", ""), std::to_string(Globals.Options.PortNo));
    EXPECT_EQ(ini.ReadString("SysOptions", "DelayMinutes", ""), "0");
}

TEST_F(KestraneForms, ThePasswordPromptShowsAStarForEveryTypedCharacter) {
    TfrmMain form;
    QString shown;
    WhenModal("TCheckPasswordForm", [&shown](QWidget* prompt) {
        auto* edit = prompt->findChild<QLineEdit*>("edtPswd");
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("movrel"));
        shown = edit->displayText();
        qobject_cast<QDialog*>(prompt)->reject();
    });
    form.actOptionExecute();
    EXPECT_EQ(shown.toStdString(), "******");
}

// The host's lock with the service's lock driver behind it, as in
// KestraneDriverHost: its option dialog is the driver's. It notes where the
// dialog opened (with no window active when `NoActiveWindow` is set).
class TDriverOptionLock final : public TBaseDoorlock {
  public:
    void ShowOptionForm() override {
        Frame = testsupport::FrameOfNextModal(&ostra::ShowOptionFormModal, NoActiveWindow);
    }
    bool NoActiveWindow = false;
    QRect Frame;
};

TEST_F(KestraneForms, TheDriversOptionDialogOpensCentredOnTheWindowAlsoWithNoneActive) {
    TDriverOptionLock lock;
    Doorlock = &lock;
    TfrmMain form;
    form.move(100, 120);  // away from the screen's centre
    form.show();
    for (const bool noActiveWindow : {false, true}) {
        lock.NoActiveWindow = noActiveWindow;
        AnswerPassword("movrel");
        form.actOptionExecute();
        EXPECT_EQ(lock.Frame.center(), form.frameGeometry().center()) << noActiveWindow;
    }
}

class KestraneTestForm : public KestraneForms {
  protected:
    template <class T>
    T* Child(TTestForm& Form, const char* Name) {
        return Form.findChild<T*>(Name);
    }
};

TEST_F(KestraneTestForm, LayoutTextsAndTabOrder) {
    TTestForm form;
    EXPECT_EQ(form.windowTitle(), "测试");
    EXPECT_EQ(form.size(), QSize(599, 394));
    EXPECT_EQ(Child<QLineEdit>(form, "RoomBuildingCodeTxt")->text(), "00");
    EXPECT_EQ(Child<QLineEdit>(form, "RoomFloorCodeTxt")->text(), "01");
    EXPECT_EQ(Child<QLineEdit>(form, "RoomNoTxt")->text(), "01");
    EXPECT_EQ(form.findChildren<QAbstractButton*>().size(), 6);  // no copy box

    // The check-in is an hour before the check-out less two days.
    const TDateTime in =
        StrToDateTime(Child<QLineEdit>(form, "CheckInDateTimeTxt")->text().toStdString());
    const TDateTime out =
        StrToDateTime(Child<QLineEdit>(form, "CheckOutDateTimeTxt")->text().toStdString());
    EXPECT_NEAR((out - in) * 86400.0, (2.0 + 1.0 / 24.0) * 86400.0, 1.0);

    const QStringList expected = {
        "OpenPortBtn",      "ClosePortBtn",        "CardNoTxt",           "RoomNoTxt",
        "RoomFloorCodeTxt", "RoomBuildingCodeTxt", "ReadCardBtn",         "WriteCardBtn",
        "EraseCardBtn",     "CheckInDateTimeTxt",  "CheckOutDateTimeTxt", "beepBtn"};
    QStringList chain;
    QWidget* w = Child<QWidget>(form, "OpenPortBtn");
    for (int i = 0; i < 40 && chain.size() < expected.size(); ++i, w = w->nextInFocusChain())
        if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
            chain << w->objectName();
    EXPECT_EQ(chain, expected);
}

TEST_F(KestraneTestForm, ButtonsDriveTheLock) {
    TTestForm form;
    Lock.ReadOk = false;
    Lock.ReadCardNo = 0;  // fails without writing a number
    Child<QPushButton>(form, "OpenPortBtn")->click();
    Child<QPushButton>(form, "beepBtn")->click();
    Child<QPushButton>(form, "ClosePortBtn")->click();
    Child<QPushButton>(form, "EraseCardBtn")->click();
    Child<QLineEdit>(form, "CardNoTxt")->setText("99");
    Child<QPushButton>(form, "ReadCardBtn")->click();
    EXPECT_EQ(Child<QLineEdit>(form, "CardNoTxt")->text(), "0");

    const std::string in = Child<QLineEdit>(form, "CheckInDateTimeTxt")->text().toStdString();
    const std::string out = Child<QLineEdit>(form, "CheckOutDateTimeTxt")->text().toStdString();
    Child<QPushButton>(form, "WriteCardBtn")->click();
    Child<QLineEdit>(form, "RoomNoTxt")->setText("");
    Child<QPushButton>(form, "WriteCardBtn")->click();
    const std::vector<std::string> expected = {
        "OpenPort",
        "Beep",
        "ClosePort",
        "EraseCard",
        "ReadCard",
        "WriteCard|0|00|01|01|aa|" + in + "|" + in + "|" + out + "|" + out,
        "WriteCard|0|00|01||aa|" + in + "|" + in + "|" + out + "|" + out};
    EXPECT_EQ(Lock.Calls(), expected);
    EXPECT_EQ(Child<QLineEdit>(form, "CardNoTxt")->text(), "0");  // the write shows nothing
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(KestraneTestForm, AnUnreadableDateIsShownAndNoCardIsWritten) {
    TTestForm form;
    Child<QLineEdit>(form, "CheckOutDateTimeTxt")->setText("tomorrow");
    Child<QPushButton>(form, "WriteCardBtn")->click();
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, "'tomorrow' is not a valid date and time");
    EXPECT_EQ(Boxes.Boxes[0].Caption, QCoreApplication::applicationName());

    // Where the user's dates are not year first, its own texts do not read back.
    UserRegionalSettings = RegionalSettingsFromFormats("%m/%d/%Y", "%H:%M:%S");
    TTestForm other;
    other.findChild<QPushButton*>("WriteCardBtn")->click();
    EXPECT_EQ(Boxes.Boxes.size(), 2u);
    EXPECT_TRUE(Lock.Calls().empty());
}

TEST_F(KestraneTestForm, WithoutALockTheButtonsDoNothing) {
    Doorlock = nullptr;
    TTestForm form;
    Child<QLineEdit>(form, "CardNoTxt")->setText("5");
    for (const char* button :
         {"OpenPortBtn", "beepBtn", "ClosePortBtn", "ReadCardBtn", "EraseCardBtn", "WriteCardBtn"})
        Child<QPushButton>(form, button)->click();
    EXPECT_EQ(Child<QLineEdit>(form, "CardNoTxt")->text(), "5");
    EXPECT_TRUE(Boxes.Boxes.empty());
    EXPECT_TRUE(Lock.Calls().empty());
}

TEST_F(KestraneTestForm, OnlyTheCloseBoxClosesItAndNoKeyReachesTheLock) {
    EXPECT_TRUE(testsupport::ClosesOnlyThroughTheCloseBox(&ShowTestForm));
    EXPECT_TRUE(Lock.Calls().empty());
}

}  // namespace
}  // namespace ostra::kestrane::testing
