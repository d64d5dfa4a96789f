#include "plugin/ApplicationUnit.h"

#include "service/ui/GuardUnit.h"

namespace ostra::kestrane {

TApplication* Application = nullptr;

QString TApplication::Title() const {
    return Host_ ? ApplicationTitle() : OwnTitle_;
}

void TApplication::SetTitle(const QString& Title) {
    if (Host_) {
        // The host keeps the title after the library is unloaded: hand it a
        // copy of its own, never text that lives in the library's image
        // (a QStringLiteral).
        SetApplicationTitle(QString(Title.constData(), Title.size()));
    } else {
        OwnTitle_ = Title;
    }
}

}  // namespace ostra::kestrane
