// The main window: its parts, the listener it runs, the password on every
// way of closing, the start with the port in use, and RunMainForm.

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "lockdriver/ui/OptionFormUnit.h"
#include "service/app/ProgramUnit.h"
#include "service/core/InterfaceKind.h"
#include "service/core/KeepClientConnection.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/RequestGate.h"
#include "tests/support/DialogKeys.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

const std::string ReadCardRequest = "<DoorRequest type=\"ReadCard\"/>";
const std::string Failed500 =
    "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
    "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo></DoorResponse>";

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        InterfaceKind.store(KindDoorlock);
        SavedLock = Doorlock.exchange(&Lock);
        KeepClientConnection.store(false);
        RequestGate().Reopen();
        Site.Option().DoorlockPortNo = 0;  // any free port
    }
    void TearDown() override { Doorlock.store(SavedLock); }

    TTempSite Site;
    TRecordedBoxes Boxes;
    TRecordingLock Lock;
    TBaseDoorlock* SavedLock = nullptr;
};

TEST_F(MainWindow, HasTheTitleMenusActionsAndStartLineOfTheDoorlockKind) {
    TMainForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("InfoMemo")->toPlainText(),
              QStringLiteral("门锁接口监听服务器已经启动..."));
    EXPECT_NE(form.ListenerPort(), 0);
    EXPECT_TRUE(Boxes.Boxes.empty());

    struct {
        const char* Name;
        QString Text;
        int Image;
    } actions[] = {{"ExitAction", "退出(&X)", 3},
                   {"OptionAction", "选项(&O)...", 0},
                   {"ChangePasswordAction", "更改管理员密码(&C)", 1},
                   {"AboutAction", "关于(&A)...", 2},
                   {"TestAction", "测试(&T)", -1}};
    for (const auto& a : actions) {
        auto* action = form.findChild<QAction*>(a.Name);
        ASSERT_NE(action, nullptr) << a.Name;
        EXPECT_EQ(action->text(), a.Text);
        EXPECT_EQ(
            action->property("imageIndex").isValid() ? action->property("imageIndex").toInt() : -1,
            a.Image);
    }
    QStringList menus;
    for (QAction* menu : form.findChild<QMenuBar*>("MainMenu")->actions()) menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"文件(&F)", "工具(&T)", "帮助(&H)"}));
    // The menu entries carry their own names and show their actions' captions.
    QStringList items;
    for (const char* menu : {"FileMenu", "ToolMenu", "HelpMenu"})
        for (QAction* item : form.findChild<QMenu*>(menu)->actions())
            items << item->objectName() + "=" + (item->isSeparator() ? "-" : item->text());
    EXPECT_EQ(
        items,
        (QStringList{"ExitMenuItem=退出(&X)", "OptionMenuItem=选项(&O)...", "T1=测试(&T)", "N1=-",
                     "ChangePasswordMenuItem=更改管理员密码(&C)", "AboutMenuItem=关于(&A)..."}));
    for (const char* button : {"OptionButton", "ChangePasswordButton", "HelpButton", "ExitButton"})
        EXPECT_NE(form.findChild<QToolButton*>(button), nullptr) << button;
    // Client area below the menu bar.
    EXPECT_EQ(form.width(), 857);
    EXPECT_EQ(form.height() - form.findChild<QMenuBar*>("MainMenu")->sizeHint().height(), 442);
}

TEST_F(MainWindow, ItsTitleIsNotAppendedToOtherWindowTitles) {
    // Once a display name has been set, Qt's desktop platforms append
    // " — <display name>" to every top-level window title. With none set,
    // the display name merely follows the application name.
    TMainForm form;
    const QString title = ApplicationTitle();
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    SetApplicationTitle(title);
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("澄枫Zelt门锁接口"));
}

TEST_F(MainWindow, AnswersRequestsOnTheDoorlockPort) {
    TMainForm form;
    EXPECT_EQ(Exchange(form.ListenerPort(), ReadCardRequest), Failed500);
    EXPECT_EQ(Lock.Reads, 1);
}

TEST_F(MainWindow, ClosingAsksForThePasswordAndCancelKeepsTheServiceAnswering) {
    TMainForm form;
    form.show();
    const uint16_t port = form.ListenerPort();

    AnswerPassword("movrel", /*Cancel=*/true);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());

    AnswerPassword("wrong");  // refused, then cancelled
    form.findChild<QAction*>("ExitAction")->trigger();
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("密码错误 ！"));

    EXPECT_EQ(Exchange(port, ReadCardRequest), Failed500);

    AnswerPassword("movrel");
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}

