#include "service/ui/ChangePasswordFormUnit.h"

#include "service/ui/FormPictures.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "service/ui/TextUtil.h"
#include "ui_ChangePasswordFormUnit.h"

namespace ostra {

TChangePasswordForm::TChangePasswordForm(IPasswordStore& AStore, QWidget* Owner)
    : QDialog(Owner), ui(std::make_unique<Ui::TChangePasswordForm>()), Store(AStore) {
    ui->setupUi(this);
    ShowPicture(ui->Image1, TPicture::Lock);
    OnEvent(ui->btnOK, &QPushButton::clicked, this, &TChangePasswordForm::btnOKClick);
    ui->edtPswd->setFocus();
}

TChangePasswordForm::~TChangePasswordForm() = default;

void TChangePasswordForm::btnOKClick() {
    const QString newPassword = TrimControls(ui->edtPswd->text());
    const QString confirm = TrimControls(ui->edtConfirmPswd->text());
    if (newPassword != confirm) {
        MessageBoxes().Show(this, QStringLiteral("您两次输入的密码不一致，请重新输入！"),
                            HintCaption(), TMsgIcon::Error);
        return;
    }
    Store.SetPassword(newPassword.toStdString());
    Store.Save();
    MessageBoxes().Show(this, QStringLiteral("管理员密码更改成功！"), HintCaption(),
                        TMsgIcon::Information);
    accept();
}

void ShowChangePasswordForm(IPasswordStore& Store, QWidget* Owner) {
    TChangePasswordForm form(Store, Owner);
    form.exec();
}

}  // namespace ostra
