// The port option dialog on the offscreen platform, with the message boxes
// recorded instead of shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "lockdriver/LockDriverUi.h"
#include "lockdriver/OptionUnit.h"
#include "lockdriver/OstraDoorLockUnit.h"
#include "lockdriver/ui/OptionFormUnit.h"
#include "platform/ini/IniFile.h"
#include "service/ui/MessageBoxUnit.h"

namespace ostra {
namespace {

namespace fs = std::filesystem;

QApplication& App() {
    static int Argc = 1;
    static char Name[] = "lockdriver_form_test";
    static char* Argv[] = {Name, nullptr};
    static QApplication* Instance = new QApplication(Argc, Argv);
    return *Instance;
}

struct ShownBox {
    QString Text, Caption;
    TMsgIcon Icon;
};

class BoxRecorder : public IMessageBoxes {
  public:
    void Show(QWidget*, const QString& Text, const QString& Caption, TMsgIcon Icon) override {
        Boxes.push_back({Text, Caption, Icon});
    }
    std::vector<ShownBox> Boxes;
};

class OptionFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        Dir = fs::temp_directory_path() /
              ("lockdriver-form-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Path = (Dir / "Option.ini").string();
        Opt = std::make_unique<TOption>(Path);
        Opt->Load();
        PrevOption = SetOption(Opt.get());
        SetMessageBoxes(&Boxes);
    }
    void TearDown() override {
        SetMessageBoxes(nullptr);
        SetOption(PrevOption);
        fs::remove_all(Dir);
    }

    template <class W>
    static W* Part(QWidget& Form, const char* Name) {
        W* Widget = Form.findChild<W*>(Name);
        EXPECT_NE(Widget, nullptr) << Name;
        return Widget;
    }

    fs::path Dir;
    std::string Path;
    std::unique_ptr<TOption> Opt;
    TOption* PrevOption = nullptr;
    BoxRecorder Boxes;
};

TEST_F(OptionFormTest, LayoutAndItems) {
    TOptionForm Form;
    EXPECT_EQ(Form.windowTitle(), "OptionForm");
    EXPECT_EQ(Form.size(), QSize(315, 186));
    auto* Label = Part<QLabel>(Form, "Label1");
    EXPECT_EQ(Label->text(), QStringLiteral("端口设置:"));
    EXPECT_EQ(Label->geometry(), QRect(49, 49, 72, 13));
    auto* Ports = Part<QComboBox>(Form, "PortCmb");
    EXPECT_TRUE(Ports->isEditable());
    EXPECT_EQ(Ports->pos(), QPoint(128, 48));
    EXPECT_EQ(Ports->width(), 145);
    ASSERT_EQ(Ports->count(), 12);
    for (int I = 0; I < 12; ++I) EXPECT_EQ(Ports->itemText(I), QString("COM%1").arg(I + 1));
    auto* Ok = Part<QPushButton>(Form, "OKBtn");
    EXPECT_EQ(Ok->text(), QStringLiteral("确定"));
    EXPECT_EQ(Ok->geometry(), QRect(64, 131, 75, 25));
    auto* Cancel = Part<QPushButton>(Form, "CancelBtn");
    EXPECT_EQ(Cancel->text(), QStringLiteral("取消"));
    EXPECT_EQ(Cancel->geometry(), QRect(184, 130, 75, 25));
    auto* Auto = Part<QCheckBox>(Form, "AutoReadChk");
    EXPECT_EQ(Auto->text(), QStringLiteral("自动读卡"));
    EXPECT_EQ(Auto->geometry(), QRect(128, 96, 97, 17));
    // Tab order: port list, OK, Cancel, check box.
    std::vector<QWidget*> Chain;
    for (QWidget* W = Form.nextInFocusChain(); W != &Form; W = W->nextInFocusChain())
        if (W == Ports || W == Ok || W == Cancel || W == Auto) Chain.push_back(W);
    EXPECT_EQ(Chain, (std::vector<QWidget*>{Ports, Ok, Cancel, Auto}));
}

TEST_F(OptionFormTest, NoFileShowsDefaultsAndOkWritesThem) {
    TOptionForm Form;
    Form.show();
    EXPECT_EQ(Part<QComboBox>(Form, "PortCmb")->currentText(), "COM1");
    EXPECT_FALSE(Part<QCheckBox>(Form, "AutoReadChk")->isChecked());
    Part<QPushButton>(Form, "OKBtn")->click();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_TRUE(Boxes.Boxes.empty());
    IniFile Ini(Path);
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "PortName", "?"), "COM1");
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "CurrentCardNo", "?"), "1");
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "AutoReadDoorCard", "?"), "0");
}

