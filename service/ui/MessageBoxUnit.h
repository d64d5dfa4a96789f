// The one way every window of the service shows a message box.
//
// Every box the operator sees goes through `MessageBoxes()`, so a test can put
// a recorder in its place and answer the boxes without a person.
//
// Threads: main (user-interface) thread only. `SetMessageBoxes` is called by
// tests before the windows exist and after they are gone; nothing guards it.
#pragma once

#include <QString>

class QWidget;

namespace ostra {

enum class TMsgIcon { None, Information, Warning, Error };

class IMessageBoxes {
  public:
    virtual ~IMessageBoxes() = default;
    // Shows a modal box with one OK button; returns when it is dismissed.
    virtual void Show(QWidget* Owner, const QString& Text, const QString& Caption,
                      TMsgIcon Icon) = 0;
};

// The boxes in use: the Qt message boxes unless a replacement is set.
IMessageBoxes& MessageBoxes();

// Puts `Boxes` in place (nullptr puts the Qt boxes back). The caller keeps
// ownership and keeps the object alive while it is set.
void SetMessageBoxes(IMessageBoxes* Boxes);

// Caption of the operator messages of the dialogs.
inline QString HintCaption() {
    return QStringLiteral("提示");
}

}  // namespace ostra
