// The main window built in interface kinds 2 to 4: its titles, the port key
// its listener takes, its start line, the connection closed after every
// request, and the Option and Test actions with and without a device.

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "otherkinds/core/DeviceRegistryUnit.h"
#include "service/core/InterfaceKind.h"
#include "service/core/KeepClientConnection.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/RequestGate.h"
#include "tests/otherkinds/FakeDevices.h"
#include "tests/support/FrontDesk.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

// While it lives, answers the password prompt with the right password and
// closes every other modal dialog, noting its name.
class TModalWatch {
  public:
    TModalWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            if (dialog->objectName() == "TCheckPasswordForm") {
                dialog->findChild<QLineEdit*>("edtPswd")->setText("movrel");
                dialog->findChild<QPushButton*>("btnOK")->click();
                ++Passwords;
                return;
            }
            Opened << dialog->objectName();
            dialog->reject();
        });
        timer_.start(5);
    }
    int Passwords = 0;
    QStringList Opened;

  private:
    QTimer timer_;
};

struct TKind {
    int Kind;
    const char* Title;
    const char* StartLine;
    int32_t TSysOption::*PortKey;
    const char* Request;  // one request of the kind
};

const TKind Kinds[] = {
    {KindPolice, "澄枫Zelt公安接口", "公安接口监听服务器已经启动...", &TSysOption::PolicePortNo,
     "<PoliceRequest/>"},
    {KindMember, "澄枫Zelt会员卡接口", "会员卡接口监听服务器已经启动...", &TSysOption::MemberPortNo,
     "<r type=\"ReadMemberCard\"><a/><b>1</b></r>"},
    {KindHand, "澄枫Zelt手牌接口", "手牌接口监听服务器已经启动...", &TSysOption::HandPortNo,
     "<r type=\"ReadHand\"/>"},
};

class KindWindow : public ::testing::TestWithParam<TKind> {
  protected:
    void SetUp() override {
        App();
        InterfaceKind.store(GetParam().Kind);
        RequestGate().Reopen();
        KeepClientConnection.store(false);
        // Every port key but the kind's own names a taken port.
        for (auto key : {&TSysOption::DoorlockPortNo, &TSysOption::PolicePortNo,
                         &TSysOption::MemberPortNo, &TSysOption::HandPortNo})
            Site.Option().*key = Busy.Port;
        Site.Option().*GetParam().PortKey = 0;  // any free port
    }
    void TearDown() override {
        ClearDevices();
        KeepClientConnection.store(false);
        InterfaceKind.store(KindDoorlock);
    }

    void AddDevice() {
        switch (GetParam().Kind) {
            case KindPolice: {
                auto device = std::make_unique<TFakePolice>();
                device->Guest.GenderID = "1";
                Police_ = device.get();
                RegisterDevice(std::move(device));
                break;
            }
            case KindMember:
                RegisterDevice(std::make_unique<TFakeMember>());
                break;
            case KindHand:
                RegisterDevice(std::make_unique<TFakeHand>());
                break;
        }
    }
    std::vector<std::string> DeviceCalls() const {
        if (TBasePolice* p = Police.load()) return static_cast<TFakePolice*>(p)->CallsSoFar();
        if (TBaseMember* m = Member.load()) return static_cast<TFakeMember*>(m)->CallsSoFar();
        if (TBaseHand* h = Hand.load()) return static_cast<TFakeHand*>(h)->CallsSoFar();
        return {};
    }

    TBusyPort Busy;
    TTempSite Site;
    TRecordedBoxes Boxes;
    TFakePolice* Police_ = nullptr;
};

TEST_P(KindWindow, HasTheTitlePortAndStartLineOfItsKind) {
    TMainForm form;
    EXPECT_TRUE(Boxes.Boxes.empty()) << "the listener took another kind's port";
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8(GetParam().Title));
    EXPECT_EQ(ApplicationTitle(), QString::fromUtf8(GetParam().Title));
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("InfoMemo")->toPlainText(),
              QString::fromUtf8(GetParam().StartLine));
    EXPECT_NE(form.ListenerPort(), 0);
    EXPECT_NE(form.ListenerPort(), Busy.Port);
}