TEST_F(OptionFormTest, AnotherPortIsSavedAndAsksForARestart) {
    Opt->SetPortName("COM3");
    Opt->AutoReadDoorCard = true;
    TOptionForm Form;
    Form.show();
    EXPECT_EQ(OldPortName, "COM3");
    auto* Ports = Part<QComboBox>(Form, "PortCmb");
    EXPECT_EQ(Ports->currentText(), "COM3");
    EXPECT_TRUE(Part<QCheckBox>(Form, "AutoReadChk")->isChecked());
    Ports->setCurrentIndex(4);
    Part<QCheckBox>(Form, "AutoReadChk")->setChecked(false);
    Part<QPushButton>(Form, "OKBtn")->click();

    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Opt->PortName(), "COM5");
    EXPECT_EQ(Opt->PortIndex(), 4);  // the next card operation uses it
    EXPECT_FALSE(Opt->AutoReadDoorCard);
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("参数已经发生变化,请重新启动程序"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("提示"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Information);
    IniFile Ini(Path);
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "PortName", "?"), "COM5");
    EXPECT_EQ(Ini.ReadString("DoorlockOption", "AutoReadDoorCard", "?"), "0");
}

TEST_F(OptionFormTest, NamesOutsideTheListAreShownAndStoredAsTyped) {
    Opt->SetPortName("COM13");
    TOptionForm Form;
    Form.show();
    auto* Ports = Part<QComboBox>(Form, "PortCmb");
    EXPECT_EQ(Ports->currentText(), "COM13");
    Ports->setEditText("ttyUSB0");
    Part<QPushButton>(Form, "OKBtn")->click();
    EXPECT_EQ(IniFile(Path).ReadString("DoorlockOption", "PortName", "?"), "ttyUSB0");
    EXPECT_EQ(Opt->PortIndex(), -1);
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
}

TEST_F(OptionFormTest, CancelKeepsEverything) {
    Opt->SetPortName("COM2");
    TOptionForm Form;
    Form.show();
    Part<QComboBox>(Form, "PortCmb")->setCurrentIndex(6);
    Part<QCheckBox>(Form, "AutoReadChk")->setChecked(true);
    Part<QPushButton>(Form, "CancelBtn")->click();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Opt->PortName(), "COM2");
    EXPECT_FALSE(Opt->AutoReadDoorCard);
    EXPECT_FALSE(fs::exists(Path));
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(OptionFormTest, AFailedWriteIsShownAndTheDialogStaysOpen) {
    fs::create_directories(Path);  // a folder where the file should be
    TOptionForm Form;
    Form.show();
    Part<QComboBox>(Form, "PortCmb")->setCurrentIndex(1);
    Part<QPushButton>(Form, "OKBtn")->click();
    EXPECT_TRUE(Form.isVisible());
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QString::fromStdString("Unable to write to " + Path));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
}

TEST_F(OptionFormTest, TheLockObjectShowsTheDialogModally) {
    InstallLockDriverUi();
    bool Seen = false;
    QTimer::singleShot(0, [&] {
        auto* Form = qobject_cast<TOptionForm*>(QApplication::activeModalWidget());
        ASSERT_NE(Form, nullptr);
        Seen = true;
        Form->findChild<QPushButton*>("CancelBtn")->click();
    });
    TOstraDoorLock Lock;
    Lock.ShowOptionForm();
    EXPECT_TRUE(Seen);

    // The driver's messages are error boxes captioned "提示".
    LockDriverUi()->ShowError("PMS客户端未启动或者连接不正确Connection refused");
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text,
              QStringLiteral("PMS客户端未启动或者连接不正确Connection refused"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("提示"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    SetLockDriverUi(nullptr);
}

}  // namespace
}  // namespace ostra
