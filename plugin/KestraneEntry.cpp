// The library's entry: its modules' start and end at load and unload, and
// the one export ShowMainAppWin (contract in plugin/Kestrane.h).
#include <QApplication>
#include <QThread>
#include <exception>

#include "platform/datetime/DateTime.h"
#include "plugin/ApplicationUnit.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/Kestrane.h"
#include "plugin/LibraryPin.h"
#include "plugin/LogFileUnit.h"
#include "plugin/MainForm.h"
#include "plugin/RegionalSettingsUnit.h"
#include "plugin/SysOptionsUnit.h"
#include "service/core/ExecutablePath.h"
#include "service/ui/GuardUnit.h"

namespace ostra::kestrane {
namespace {

// The host's application while it is current (set by ShowMainAppWin).
TApplication HostApplication;

// Load and unload of the library, in module order.
class TLibraryModules {
  public:
    TLibraryModules() {
        const std::string directory = ExecutableDirectory();
        // The settings, then the log named by the day of loading.
        SysOptions = new TSysOptions(directory + "Option.ini");
        SysOptions->Load();
        LogFile = new TLogFile(directory + FormatDateTime("yyyymmdd", Now()) + ".LOG");
        // The regional date and time settings as they stand now.
        UserRegionalSettings = ReadUserRegionalSettings();
        // The start-up block: the library's own application object, saved.
        Own = new TApplication();
        Saved = Own;
        Application = Own;
    }

    ~TLibraryModules() {
        // Put back what the start-up block saved; the host's application is
        // neither freed nor changed.
        Application = Saved;
        if (LibraryPinned()) return;  // a connection thread may still log
        delete LogFile;
        LogFile = nullptr;
        delete SysOptions;
        SysOptions = nullptr;
        Application = nullptr;
        delete Own;
    }

    TLibraryModules(const TLibraryModules&) = delete;
    TLibraryModules& operator=(const TLibraryModules&) = delete;

  private:
    TApplication* Own = nullptr;
    TApplication* Saved = nullptr;
};

TLibraryModules Modules;

bool InCall = false;

}  // namespace
}  // namespace ostra::kestrane

extern "C" __attribute__((visibility("default"))) void ShowMainAppWin(void* Application,
                                                                      void* Lock) {
    using namespace ostra::kestrane;
    // Only the process's QApplication, on its own thread, one window at a time.
    auto* host = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!host || static_cast<void*>(host) != Application) return;
    if (QThread::currentThread() != host->thread() || InCall) return;
    InCall = true;
    try {
        if (Lock) Doorlock = static_cast<TBaseDoorlock*>(Lock);
        HostApplication = TApplication(host);
        ostra::kestrane::Application = &HostApplication;
        {
            TfrmMain window;
            frmMain = &window;
            try {
                window.ShowModal();
            } catch (...) {
                frmMain = nullptr;
                throw;
            }
            frmMain = nullptr;
        }
    } catch (const std::exception& e) {
        ostra::ShowException(nullptr, e);
    } catch (...) {
        ostra::ShowUnknownException(nullptr);
    }
    InCall = false;
}
