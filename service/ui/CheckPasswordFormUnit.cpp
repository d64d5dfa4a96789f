#include "service/ui/CheckPasswordFormUnit.h"

#include "service/ui/FormPictures.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "service/ui/TextUtil.h"
#include "ui_CheckPasswordFormUnit.h"

namespace ostra {

TCheckPasswordForm::TCheckPasswordForm(IPasswordStore& AStore, QWidget* Owner)
    : QDialog(Owner), ui(std::make_unique<Ui::TCheckPasswordForm>()), Store(AStore) {
    ui->setupUi(this);
    ShowPicture(ui->Image1, TPicture::Key);
    OnEvent(ui->btnOK, &QPushButton::clicked, this, &TCheckPasswordForm::btnOKClick);
    ui->edtPswd->setFocus();
}

TCheckPasswordForm::~TCheckPasswordForm() = default;

void TCheckPasswordForm::btnOKClick() {
    const QString entered = TrimControls(ui->edtPswd->text());
    if (entered != QString::fromStdString(Store.Password())) {
        MessageBoxes().Show(this, QStringLiteral("密码错误 ！"), HintCaption(), TMsgIcon::Error);
        ui->edtPswd->setFocus();
        return;
    }
    accept();
}

bool CheckPassword(IPasswordStore& Store, QWidget* Owner) {
    TCheckPasswordForm form(Store, Owner);
    return form.exec() == QDialog::Accepted;
}

}  // namespace ostra