TEST_P(KindWindow, ClosesEveryConnectionAfterOneRequestWhateverKeepClientConnectionHolds) {
    AddDevice();
    TMainForm form;
    for (bool keep : {true, false}) {
        KeepClientConnection.store(keep);
        TFrontDeskClient client(form.ListenerPort());
        // Two requests back to back: only the first is answered.
        const std::string framed = GetParam().Request + std::string(1, '\0');
        client.Send(framed + framed);
        const TExchange exchange{client.ReadToEnd(), client.ClosedByPeer};
        EXPECT_TRUE(exchange.ClosedByPeer) << keep;
        ASSERT_FALSE(exchange.Reply.empty()) << keep;
        EXPECT_EQ(exchange.Reply.find('\0'), exchange.Reply.size() - 1) << keep;
    }
    EXPECT_EQ(DeviceCalls().size(), 2u);
}

TEST_P(KindWindow, OptionAndTestDoNothingWithoutADevice) {
    TMainForm form;
    TModalWatch watch;
    form.findChild<QAction*>("OptionAction")->trigger();
    form.findChild<QAction*>("TestAction")->trigger();
    EXPECT_EQ(watch.Passwords, 1);  // Option still asks first
    EXPECT_TRUE(watch.Opened.isEmpty());
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_P(KindWindow, OptionAndTestReachTheDevice) {
    AddDevice();
    TMainForm form;
    TModalWatch watch;
    form.findChild<QAction*>("OptionAction")->trigger();
    EXPECT_EQ(DeviceCalls(), std::vector<std::string>{"ShowOptionForm"});
    form.findChild<QAction*>("TestAction")->trigger();
    EXPECT_EQ(watch.Passwords, 1);  // Test needs none
    switch (GetParam().Kind) {
        case KindPolice:
            EXPECT_TRUE(watch.Opened.isEmpty());
            ASSERT_EQ(Boxes.Boxes.size(), 1u);
            EXPECT_TRUE(Boxes.Boxes[0].Text.startsWith("<Guest><RoomNo></RoomNo>"));
            EXPECT_TRUE(
                Boxes.Boxes[0].Text.contains("<GenderID>1</GenderID>"
                                             "<SalutationID>2</SalutationID>"));
            break;
        case KindMember:
            EXPECT_EQ(watch.Opened, QStringList{"TMemberTestForm"});
            break;
        case KindHand:
            EXPECT_EQ(watch.Opened, QStringList{"THandTestForm"});
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindWindow, ::testing::ValuesIn(Kinds), [](const auto& info) {
    switch (info.param.Kind) {
        case KindPolice:
            return std::string("Police");
        case KindMember:
            return std::string("Member");
        default:
            return std::string("Hand");
    }
});

// The police Test action with a guest that cannot be shown.
class PoliceWindow : public KindWindow {};

TEST_P(PoliceWindow, TestSaysWhenThereIsNoGuestAndReportsABadGender) {
    AddDevice();
    TMainForm form;
    {
        auto g = Police_->Lock();
        Police_->HasGuest = false;
    }
    form.findChild<QAction*>("TestAction")->trigger();
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("当前没有客人"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("澄枫Zelt公安接口"));

    {
        auto g = Police_->Lock();
        Police_->HasGuest = true;
        Police_->Guest.GenderID = "F";
    }
    form.findChild<QAction*>("TestAction")->trigger();
    ASSERT_EQ(Boxes.Boxes.size(), 2u);
    EXPECT_EQ(Boxes.Boxes[1].Icon, TMsgIcon::Error);
    EXPECT_EQ(Boxes.Boxes[1].Text, QStringLiteral("'F' is not a valid integer value"));
}

INSTANTIATE_TEST_SUITE_P(Kind2, PoliceWindow, ::testing::Values(Kinds[0]));

}  // namespace
}  // namespace ostra::test
