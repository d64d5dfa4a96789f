// Renders the main window, the door-lock test dialog and the operator
// dialogs offscreen into PNG files, for the README: OstraScreenshots <folder>.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "service/core/BaseDoorlockUnit.h"
#include "service/core/InterfaceKind.h"
#include "service/core/SysOptionUnit.h"
#include "service/ui/AboutFormUnit.h"
#include "service/ui/ChangePasswordFormUnit.h"
#include "service/ui/CheckPasswordFormUnit.h"
#include "service/ui/DoorlockTestFormUnit.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/SysOptionPasswordStore.h"

namespace {

bool Save(QWidget& Widget, const QString& Path) {
    Widget.show();
    QApplication::processEvents();
    const bool ok = Widget.grab().save(Path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", Path.toUtf8().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    // The embedded defaults, except any free port for the listener.
    ostra::TSysOption option("");
    option.DoorlockPortNo = 0;
    ostra::SetSysOption(&option);
    ostra::InterfaceKind.store(ostra::KindDoorlock);
    ostra::TBaseDoorlock lock;
    ostra::Doorlock.store(&lock);

    bool ok = true;
    {
        ostra::TMainForm form;
        ok = Save(form, folder + "/main-window.png") && ok;
    }
    {
        ostra::TDoorlockTestForm form;
        ok = Save(form, folder + "/test-dialog.png") && ok;
    }
    {
        ostra::TSysOptionPasswordStore store;
        ostra::TCheckPasswordForm check(store, nullptr);
        ok = Save(check, folder + "/check-password.png") && ok;
        ostra::TChangePasswordForm change(store, nullptr);
        ok = Save(change, folder + "/change-password.png") && ok;
        ostra::TAboutForm about(ostra::KindDoorlock);
        ok = Save(about, folder + "/about.png") && ok;
    }
    ostra::SetSysOption(nullptr);
    return ok ? 0 : 1;
}
