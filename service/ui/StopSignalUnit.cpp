#include "service/ui/StopSignalUnit.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "platform/process/StopSignals.h"

namespace ostra {

void ExitOnStopSignal() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    const int fd = InstallStopSignals();
    if (fd < 0) return;
    auto* watch = new QSocketNotifier(fd, QSocketNotifier::Read, app);
    QObject::connect(watch, &QSocketNotifier::activated, app, [watch, fd] {
        char bytes[16];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
        watch->setEnabled(false);
        QCoreApplication::exit(0);
    });
}

}  // namespace ostra
