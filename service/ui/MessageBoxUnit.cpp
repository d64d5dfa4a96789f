#include "service/ui/MessageBoxUnit.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace ostra {
namespace {

class TQtMessageBoxes final : public IMessageBoxes {
  public:
    void Show(QWidget* Owner, const QString& Text, const QString& Caption, TMsgIcon Icon) override {
        QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
        switch (Icon) {
            case TMsgIcon::None:
                qtIcon = QMessageBox::NoIcon;
                break;
            case TMsgIcon::Information:
                qtIcon = QMessageBox::Information;
                break;
            case TMsgIcon::Warning:
                qtIcon = QMessageBox::Warning;
                break;
            case TMsgIcon::Error:
                qtIcon = QMessageBox::Critical;
                break;
        }
        // Offscreen nobody sees the box: tell the terminal as well.
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            std::fprintf(stderr, "[%s] %s\n", Caption.toUtf8().constData(),
                         Text.toUtf8().constData());
        QMessageBox box(qtIcon, Caption, Text, QMessageBox::Ok, Owner);
        box.exec();
    }
};

TQtMessageBoxes QtBoxes;
IMessageBoxes* Current = &QtBoxes;

}  // namespace

IMessageBoxes& MessageBoxes() {
    return *Current;
}

void SetMessageBoxes(IMessageBoxes* Boxes) {
    Current = Boxes ? Boxes : &QtBoxes;
}

}  // namespace ostra
