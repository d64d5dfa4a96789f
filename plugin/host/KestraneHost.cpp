// KestraneHost: a small host program for the Kestrane library.
//
//   KestraneHost [--library NAME] [--nil-lock] [--write-fails] [--read-fails]
//                [--erase-fails] [--block-write] [--commands]
//
// Without --commands it loads the library, calls ShowMainAppWin once with its
// Qt application and its lock object (none with --nil-lock), unloads the
// library and ends. The lock records every call on standard output.
//
// With --commands it reads one command per line from standard input and
// answers on standard output, so that a test can drive it:
//   load             dlopen the library    -> "loaded" | "load-failed <why>"
//   show lock|nil    call ShowMainAppWin   -> "showing", later "returned"
//   close P1 P2 ...  close the library's window, answering the password
//                    prompts with P1, P2, ... ("-" cancels a prompt)
//   title            -> "title <the application's name>"
//   app              -> "app same|other"  (is the host's QApplication current)
//   unload           dlclose the library   -> "unloaded yes|no"
//   ping             -> "pong"
//   release          let a WriteCard held by --block-write return
//   quit             end the program (so does the end of the input)
// Every message box that opens is reported ("msgbox <text>") and
// dismissed; every password prompt answered is reported ("password <P>").
//
// A stop signal (SIGTERM, SIGINT, SIGHUP) ends the host as the system ending it: the
// library's window closes without the password, ShowMainAppWin returns and
// the host ends with exit code 0.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <string>

#include "plugin/Kestrane.h"
#include "plugin/host/RecordingLock.h"
#include "service/ui/StopSignalUnit.h"

namespace ostra::host {
namespace {

class THostDriver : public QObject {
  public:
    THostDriver(QApplication& App, kestrane::TBaseDoorlock& Lock, std::string Library)
        : App(App), Lock(Lock), Library(std::move(Library)) {
        connect(&ModalWatch, &QTimer::timeout, this, &THostDriver::AnswerModal);
        ModalWatch.start(20);
    }

    void ReadCommands() {
        ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
        Input = new QSocketNotifier(0, QSocketNotifier::Read, this);
        connect(Input, &QSocketNotifier::activated, this, &THostDriver::ReadInput);
    }

    bool Load() {
        Handle = ::dlopen(Library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Handle) {
            Say(std::string("load-failed ") + ::dlerror());
            return false;
        }
        Show = reinterpret_cast<TShowMainAppWin>(::dlsym(Handle, "ShowMainAppWin"));
        if (!Show) {
            Say("load-failed no ShowMainAppWin");
            return false;
        }
        Say("loaded");
        return true;
    }

    void Call(bool WithLock) {
        if (!Show) {
            Say("not-loaded");
            return;
        }
        Say("showing");
        Show(&App, WithLock ? &Lock : nullptr);
        Say("returned");
    }

    void Unload() {
        if (Handle) ::dlclose(Handle);
        Handle = nullptr;
        Show = nullptr;
        void* still = ::dlopen(Library.c_str(), RTLD_NOW | RTLD_NOLOAD);
        Say(still ? "unloaded no" : "unloaded yes");
        if (still) ::dlclose(still);
    }

  private:
    void ReadInput() {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n > 0) {
                Pending.append(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {  // end of input: quit once the commands before it are done
                Input->setEnabled(false);
                Pending += "\nquit\n";
            }
            break;
        }
        for (size_t eol; (eol = Pending.find('\n')) != std::string::npos;) {
            std::string line = Pending.substr(0, eol);
            Pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // Queued, so that a command that runs a modal loop (show, close)
            // does not hold up the reading of the next one.
            QMetaObject::invokeMethod(
                this, [this, line] { Run(line); }, Qt::QueuedConnection);
        }
    }

