// The password prompt, the change-password dialog and the about box.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "service/core/InterfaceKind.h"
#include "service/ui/AboutFormUnit.h"
#include "service/ui/ChangePasswordFormUnit.h"
#include "service/ui/CheckPasswordFormUnit.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/SysOptionPasswordStore.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

class PasswordDialogs : public ::testing::Test {
  protected:
    void SetUp() override { App(); }
    TTempSite Site;
    TRecordedBoxes Boxes;
    TSysOptionPasswordStore Store;
};

TEST_F(PasswordDialogs, PromptAcceptsTheRightPasswordTrimmed) {
    for (const QString& typed : {QStringLiteral("movrel"), QStringLiteral("  movrel\t"),
                                 QStringLiteral("\x01movrel \r\n")}) {
        TCheckPasswordForm form(Store, nullptr);
        form.show();
        form.findChild<QLineEdit*>("edtPswd")->setText(typed);
        form.findChild<QPushButton*>("btnOK")->click();
        EXPECT_EQ(form.result(), QDialog::Accepted) << typed.toStdString();
    }
    EXPECT_TRUE(Boxes.Boxes.empty());
}

TEST_F(PasswordDialogs, PromptRejectsOtherCaseAndStaysOpenWithOneBox) {
    TCheckPasswordForm form(Store, nullptr);
    form.show();
    form.activateWindow();
    auto* edit = form.findChild<QLineEdit*>("edtPswd");
    edit->setText("MOVREL");
    form.findChild<QPushButton*>("btnOK")->setFocus();
    form.findChild<QPushButton*>("btnOK")->click();

    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("密码错误 ！"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("提示"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(form.isVisible());
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.focusWidget(), edit);
    EXPECT_EQ(edit->text(), QStringLiteral("MOVREL"));  // not cleared

    // The operator may try again.
    edit->setText("movrel");
    form.findChild<QPushButton*>("btnOK")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
}

TEST_F(PasswordDialogs, CheckPasswordIsTrueOnlyForTheConfirmedPassword) {
    AnswerPassword(" movrel ");
    EXPECT_TRUE(CheckPassword(Store, nullptr));
    AnswerPassword("movrel", /*Cancel=*/true);
    EXPECT_FALSE(CheckPassword(Store, nullptr));

    // A wrong password, then Cancel: the box was shown once, the answer is no.
    OnNextModal([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("edtPswd")->setText("Movrel");
        dialog.findChild<QPushButton*>("btnOK")->click();
        EXPECT_TRUE(dialog.isVisible());
        dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    EXPECT_FALSE(CheckPassword(Store, nullptr));
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
}

TEST_F(PasswordDialogs, StoredPasswordWithBlanksCanNeverBeMatched) {
    Site.Option().Password = " secret";
    for (const QString& typed : {QStringLiteral(" secret"), QStringLiteral("secret")}) {
        TCheckPasswordForm form(Store, nullptr);
        form.findChild<QLineEdit*>("edtPswd")->setText(typed);
        form.findChild<QPushButton*>("btnOK")->click();
        EXPECT_NE(form.result(), QDialog::Accepted);
    }
}

TEST_F(PasswordDialogs, ChangeRewritesOptionIniWithEveryKeyAndTakesEffect) {
    // A file with a few keys of its own; the rest come from the defaults.
    {
        std::ofstream ini(Site.OptionIni(), std::ios::binary);
        ini << "[SysOption]\r\nPolicePortNo=9001\r\n[DoorlockOption]\r\nDelayMinutes=30\r\n";
    }
    Site.Option().Load();

    TChangePasswordForm form(Store, nullptr);
    form.show();
    form.findChild<QLineEdit*>("edtPswd")->setText(" n3w ");
    form.findChild<QLineEdit*>("edtConfirmPswd")->setText("n3w");
    form.findChild<QPushButton*>("btnOK")->click();

    EXPECT_EQ(form.result(), QDialog::Accepted);
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("管理员密码更改成功！"));
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("提示"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Information);
    EXPECT_EQ(Site.Option().Password, "n3w");

    // Every key of both sections is in the file, the loaded values kept.
    TSysOption reread(Site.OptionIni());
    reread.Load();
    EXPECT_EQ(reread.Password, "n3w");
    EXPECT_EQ(reread.PolicePortNo, 9001);
    EXPECT_EQ(reread.DelayMinutes, 30);
    const std::string text = Site.ReadFile("Option.ini");
    for (const char* key :
         {"Password=", "DoorlockPortNo=", "HandPortNo=", "PolicePortNo=", "MemberPortNo=",
          "ScanPortNo=", "WriteLog=", "DelayMinutes=", "DelayMinutes2=", "UseNativeDoorlockDb=",
          "SaveDoorlockRecord=", "AutoReadDoorCard=", "PmsServer=", "PmsServerPort="})
        EXPECT_NE(text.find(key), std::string::npos) << key;

    // Only the new password opens the prompt now.
    AnswerPassword("movrel");  // refused: the prompt stays open and is then cancelled
    EXPECT_FALSE(CheckPassword(Store, nullptr));
    AnswerPassword("n3w");
    EXPECT_TRUE(CheckPassword(Store, nullptr));
}

TEST_F(PasswordDialogs, ChangeWithDifferentEntriesChangesNothing) {
    TChangePasswordForm form(Store, nullptr);
    form.show();
    form.findChild<QLineEdit*>("edtPswd")->setText("abc");
    form.findChild<QLineEdit*>("edtConfirmPswd")->setText("abd");
    form.findChild<QPushButton*>("btnOK")->click();

    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].Text, QStringLiteral("您两次输入的密码不一致，请重新输入！"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.findChild<QLineEdit*>("edtConfirmPswd")->text(), "abd");
    EXPECT_EQ(Site.Option().Password, "movrel");
    EXPECT_FALSE(std::filesystem::exists(Site.OptionIni()));
}

TEST_F(PasswordDialogs, EmptyNewPasswordIsAcceptedAndMatchesABlankEntry) {
    TChangePasswordForm form(Store, nullptr);
    form.findChild<QLineEdit*>("edtPswd")->setText("  ");
    form.findChild<QPushButton*>("btnOK")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Site.Option().Password, "");
    AnswerPassword(" \t");
    EXPECT_TRUE(CheckPassword(Store, nullptr));
}

