#include "service/ui/GuardUnit.h"

#include <QCoreApplication>

#include "service/ui/MessageBoxUnit.h"

namespace ostra {

// Kept as the application name, never as the display name: once a display
// name is set, the desktop platforms append " — <display name>" to the title
// of every top-level window, and the captions of the message boxes and
// dialogs must read exactly as given.
QString ApplicationTitle() {
    return QCoreApplication::applicationName();
}

void SetApplicationTitle(const QString& Title) {
    QCoreApplication::setApplicationName(Title);
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
