// Real key presses and close requests on the dialogs, for the window tests of
// the service, the other kinds and the plug-in (offscreen Qt). Header only:
// the suites that include it link Qt Widgets and Qt Test; the rest of the
// support library stays free of Qt.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QRect>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

namespace ostra::testsupport {

// Presses `Key` in every edit and combo box of `Form` (each as the operator
// would, with the focus in it), then on the form itself.
inline void PressEverywhere(QWidget& Form, Qt::Key Key) {
    for (QLineEdit* edit : Form.findChildren<QLineEdit*>()) {
        if (qobject_cast<QComboBox*>(edit->parentWidget())) continue;  // reached through its box
        edit->setFocus();
        QTest::keyClick(edit, Key);
    }
    for (QComboBox* box : Form.findChildren<QComboBox*>()) {
        box->setFocus();
        QTest::keyClick(box, Key);
    }
    QTest::keyClick(&Form, Key);
}

// Runs `Show`, which opens a dialog modally and returns once it has closed;
// `Act` runs on the dialog as soon as it is open. A dialog that `Act` leaves
// open is rejected afterwards, so that `Show` returns.
inline void WithNextModal(const std::function<void()>& Show,
                          const std::function<void(QDialog&)>& Act) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        poll.stop();
        Act(*dialog);
        if (dialog->isVisible()) dialog->reject();
    });
    poll.start(5);
    Show();
}

// Opens a dialog through `Show` (as WithNextModal), presses Return and Esc in
// every edit and combo box and on the dialog, then asks it to close as its
// close box does. Succeeds when the keys left it open, the close request
// closed it, and it was freed by the time `Show` returned.
inline ::testing::AssertionResult ClosesOnlyThroughTheCloseBox(const std::function<void()>& Show) {
    QPointer<QDialog> shown;
    bool openAfterKeys = false, closedOnRequest = false;
    WithNextModal(Show, [&](QDialog& dialog) {
        shown = &dialog;
        PressEverywhere(dialog, Qt::Key_Return);
        PressEverywhere(dialog, Qt::Key_Escape);
        openAfterKeys = dialog.isVisible();
        if (!openAfterKeys) return;
        dialog.windowHandle()->close();  // through the window system, as the close box
        closedOnRequest = !dialog.isVisible();
    });
    if (!openAfterKeys) return ::testing::AssertionFailure() << "a key closed the dialog";
    if (!closedOnRequest) return ::testing::AssertionFailure() << "the close request left it open";
    if (shown) return ::testing::AssertionFailure() << "the closed dialog was not freed";
    return ::testing::AssertionSuccess();
}

// The frame of the dialog that `Show` opens modally, as it opens. With
// `NoActiveWindow` set, no window is active when `Show` is called.
inline QRect FrameOfNextModal(const std::function<void()>& Show, bool NoActiveWindow = false) {
    if (NoActiveWindow) {
        // Deprecated from Qt 6.5 on, with no replacement that deactivates.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(nullptr);
        QT_WARNING_POP
    }
    QRect frame;
    WithNextModal(Show, [&](QDialog& dialog) { frame = dialog.frameGeometry(); });
    return frame;
}

}  // namespace ostra::testsupport
