#include "service/ui/CloseBoxDialog.h"

#include <QKeyEvent>
#include <QPushButton>

namespace ostra {

TCloseBoxDialog::TCloseBoxDialog(QWidget* Owner) : QDialog(Owner) {}

void TCloseBoxDialog::keyPressEvent(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::Cancel)) {
        Event->accept();
        return;
    }
    QDialog::keyPressEvent(Event);
}

void TCloseBoxDialog::showEvent(QShowEvent* Event) {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setDefault(false);
        button->setAutoDefault(false);
    }
    QDialog::showEvent(Event);
}

}  // namespace ostra
