#include "plugin/MainForm.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/process/OpenFilesLimit.h"
#include "plugin/ApplicationUnit.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/LibraryPin.h"
#include "plugin/LogFileUnit.h"
#include "plugin/MessageHandlerUnit.h"
#include "plugin/SysOptionsUnit.h"
#include "plugin/TestFormUnit.h"
#include "service/ui/AboutFormUnit.h"
#include "service/ui/ChangePasswordFormUnit.h"
#include "service/ui/CheckPasswordFormUnit.h"
#include "service/ui/FormPictures.h"
#include "service/ui/GuardUnit.h"
#include "ui_MainForm.h"

namespace ostra::kestrane {

TfrmMain* frmMain = nullptr;

namespace {

const QString DoorlockTitle = QStringLiteral("澄枫Zelt门锁接口");

// The password dialogs read and save the library's own settings.
class TSysOptionsPasswords final : public IPasswordStore {
  public:
    std::string Password() const override { return Options().Password; }
    void SetPassword(const std::string& Value) override { Options().Password = Value; }
    void Save() override { Options().Save(); }

  private:
    static TSysOptions& Options() {
        if (!SysOptions) throw std::runtime_error("The library's settings are not loaded");
        return *SysOptions;
    }
};

TSysOptionsPasswords Passwords;

// A failure of the listener's start: one line on stderr and one in the log.
// The log's own failure is dropped here; the caller reports the first error.
void Report(const std::string& Text, const std::string& LogText) {
    std::fprintf(stderr, "Kestrane: %s\n", Text.c_str());
    std::fflush(stderr);
    try {
        if (LogFile) LogFile->Write(LogText);
    } catch (const std::exception&) {
    }
}

void ReportOpenFilesLimit(const OpenFilesLimitChange& Change) {
    if (Change.Result != OpenFilesLimitChange::Outcome::Failed) return;
    const std::string text = "cannot raise the open-files limit (" + std::to_string(Change.Before) +
                             "): " + Change.Error;
    Report(text, text);
}

}  // namespace

TfrmMain::TfrmMain() : ui(std::make_unique<Ui::TfrmMain>()) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("frmMain"));
    // Closing the library's window must not end the host's application.
    setAttribute(Qt::WA_QuitOnClose, false);
    setCentralWidget(ui->mmo);
    ui->ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // Flat 25 x 25 buttons, named as the operator's tool bar names them.
    const std::pair<QAction*, const char*> buttons[] = {
        {ui->actOption, "btnOption"},
        {ui->actChangePassword, "btnChangePassword"},
        {ui->actAbout, "btnAbout"},
        {ui->actExit, "btnExit"}};
    for (const auto& [action, name] : buttons) {
        QWidget* button = ui->ToolBar1->widgetForAction(action);
        button->setObjectName(QString::fromLatin1(name));
        button->setFixedSize(25, 25);
    }
    AssignActionImages(this);

    OnEvent(ui->actExit, &QAction::triggered, this, &TfrmMain::actExitExecute);
    OnEvent(ui->actOption, &QAction::triggered, this, &TfrmMain::actOptionExecute);
    OnEvent(ui->actChangePassword, &QAction::triggered, this, &TfrmMain::actChangePasswordExecute);
    OnEvent(ui->actAbout, &QAction::triggered, this, &TfrmMain::actAboutExecute);
    OnEvent(ui->mnuTest, &QAction::triggered, this, &TfrmMain::mnuTestClick);

    // A fixed single border: the client area below the menu bar is 709 x 446.
    const int menuHeight = ui->MainMenu1->sizeHint().height();
    setFixedSize(709, 446 + menuHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Guarded(this, [this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    Guarded(this, [this] { FormDestroy(); });
}

void TfrmMain::FormCreate() {
    if (Application) Application->SetTitle(DoorlockTitle);
    setWindowTitle(DoorlockTitle);
    StartServer();
}

void TfrmMain::FormDestroy() {
    StopServer();
}

QPlainTextEdit* TfrmMain::Memo() const {
    return ui->mmo;
}

void TfrmMain::ShowModal() {
    setWindowModality(Qt::ApplicationModal);
    show();
    QEventLoop loop;
    ModalLoop = &loop;
    loop.exec(QEventLoop::DialogExec);
    ModalLoop = nullptr;
    hide();
}

void TfrmMain::closeEvent(QCloseEvent* Event) {
    bool canClose = false;
    Guarded(this, [&] { canClose = CheckPassword(Passwords, this); });
    if (!canClose) {
        Event->ignore();
        return;
    }
    Event->accept();
    if (ModalLoop) ModalLoop->exit(0);
}

void TfrmMain::StartServer() {
    const int32_t port = SysOptions ? SysOptions->PortNo : TSysOptions::DefaultPortNo;
    TCPServer.SetBacklog(ListenBacklog);
    TCPServer.SetOnExecute(
        [memo = ui->mmo](TcpConnection& Connection) { TCPServerExecute(Connection, memo); });
    // Room for as many connections as the system lets this process have.
    ReportOpenFilesLimit(RaiseOpenFilesLimit());
    try {
        if (port < 0 || port > 65535)
            throw ENetError("Invalid port number " + std::to_string(port));
        TCPServer.SetPort(static_cast<uint16_t>(port));
        TCPServer.Start();
    } catch (const std::exception& e) {
        // Reported through the host's application as well; a host without a
        // screen still has this on stderr and in the log, a port out of
        // range as well as one that cannot be bound.
        Report("cannot listen on port " + std::to_string(port) + ": " + e.what(),
               "接口监听服务器启动失败，端口 " + std::to_string(port) + ": " + e.what());
        throw;
    }
    ui->mmo->appendPlainText(QStringLiteral("门锁接口监听服务器已经启动..."));
}

void TfrmMain::StopServer() {
    try {
        TCPServer.Stop();
    } catch (const EStopTimeout&) {
        // A connection thread is still inside the host's lock: it will run
        // the library's code after the window has gone.
        PinLibrary();
        throw;
    }
    ui->mmo->appendPlainText(QStringLiteral("门锁接口监听服务器已经停止。"));
}

void TfrmMain::TCPServerExecute(TcpConnection& Connection, QPlainTextEdit* Memo) {
    ServeConnection(Connection, Memo);
}

void TfrmMain::actExitExecute() {
    close();
}

void TfrmMain::actOptionExecute() {
    if (!CheckPassword(Passwords, this)) return;
    if (TBaseDoorlock* lock = Doorlock.load()) lock->ShowOptionForm();
}

void TfrmMain::actChangePasswordExecute() {
    if (CheckPassword(Passwords, this)) ShowChangePasswordForm(Passwords, this);
}

void TfrmMain::actAboutExecute() {
    ShowAboutForm(1);
}

void TfrmMain::mnuTestClick() {
    ShowTestForm();
}

}  // namespace ostra::kestrane