// A lock whose option dialog is the lock driver's; it notes where the dialog
// opened (with no window active when `NoActiveWindow` is set).
class TDriverOptionLock : public TRecordingLock {
  public:
    void ShowOptionForm() override {
        Frame = testsupport::FrameOfNextModal(&ShowOptionFormModal, NoActiveWindow);
    }
    bool NoActiveWindow = false;
    QRect Frame;
};

TEST_F(MainWindow, TheOptionDialogOpensCentredOnItAlsoWithNoWindowActive) {
    TDriverOptionLock lock;
    Doorlock.store(&lock);
    TMainForm form;
    form.move(100, 120);  // away from the screen's centre
    form.show();
    for (const bool noActiveWindow : {false, true}) {
        lock.NoActiveWindow = noActiveWindow;
        AnswerPassword("movrel");
        form.findChild<QAction*>("OptionAction")->trigger();
        EXPECT_EQ(lock.Frame.center(), form.frameGeometry().center()) << noActiveWindow;
    }
}

TEST_F(MainWindow, OptionAsksForThePasswordEachTimeAndTestDoesNot) {
    TMainForm form;
    AnswerPassword("movrel", /*Cancel=*/true);
    form.findChild<QAction*>("OptionAction")->trigger();
    EXPECT_EQ(Lock.OptionForms, 0);
    AnswerPassword("movrel");
    form.findChild<QAction*>("OptionAction")->trigger();
    EXPECT_EQ(Lock.OptionForms, 1);
    AnswerPassword("movrel");
    form.findChild<QAction*>("OptionAction")->trigger();
    EXPECT_EQ(Lock.OptionForms, 2);

    // The menu entry runs the action, password included.
    AnswerPassword("movrel");
    form.findChild<QAction*>("OptionMenuItem")->trigger();
    EXPECT_EQ(Lock.OptionForms, 3);

    QString opened;
    OnNextModal([&](QDialog& dialog) { opened = dialog.objectName(); });
    form.findChild<QAction*>("T1")->trigger();
    EXPECT_EQ(opened, "TDoorlockTestForm");

    // Without a lock object the Option action does nothing after the password.
    Doorlock.store(nullptr);
    AnswerPassword("movrel");
    form.findChild<QAction*>("OptionAction")->trigger();
    EXPECT_EQ(Lock.OptionForms, 3);
}

TEST_F(MainWindow, ChangePasswordAsksForTheOldOneFirst) {
    TMainForm form;
    QStringList opened;
    OnNextModal([&](QDialog& dialog) {
        opened << dialog.objectName();
        dialog.findChild<QLineEdit*>("edtPswd")->setText("movrel");
        dialog.findChild<QPushButton*>("btnOK")->click();
        OnNextModal([&](QDialog& next) { opened << next.objectName(); });
    });
    form.findChild<QAction*>("ChangePasswordAction")->trigger();
    EXPECT_EQ(opened, (QStringList{"TCheckPasswordForm", "TChangePasswordForm"}));
}

TEST_F(MainWindow, StartWithThePortInUseShowsTheErrorAndOpensWithoutListener) {
    TBusyPort busy;
    Site.Option().DoorlockPortNo = busy.Port;
    TMainForm form;

    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_FALSE(Boxes.Boxes[0].Text.isEmpty());
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("InfoMemo")->toPlainText(),
              QStringLiteral("门锁接口监听服务器已经启动..."));
    EXPECT_EQ(form.ListenerPort(), 0);

    // The window still works and closes as usual.
    form.show();
    AnswerPassword("movrel");
    EXPECT_TRUE(form.close());
}

TEST_F(MainWindow, AnImpossiblePortIsReportedLikeABusyOne) {
    Site.Option().DoorlockPortNo = 70000;
    TMainForm form;
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(form.ListenerPort(), 0);
}

TEST_F(MainWindow, FreeingTheWindowStopsTheListener) {
    uint16_t port = 0;
    {
        TMainForm form;
        port = form.ListenerPort();
        auto* memo = form.findChild<QPlainTextEdit*>("InfoMemo");
        form.FormDestroy();
        EXPECT_TRUE(memo->toPlainText().endsWith(QStringLiteral("接口监听服务器已经停止。")));
    }
    EXPECT_EQ(Exchange(port, ReadCardRequest), std::nullopt);
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(MainWindow, RunMainFormPublishesTheLockAndReturnsWhenClosed) {
    TRecordingLock other;
    // Close the window from inside its modal loop, with the password.
    QTimer::singleShot(0, [] {
        AnswerPassword("movrel");
        ASSERT_NE(MainForm, nullptr);
        MainForm->close();
    });
    RunMainForm(&other);
    EXPECT_EQ(Doorlock.load(), &other);
    EXPECT_EQ(InterfaceKind.load(), KindDoorlock);
    EXPECT_EQ(MainForm, nullptr);
}

}  // namespace
}  // namespace ostra::test
