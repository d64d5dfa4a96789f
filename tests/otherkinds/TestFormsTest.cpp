// The member-card and hand-card test dialogs against test devices.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "otherkinds/core/DeviceRegistryUnit.h"
#include "otherkinds/ui/HandTestFormUnit.h"
#include "otherkinds/ui/MemberTestFormUnit.h"
#include "service/ui/DoorlockTestFormUnit.h"
#include "service/ui/GuardUnit.h"
#include "tests/otherkinds/FakeDevices.h"
#include "tests/support/DialogKeys.h"
#include "tests/ui/UiTestSupport.h"
#include "ui_THandTestForm.h"
#include "ui_TMemberTestForm.h"

namespace ostra {
namespace {

class TestForms : public ::testing::Test {
  protected:
    void SetUp() override { test::App(); }
    void TearDown() override { ClearDevices(); }

    test::TFakeMember* AddMember() {
        auto device = std::make_unique<test::TFakeMember>();
        auto* raw = device.get();
        RegisterDevice(std::move(device));
        return raw;
    }
    test::TFakeHand* AddHand() {
        auto device = std::make_unique<test::TFakeHand>();
        auto* raw = device.get();
        RegisterDevice(std::move(device));
        return raw;
    }
};

TEST_F(TestForms, MemberDialogLayout) {
    TMemberTestForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("测试"));
    EXPECT_EQ(form.size(), QSize(441, 311));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    auto* ui = form.ui();
    EXPECT_TRUE(ui->ChannelCmb->isEditable());
    ASSERT_EQ(ui->ChannelCmb->count(), 2);
    EXPECT_EQ(ui->ChannelCmb->itemText(0), QStringLiteral("酒店会员卡"));
    EXPECT_EQ(ui->ChannelCmb->itemText(1), QStringLiteral("澄枫联盟卡"));
    EXPECT_EQ(ui->ChannelCmb->currentText(), QStringLiteral("酒店会员卡"));
    EXPECT_EQ(ui->PasswordEdit->echoMode(), QLineEdit::Normal);
}

TEST_F(TestForms, MemberChannelIsMinusOneOnlyForTheHotelCard) {
    TMemberTestForm form;
    EXPECT_EQ(form.Channel(), -1);
    form.ui()->ChannelCmb->setCurrentIndex(1);
    EXPECT_EQ(form.Channel(), 11);
    form.ui()->ChannelCmb->setEditText(QStringLiteral("任意"));
    EXPECT_EQ(form.Channel(), 11);
    form.ui()->ChannelCmb->setEditText(QStringLiteral("酒店会员卡 "));
    EXPECT_EQ(form.Channel(), 11);
    form.ui()->ChannelCmb->setEditText(QStringLiteral("酒店会员卡"));
    EXPECT_EQ(form.Channel(), -1);
}

TEST_F(TestForms, MemberButtonsDriveTheDevice) {
    auto* member = AddMember();
    TMemberTestForm form;
    auto* ui = form.ui();
    {
        auto g = member->Lock();
        member->Result = false;  // shown all the same
        member->CardNo = "8001";
        member->Password = "p&<w";
        member->GuestName = "not shown";
    }
    ui->OpenPortBtn->click();
    ui->BeepBtn->click();
    ui->ClosePortBtn->click();
    ui->ChannelCmb->setCurrentIndex(1);
    ui->ReadCardBtn->click();
    EXPECT_EQ(ui->CardNoEdit->text(), QStringLiteral("8001"));
    EXPECT_EQ(ui->PasswordEdit->text(), QStringLiteral("p&<w"));
    {
        auto g = member->Lock();
        EXPECT_FALSE(member->LastFlag);
        EXPECT_EQ(member->LastChannel, 11);
        EXPECT_EQ(member->LastTexts, std::vector<std::string>(5));
    }

    ui->ChannelCmb->setCurrentIndex(0);
    ui->CardNoEdit->setText(QStringLiteral("会员9"));
    ui->WriteCardBtn->click();
    {
        auto g = member->Lock();
        EXPECT_EQ(member->LastChannel, -1);
        EXPECT_EQ(member->LastTexts, (std::vector<std::string>{"会员9", "", "", ""}));
    }
    EXPECT_EQ(ui->CardNoEdit->text(), QStringLiteral("会员9"));
    EXPECT_EQ(member->CallsSoFar(),
              (std::vector<std::string>{"OpenPort", "Beep", "ClosePort", "ReadCard", "WriteCard"}));
}

TEST_F(TestForms, HandDialogLayoutFollowsTheDoorLockTestDialog) {
    const QDateTime now(QDate(2008, 5, 1), QTime(14, 0, 0));
    THandTestForm form(nullptr, now);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("测试"));
    EXPECT_EQ(form.size(), QSize(599, 394));
    auto* ui = form.ui();
    EXPECT_EQ(ui->CheckInDateTimeTxt->text(), QStringLiteral("2008-05-01 13:00:00"));
    EXPECT_EQ(ui->CheckOutDateTimeTxt->text(), QStringLiteral("2008-05-03 14:00:00"));
    EXPECT_EQ(ui->RoomBuildingCodeTxt->text(), QStringLiteral("00"));
    EXPECT_EQ(ui->RoomFloorCodeTxt->text(), QStringLiteral("01"));
    EXPECT_EQ(ui->RoomNoTxt->text(), QStringLiteral("01"));
    EXPECT_TRUE(ui->HandNoTxt->text().isEmpty());
    EXPECT_FALSE(ui->IsCopyCheckBox->isChecked());
    EXPECT_EQ(ui->HandNoTxt->pos(), QPoint(160, 304));
    EXPECT_EQ(ui->EraseCardBtn->pos(), QPoint(424, 304));
    EXPECT_EQ(ui->EraseCardBtn->size(), QSize(75, 25));

