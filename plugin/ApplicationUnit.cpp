#include "plugin/ApplicationUnit.h"

#include "service/ui/GuardUnit.h"

namespace ostra::kestrane {

TApplication* Application = nullptr;

QString TApplication::Title() const { return Host_ ? ApplicationTitle() : OwnTitle_; }

void TApplication::SetTitle(const QString& Title) {
    if (Host_)
        SetApplicationTitle(Title);
    else
        OwnTitle_ = Title;
}

}  // namespace ostra::kestrane
