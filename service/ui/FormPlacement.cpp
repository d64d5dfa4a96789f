#include "service/ui/FormPlacement.h"

#include <QApplication>
#include <QMainWindow>
#include <QRect>

namespace ostra {

namespace {

QWidget* ShownMainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow*>(window) && window->isVisible()) return window;
    return nullptr;
}

}  // namespace

void CentreOnMainWindow(QWidget& Window) {
    const QWidget* main = ShownMainWindow();
    if (!main) return;
    // Both client areas share their centre; with frames alike, so do the frames.
    QRect area(QPoint(0, 0), Window.size());
    area.moveCenter(main->geometry().center());
    Window.setGeometry(area);
}

}  // namespace ostra