    // Just after midnight the check-in falls on the day before.
    THandTestForm early(nullptr, QDateTime(QDate(2008, 3, 1), QTime(0, 30, 5)));
    EXPECT_EQ(early.ui()->CheckInDateTimeTxt->text(), QStringLiteral("2008-02-29 23:30:05"));
    EXPECT_EQ(early.ui()->CheckOutDateTimeTxt->text(), QStringLiteral("2008-03-03 00:30:05"));
}

// The caption or text a component shows, whatever its kind.
QString ShownText(const QWidget* Widget) {
    if (auto* label = qobject_cast<const QLabel*>(Widget)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(Widget)) return button->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(Widget)) return edit->text();
    return QString();
}

TEST_F(TestForms, HandDialogMatchesTheDoorLockTestDialogComponentForComponent) {
    TDoorlockTestForm door;
    THandTestForm hand;
    EXPECT_EQ(hand.font(), door.font());  // the date texts fit their edits in both
    int compared = 0;
    for (const QWidget* d : door.findChildren<QWidget*>()) {
        if (d->objectName().isEmpty() || d->objectName().startsWith("qt_")) continue;
        const QString name = d->objectName() == "CardNoTxt" ? "HandNoTxt" : d->objectName();
        const QWidget* h = hand.findChild<QWidget*>(name);
        ASSERT_NE(h, nullptr) << name.toStdString();
        EXPECT_STREQ(h->metaObject()->className(), d->metaObject()->className())
            << name.toStdString();
        EXPECT_EQ(h->geometry(), d->geometry()) << name.toStdString();
        if (!name.endsWith("DateTimeTxt")) {  // filled from the clock
            EXPECT_EQ(ShownText(h), ShownText(d)) << name.toStdString();
        }
        ++compared;
    }
    EXPECT_EQ(compared, 19);
}