    void Run(const std::string& Line) {
        const std::string verb = Line.substr(0, Line.find(' '));
        const std::string rest = Line.size() > verb.size() ? Line.substr(verb.size() + 1) : "";
        if (verb == "load") {
            Load();
        } else if (verb == "show") {
            Call(rest != "nil");
        } else if (verb == "close") {
            for (size_t b = 0; b < rest.size();) {
                size_t e = rest.find(' ', b);
                if (e == std::string::npos) e = rest.size();
                if (e > b) Passwords.push_back(rest.substr(b, e - b));
                b = e + 1;
            }
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "frmMain" && w->isVisible()) w->close();
        } else if (verb == "title") {
            Say("title " + QCoreApplication::applicationName().toStdString());
        } else if (verb == "app") {
            Say(QCoreApplication::instance() == &App ? "app same" : "app other");
        } else if (verb == "unload") {
            Unload();
        } else if (verb == "release") {
            ReleaseWrites();
        } else if (verb == "ping") {
            Say("pong");
        } else if (verb == "quit") {
            QCoreApplication::exit(0);
        } else {
            Say("unknown " + Line);
        }
    }

    // Answers the modal window on top: message boxes are reported and
    // dismissed, password prompts get the next password of the queue. The
    // answer is queued, not given here, so that the modal loop it may open
    // does not run inside this timer's slot.
    void AnswerModal() {
        QWidget* top = QApplication::activeModalWidget();
        if (!top || top == Answering) return;
        if (auto* box = qobject_cast<QMessageBox*>(top)) {
            Answering = box;
            Say("msgbox " + box->text().toStdString());
            QMetaObject::invokeMethod(
                this,
                [this, box = QPointer<QMessageBox>(box)] {
                    Answering = nullptr;
                    if (box) box->done(QMessageBox::Ok);
                },
                Qt::QueuedConnection);
        } else if (top->objectName() == "TCheckPasswordForm" && !Passwords.empty()) {
            const std::string password = Passwords.front();
            Passwords.pop_front();
            Answering = top;
            Say("password " + password);
            QMetaObject::invokeMethod(
                this,
                [this, password, dialog = QPointer<QWidget>(top)] {
                    Answering = nullptr;
                    if (!dialog) return;
                    if (password == "-") {
                        if (auto* d = qobject_cast<QDialog*>(dialog.data())) d->reject();
                        return;
                    }
                    auto* edit = dialog->findChild<QLineEdit*>("edtPswd");
                    auto* ok = dialog->findChild<QPushButton*>("btnOK");
                    if (edit) edit->setText(QString::fromStdString(password));
                    if (ok) ok->click();
                },
                Qt::QueuedConnection);
        }
    }

    QApplication& App;
    kestrane::TBaseDoorlock& Lock;
    const std::string Library;
    void* Handle = nullptr;
    TShowMainAppWin Show = nullptr;
    QSocketNotifier* Input = nullptr;
    std::string Pending;
    std::deque<std::string> Passwords;
    QTimer ModalWatch;
    QPointer<QWidget> Answering;
};

}  // namespace
}  // namespace ostra::host

int main(int argc, char** argv) {
    using namespace ostra::host;
    QApplication app(argc, argv);
    ostra::ExitOnStopSignal();
    std::string library = "libKestrane.so";
    bool nilLock = false, commands = false;
    TLockAnswers answers;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--library" && i + 1 < argc)
            library = argv[++i];
        else if (a == "--nil-lock")
            nilLock = true;
        else if (a == "--write-fails")
            answers.WriteOk = false;
        else if (a == "--read-fails")
            answers.ReadOk = false;
        else if (a == "--erase-fails")
            answers.EraseOk = false;
        else if (a == "--block-write")
            answers.BlockWrite = true;
        else if (a == "--commands")
            commands = true;
    }
    TRecordingLock lock(answers);
    THostDriver driver(app, lock, library);
    if (!commands) {
        if (!driver.Load()) return 1;
        driver.Call(!nilLock);
        driver.Unload();
        return 0;
    }
    driver.ReadCommands();
    return app.exec();
}
