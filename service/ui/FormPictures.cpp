#include "service/ui/FormPictures.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QWidget>

namespace ostra {

QIcon ImageListIcon(int ImageIndex) {
    QStyle* style = QApplication::style();
    switch (ImageIndex) {
        case 0:
            return style->standardIcon(QStyle::SP_FileDialogDetailedView);
        case 1:
            return style->standardIcon(QStyle::SP_DialogResetButton);
        case 2:
            return style->standardIcon(QStyle::SP_MessageBoxInformation);
        case 3:
            return style->standardIcon(QStyle::SP_DialogCloseButton);
        default:
            return QIcon();
    }
}

void AssignActionImages(QWidget* Root) {
    for (QAction* action : Root->findChildren<QAction*>()) {
        const QVariant index = action->property("imageIndex");
        if (index.isValid()) action->setIcon(ImageListIcon(index.toInt()));
    }
}

namespace {

QPixmap AboutPicture(QSize Size) {
    QPixmap picture(Size);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 0, Size.height());
    gradient.setColorAt(0, QColor(0x1f, 0x4e, 0x79));
    gradient.setColorAt(1, QColor(0x9d, 0xc3, 0xe6));
    painter.fillRect(picture.rect(), gradient);
    const QPixmap lock = QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(64, 64);
    painter.drawPixmap((Size.width() - 64) / 2, Size.height() / 3, lock);
    return picture;
}

}  // namespace

void ShowPicture(QLabel* Image, TPicture Picture) {
    const QSize size = Image->size();
    QStyle* style = QApplication::style();
    switch (Picture) {
        case TPicture::Key:
            Image->setPixmap(style->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(size));
            break;
        case TPicture::Lock:
            Image->setPixmap(style->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size));
            break;
        case TPicture::About:
            Image->setPixmap(AboutPicture(size));
            break;
    }
}

}  // namespace ostra
