#include "service/ui/GuardUnit.h"

#include <QGuiApplication>

#include "service/ui/MessageBoxUnit.h"

namespace ostra {

QString ApplicationTitle() {
    return QGuiApplication::applicationDisplayName();
}

void SetApplicationTitle(const QString& Title) {
    QGuiApplication::setApplicationDisplayName(Title);
}

void ShowException(QWidget* Owner, const std::exception& Error) {
    MessageBoxes().Show(Owner, QString::fromUtf8(Error.what()), ApplicationTitle(),
                        TMsgIcon::Error);
}

void ShowUnknownException(QWidget* Owner) {
    MessageBoxes().Show(Owner, QStringLiteral("Unknown error"), ApplicationTitle(),
                        TMsgIcon::Error);
}

}  // namespace ostra
