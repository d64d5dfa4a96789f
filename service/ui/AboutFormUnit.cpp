#include "service/ui/AboutFormUnit.h"

#include "service/ui/FormPictures.h"
#include "ui_AboutFormUnit.h"

namespace ostra {

TAboutForm::TAboutForm(int Kind) : QDialog(nullptr), ui(std::make_unique<Ui::TAboutForm>()) {
    ui->setupUi(this);
    ShowPicture(ui->Image1, TPicture::About);
    FormCreate(Kind);
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::FormCreate(int Kind) {
    // Kinds 3 and 4 keep the designer's caption and product label.
    if (Kind == 1) {
        setWindowTitle(QStringLiteral("关于 澄枫Zelt门锁接口"));
        ui->lblAppTitle->setText(QStringLiteral("澄枫Zelt门锁接口"));
    } else if (Kind == 2) {
        setWindowTitle(QStringLiteral("关于 澄枫Zelt公安接口"));
        ui->lblAppTitle->setText(QStringLiteral("澄枫Zelt公安接口"));
    }
    ui->lblVersion->setText(QStringLiteral("版本 1.0.0.0"));
}

void ShowAboutForm(int Kind) {
    TAboutForm form(Kind);
    form.exec();
}

}  // namespace ostra
