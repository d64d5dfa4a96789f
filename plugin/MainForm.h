// The library's main window: its one door-lock listener on SysOptions
// PortNo, its menu and tool bar (lock options, change password, about, test
// dialog, exit) and a memo that shows the listener's start and stop lines.
//
// The window exists for one ShowMainAppWin call: created (title, caption,
// listener start), run modally until the operator closes it with the
// administrator password, then freed (listener stop).
//
// Threads: the window, its actions and dialogs, StartServer and StopServer
// run on the host's user-interface thread; the memo is written only there.
// The listener runs one thread per connection (TCPServerExecute), each with a
// handler of its own; they share Doorlock, SysOptions and LogFile only.
#pragma once

#include <QMainWindow>
#include <memory>

#include "platform/net/TcpListener.h"

class QCloseEvent;
class QEventLoop;
class QPlainTextEdit;

namespace Ui {
class TfrmMain;
}

namespace ostra::kestrane {

class TfrmMain : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int ListenBacklog = 10;

    // FormCreate: the application's title and the caption, then StartServer;
    // an error of StartServer is shown and the window is created all the same.
    TfrmMain();
    // FormDestroy: StopServer; an error of the stop is shown.
    ~TfrmMain() override;

    // Shows the window modally; returns once it has been closed.
    void ShowModal();

    void StartServer();
    void StopServer();
    // One connection, on its own thread: read one request, hand it to a new
    // TMessageHandler holding the memo, free the handler, close the
    // connection. Touches nothing of the window but the memo's address.
    static void TCPServerExecute(TcpConnection& Connection, QPlainTextEdit* Memo);

    // The actions.
    void actExitExecute();
    void actOptionExecute();
    void actChangePasswordExecute();
    void actAboutExecute();
    void mnuTestClick();

    QPlainTextEdit* Memo() const;
    // The listener (tests read its state and port).
    const TcpListener& Listener() const { return TCPServer; }

  protected:
    // FormCloseQuery: every way of closing asks for the administrator password.
    void closeEvent(QCloseEvent* Event) override;

  private:
    void FormCreate();
    void FormDestroy();

    std::unique_ptr<Ui::TfrmMain> ui;
    TcpListener TCPServer;
    QEventLoop* ModalLoop = nullptr;
};

// The window of the running ShowMainAppWin call; null outside a call. The
// owner of the password and change-password dialogs.
extern TfrmMain* frmMain;

}  // namespace ostra::kestrane