TEST_F(PasswordDialogs, FailedSaveIsShownAsAnErrorAndTheDialogStaysOpen) {
    SetApplicationTitle(QStringLiteral("澄枫Zelt门锁接口"));
    // A settings file in a folder that does not exist cannot be written.
    TSysOption unwritable((Site.Dir / "missing" / "Option.ini").string());
    TSysOption* saved = SetSysOption(&unwritable);
    TChangePasswordForm form(Store, nullptr);
    form.show();
    form.findChild<QLineEdit*>("edtPswd")->setText("x");
    form.findChild<QLineEdit*>("edtConfirmPswd")->setText("x");
    form.findChild<QPushButton*>("btnOK")->click();
    SetSysOption(saved);

    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_TRUE(Boxes.Boxes[0].Text.startsWith("Unable to write to "))
        << Boxes.Boxes[0].Text.toStdString();
    EXPECT_EQ(Boxes.Boxes[0].Caption, QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(Boxes.Boxes[0].Icon, TMsgIcon::Error);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(unwritable.Password, "x");  // changed in memory before the save failed
}

TEST_F(PasswordDialogs, EveryTypedCharacterShowsAsAStar) {
    TCheckPasswordForm prompt(Store, nullptr);
    TChangePasswordForm change(Store, nullptr);
    const std::pair<QDialog*, const char*> edits[] = {
        {&prompt, "edtPswd"}, {&change, "edtPswd"}, {&change, "edtConfirmPswd"}};
    for (const auto& [form, name] : edits) {
        form->show();
        auto* edit = form->findChild<QLineEdit*>(name);
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral(" movrel1"));
        EXPECT_EQ(edit->text(), QStringLiteral(" movrel1")) << name;
        EXPECT_EQ(edit->displayText().toStdString(), "********") << name;
    }
}

TEST(AboutBox, ShowsTheTitlesOfTheKind) {
    App();
    TAboutForm doorlock(KindDoorlock);
    EXPECT_EQ(doorlock.windowTitle(), QStringLiteral("关于 澄枫Zelt门锁接口"));
    EXPECT_EQ(doorlock.findChild<QLabel*>("lblAppTitle")->text(),
              QStringLiteral("澄枫Zelt门锁接口"));
    EXPECT_EQ(doorlock.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("版本 1.0.0.0"));
    EXPECT_EQ(doorlock.size(), QSize(413, 262));

    TAboutForm police(KindPolice);
    EXPECT_EQ(police.windowTitle(), QStringLiteral("关于 澄枫Zelt公安接口"));

    TAboutForm member(KindMember);  // keeps the designer's caption
    EXPECT_EQ(member.windowTitle(), QStringLiteral("关于..."));
    EXPECT_EQ(member.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("版本 1.0.0.0"));
}

}  // namespace
}  // namespace ostra::test