TEST_F(TestForms, HandReadShowsTheNumberWriteAndEraseShowNothing) {
    auto* hand = AddHand();
    THandTestForm form;
    auto* ui = form.ui();
    {
        auto g = hand->Lock();
        hand->Result = false;
        hand->HandNo = "0815";
    }
    ui->ReadCardBtn->click();
    EXPECT_EQ(ui->HandNoTxt->text(), QStringLiteral("0815"));
    {
        auto g = hand->Lock();
        hand->Result = true;
        hand->HandNo = "4711";
    }
    ui->WriteCardBtn->click();
    ui->EraseCardBtn->click();
    EXPECT_EQ(ui->HandNoTxt->text(), QStringLiteral("0815"));
    {
        auto g = hand->Lock();
        hand->HandNo = "";
    }
    ui->ReadCardBtn->click();
    EXPECT_TRUE(ui->HandNoTxt->text().isEmpty());
    ui->OpenPortBtn->click();
    ui->beepBtn->click();
    ui->ClosePortBtn->click();
    EXPECT_EQ(hand->CallsSoFar(),
              (std::vector<std::string>{"ReadCard", "WriteCard", "EraseCard", "ReadCard",
                                        "OpenPort", "Beep", "ClosePort"}));
    auto g = hand->Lock();
    EXPECT_EQ(hand->HandNoOnEntry, "");
}

TEST_F(TestForms, ADeviceThatRaisesIsReportedAndTheDialogGoesOn) {
    test::TRecordedBoxes boxes;
    SetApplicationTitle(QStringLiteral("澄枫Zelt会员卡接口"));
    auto* member = AddMember();
    member->Lock(), member->Raise = true;
    TMemberTestForm form;
    form.ui()->CardNoEdit->setText("7");
    form.ui()->ReadCardBtn->click();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_EQ(boxes.Boxes[0].Caption, QStringLiteral("澄枫Zelt会员卡接口"));
    EXPECT_EQ(boxes.Boxes[0].Text, QStringLiteral("ReadCard failed in the device"));
    EXPECT_EQ(form.ui()->CardNoEdit->text(), QStringLiteral("7"));

    auto* hand = AddHand();
    hand->Lock(), hand->Raise = true;
    THandTestForm handForm;
    handForm.ui()->EraseCardBtn->click();
    EXPECT_EQ(boxes.Boxes.size(), 2u);
}

TEST_F(TestForms, ButtonsWithoutADeviceDoNothing) {
    TMemberTestForm member;
    member.ui()->CardNoEdit->setText("1");
    for (auto* b : member.findChildren<QPushButton*>()) b->click();
    EXPECT_EQ(member.ui()->CardNoEdit->text(), QStringLiteral("1"));
    THandTestForm hand;
    hand.ui()->HandNoTxt->setText("2");
    for (auto* b : hand.findChildren<QPushButton*>()) b->click();
    EXPECT_EQ(hand.ui()->HandNoTxt->text(), QStringLiteral("2"));
}

TEST_F(TestForms, OnlyTheCloseBoxClosesTheDialogs) {
    auto* member = AddMember();
    auto* hand = AddHand();
    EXPECT_TRUE(testsupport::ClosesOnlyThroughTheCloseBox(&ShowMemberTestForm));
    EXPECT_TRUE(testsupport::ClosesOnlyThroughTheCloseBox(&ShowHandTestForm));
    EXPECT_TRUE(member->CallsSoFar().empty());
    EXPECT_TRUE(hand->CallsSoFar().empty());
}

TEST_F(TestForms, ReturnCallsNoDeviceAndTheChannelBoxTakesNoNewItem) {
    auto* member = AddMember();
    auto* hand = AddHand();
    TMemberTestForm memberForm;
    memberForm.show();
    QComboBox* channels = memberForm.ui()->ChannelCmb;
    channels->setFocus();
    channels->lineEdit()->selectAll();
    QTest::keyClicks(channels, QStringLiteral("VIP"));
    testsupport::PressEverywhere(memberForm, Qt::Key_Return);
    EXPECT_EQ(channels->count(), 2);
    EXPECT_EQ(channels->currentText(), QStringLiteral("VIP"));
    EXPECT_EQ(memberForm.Channel(), 11);

    THandTestForm handForm;
    handForm.show();
    testsupport::PressEverywhere(handForm, Qt::Key_Return);

    EXPECT_TRUE(memberForm.isVisible());
    EXPECT_TRUE(handForm.isVisible());
    EXPECT_TRUE(member->CallsSoFar().empty());
    EXPECT_TRUE(hand->CallsSoFar().empty());
}

}  // namespace
}  // namespace ostra
