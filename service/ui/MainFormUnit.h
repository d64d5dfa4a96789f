// The service's main window: its memo, menu, tool bar and actions, and the
// one TCP listener of the interface kind.
//
// Threads: the window lives on the main thread; every member function except
// TCPServerExecute runs there. TCPServerExecute runs on the listener's
// connection threads and touches nothing of the window: it reads
// InterfaceKind and KeepClientConnection (atomic) and runs one request through
// the kind's message handler, inside a pass of RequestGate() so that shutdown
// can wait for it.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>

#include "platform/net/TcpListener.h"

class QCloseEvent;
class QEventLoop;

namespace Ui {
class TMainForm;
}

namespace ostra {

class TMainForm : public QMainWindow {
    Q_OBJECT
  public:
    // Creation runs FormCreate; an error that leaves it is shown in an error
    // box and the window is made all the same (without a listener).
    explicit TMainForm(QWidget* Owner = nullptr);
    // Runs FormDestroy (its errors shown the same way), then frees the listener.
    ~TMainForm() override;

    // Shows the window modally and returns when it has closed.
    void ShowModal();

    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();
    void StartServer();
    void StopServer();
    static void TCPServerExecute(TcpConnection& Connection);

    void ExitActionExecute();
    void OptionActionExecute();
    void TestActionExecute();
    void ChangePasswordActionExecute();
    void AboutActionExecute();

    // The port the listener is bound to, 0 when it is off.
    uint16_t ListenerPort() const;

  protected:
    void closeEvent(QCloseEvent* Event) override;

  private:
    std::unique_ptr<Ui::TMainForm> ui;
    std::unique_ptr<TcpListener> TCPServer;
    QEventLoop* ModalLoop = nullptr;
};

// The one main window while it exists; the owner of the password dialogs.
extern TMainForm* MainForm;

// Titles and listener of one interface kind.
QString KindTitle(int Kind);
QString KindStartLine(int Kind);
// The SysOption port of the kind.
int32_t KindPortNo(int Kind);

// The password prompt over SysOption, owned by MainForm.
bool CheckPassword();
// The change-password dialog over SysOption, owned by MainForm.
void ShowChangePasswordForm();

}  // namespace ostra
