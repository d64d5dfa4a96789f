// The application object through which the library's windows run: their
// title, their modal runs and the report of errors raised in their event
// handlers.
//
// Qt has one application object per process, and in a host that is the
// host's QApplication. The library's own application object is therefore a
// stand-in: current from the library's load until the first ShowMainAppWin,
// and again after the unload, while no window of the library exists; it
// keeps a title of its own and reaches no Qt object. ShowMainAppWin makes
// the host's application current and leaves it so after it returns:
//   title        -> the host's QCoreApplication::applicationName
//   modal runs   -> event loops (QDialog::exec) on the host's application
//   error reports-> error boxes captioned with that name
//                   (service/ui/GuardUnit.h)
//
// Threads: host's user-interface thread only; set at load and unload while
// no other thread of the library runs.
#pragma once

#include <QString>

class QApplication;

namespace ostra::kestrane {

class TApplication {
  public:
    // Host null: the library's own application object.
    explicit TApplication(QApplication* Host = nullptr) : Host_(Host) {}

    QApplication* Host() const { return Host_; }
    bool IsHost() const { return Host_ != nullptr; }

    QString Title() const;
    void SetTitle(const QString& Title);

  private:
    QApplication* Host_;
    QString OwnTitle_;
};

// The current application object. Null only while the library is not loaded
// (and in tests that set none).
extern TApplication* Application;

}  // namespace ostra::kestrane
