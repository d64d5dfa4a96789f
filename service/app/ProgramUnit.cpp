#include "service/app/ProgramUnit.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "lockdriver/LockDriverUi.h"
#include "lockdriver/ui/OptionFormUnit.h"
#include "platform/process/OpenFilesLimit.h"
#include "platform/process/StopSignals.h"
#include "service/core/InterfaceKind.h"
#include "service/core/LogFileUnit.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MainFormUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "service/ui/RequestGate.h"
#include "service/ui/StopSignalUnit.h"

#ifndef OSTRA_INTERFACE_KIND
#define OSTRA_INTERFACE_KIND 1
#endif

namespace ostra {
namespace {

// Without a display to show the window on, run on the offscreen platform
// rather than fail to start.
void ChooseDisplay() {
    if (std::getenv("QT_QPA_PLATFORM")) return;
    if (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::fprintf(stderr, "OstraDoorLock: no display, the window runs offscreen\n");
}

// The last-resort report of an error that reached the top of the program.
void ReportFatal(const std::string& Message) {
    std::fprintf(stderr, "OstraDoorLock: %s\n", Message.c_str());
    MessageBoxes().Show(nullptr, QString::fromStdString(Message), ApplicationTitle(),
                        TMsgIcon::Error);
}

// Room for every connection the system lets the process have. Raising the
// limit is routine and says nothing; a limit that could not be raised is
// worth a line, since it caps the number of clients.
void ReportOpenFilesLimit(const OpenFilesLimitChange& Change) {
    if (Change.Result != OpenFilesLimitChange::Outcome::Failed) return;
    const std::string text = "cannot raise the open-files limit (" + std::to_string(Change.Before) +
                             "): " + Change.Error;
    std::fprintf(stderr, "OstraDoorLock: %s\n", text.c_str());
    LogWrite(text);
}

}  // namespace

void RunMainForm(TBaseDoorlock* Lock) {
    InterfaceKind.store(OSTRA_INTERFACE_KIND);
    if (Lock) Doorlock.store(Lock);
    std::unique_ptr<TMainForm> form = std::make_unique<TMainForm>();
    MainForm = form.get();
    struct ClearMainForm {
        ~ClearMainForm() { MainForm = nullptr; }
    } clear;
    form->ShowModal();
}

int RunProgram(int argc, char** argv) {
    ChooseDisplay();
    // From here on a stop signal is kept until the event loop acts on it.
    InstallStopSignals();
    try {
        StartModules();
    } catch (const std::exception& e) {
        // Nothing can be shown yet: no application object exists.
        std::fprintf(stderr, "OstraDoorLock: %s\n", e.what());
        return 1;
    }
    ReportOpenFilesLimit(RaiseOpenFilesLimit());

    int exitCode = 0;
    bool drained = true;
    {
        QApplication app(argc, argv);
        ExitOnStopSignal();
        InstallLockDriverUi();  // the driver's option dialog and message boxes
        std::unique_ptr<TBaseDoorlock> lock = CreateLock();
        std::string error;
        try {
            // Published before OpenPort, so that a thread the driver starts
            // there never finds Doorlock unset.
            Doorlock.store(lock.get());
            lock->OpenPort();
            RunMainForm(lock.get());
            lock->ClosePort();
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "Unknown error";
        }

        // The listener has stopped; requests that outlived its wait may still
        // use the lock object, the record database and the log.
        drained = RequestGate().CloseAndWait(RequestDrainTimeout);
        if (drained) {
            lock.reset();  // also stops the driver's card auto-read threads
            SetLockDriverUi(nullptr);
        } else {
            static_cast<void>(lock.release());  // still in use: kept to the end
        }

        if (!error.empty()) {
            ReportFatal(error);
            exitCode = 1;
        }
    }
    if (!drained) {
        std::fprintf(stderr, "OstraDoorLock: requests still running at exit\n");
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    EndModules();
    return exitCode;
}

}  // namespace ostra
