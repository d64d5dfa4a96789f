#include "service/ui/MainFormUnit.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "otherkinds/core/BaseHandUnit.h"
#include "otherkinds/core/BaseMemberUnit.h"
#include "otherkinds/core/BasePoliceUnit.h"
#include "otherkinds/core/GuestXml.h"
#include "otherkinds/ui/HandTestFormUnit.h"
#include "otherkinds/ui/MemberTestFormUnit.h"
#include "service/core/BaseDoorlockUnit.h"
#include "service/core/InterfaceKind.h"
#include "service/core/KeepClientConnection.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "service/ui/AboutFormUnit.h"
#include "service/ui/ChangePasswordFormUnit.h"
#include "service/ui/CheckPasswordFormUnit.h"
#include "service/ui/DoorlockTestFormUnit.h"
#include "service/ui/FormPictures.h"
#include "service/ui/GuardUnit.h"
#include "service/ui/MessageBoxUnit.h"
#include "service/ui/MessageHandlerFactory.h"
#include "service/ui/RequestGate.h"
#include "service/ui/SysOptionPasswordStore.h"
#include "ui_MainFormUnit.h"

namespace ostra {

TMainForm* MainForm = nullptr;

namespace {

// A menu entry that stands for an action: it shows the action's caption,
// image and state, and choosing it runs the action.
void LinkMenuItem(QAction* Item, QAction* Action) {
    auto follow = [Item, Action] {
        Item->setText(Action->text());
        Item->setIcon(Action->icon());
        Item->setEnabled(Action->isEnabled());
        Item->setVisible(Action->isVisible());
    };
    follow();
    QObject::connect(Action, &QAction::changed, Item, follow);
    QObject::connect(Item, &QAction::triggered, Action, &QAction::trigger);
}

}  // namespace

QString KindTitle(int Kind) {
    switch (Kind) {
        case KindDoorlock:
            return QStringLiteral("澄枫Zelt门锁接口");
        case KindPolice:
            return QStringLiteral("澄枫Zelt公安接口");
        case KindMember:
            return QStringLiteral("澄枫Zelt会员卡接口");
        case KindHand:
            return QStringLiteral("澄枫Zelt手牌接口");
        default:
            return QString();
    }
}

QString KindStartLine(int Kind) {
    switch (Kind) {
        case KindDoorlock:
            return QStringLiteral("门锁接口监听服务器已经启动...");
        case KindPolice:
            return QStringLiteral("公安接口监听服务器已经启动...");
        case KindMember:
            return QStringLiteral("会员卡接口监听服务器已经启动...");
        case KindHand:
            return QStringLiteral("手牌接口监听服务器已经启动...");
        default:
            return QString();
    }
}

int32_t KindPortNo(int Kind) {
    if (!SysOption) throw std::logic_error("The settings are not loaded");
    switch (Kind) {
        case KindDoorlock:
            return SysOption->DoorlockPortNo;
        case KindPolice:
            return SysOption->PolicePortNo;
        case KindMember:
            return SysOption->MemberPortNo;
        case KindHand:
            return SysOption->HandPortNo;
        default:
            throw std::logic_error("Unknown interface kind " + std::to_string(Kind));
    }
}

bool CheckPassword() {
    TSysOptionPasswordStore store;
    return CheckPassword(store, MainForm);
}

void ShowChangePasswordForm() {
    TSysOptionPasswordStore store;
    ShowChangePasswordForm(store, MainForm);
}

TMainForm::TMainForm(QWidget* Owner) : QMainWindow(Owner), ui(std::make_unique<Ui::TMainForm>()) {
    ui->setupUi(this);
    AssignActionImages(this);
    // The tool bar's buttons carry the names of the window's definition.
    ui->ToolBar->widgetForAction(ui->OptionAction)->setObjectName("OptionButton");
    ui->ToolBar->widgetForAction(ui->ChangePasswordAction)->setObjectName("ChangePasswordButton");
    ui->ToolBar->widgetForAction(ui->AboutAction)->setObjectName("HelpButton");
    ui->ToolBar->widgetForAction(ui->ExitAction)->setObjectName("ExitButton");
    LinkMenuItem(ui->ExitMenuItem, ui->ExitAction);
    LinkMenuItem(ui->OptionMenuItem, ui->OptionAction);
    LinkMenuItem(ui->T1, ui->TestAction);
    LinkMenuItem(ui->ChangePasswordMenuItem, ui->ChangePasswordAction);
    LinkMenuItem(ui->AboutMenuItem, ui->AboutAction);
    // Client area 857 x 442 below the menu bar, centred on the screen.
    resize(857, 442 + ui->MainMenu->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    OnEvent(ui->ExitAction, &QAction::triggered, this, &TMainForm::ExitActionExecute);
    OnEvent(ui->OptionAction, &QAction::triggered, this, &TMainForm::OptionActionExecute);
    OnEvent(ui->TestAction, &QAction::triggered, this, &TMainForm::TestActionExecute);
    OnEvent(ui->ChangePasswordAction, &QAction::triggered, this,
            &TMainForm::ChangePasswordActionExecute);
    OnEvent(ui->AboutAction, &QAction::triggered, this, &TMainForm::AboutActionExecute);

    Guarded(this, [this] { FormCreate(); });
}

TMainForm::~TMainForm() {
    Guarded(this, [this] { FormDestroy(); });
}

void TMainForm::ShowModal() {
    setWindowModality(Qt::ApplicationModal);
    show();
    QEventLoop loop;
    ModalLoop = &loop;
    loop.exec();
    ModalLoop = nullptr;
    hide();
}

void TMainForm::FormCreate() {
    // The date and time texts of the service ("yyyy-MM-dd", "hh:mm:ss") are
    // fixed in platform/datetime and follow no regional setting.
    const QString title = KindTitle(InterfaceKind.load());
    SetApplicationTitle(title);
    setWindowTitle(title);
    StartServer();
}

void TMainForm::FormDestroy() {
    StopServer();
}

bool TMainForm::FormCloseQuery() {
    return CheckPassword();
}

void TMainForm::StartServer() {
    const int kind = InterfaceKind.load();
    TCPServer = std::make_unique<TcpListener>();
    TCPServer->SetOnExecute(&TMainForm::TCPServerExecute);
    const int32_t port = KindPortNo(kind);
    ui->InfoMemo->appendPlainText(KindStartLine(kind));
    try {
        if (port < 0 || port > 65535)
            throw std::invalid_argument("Invalid port number " + std::to_string(port));
        TCPServer->SetPort(static_cast<uint16_t>(port));
        TCPServer->SetBacklog(15);
        TCPServer->Start();
    } catch (const std::exception& e) {
        // The error box may be on no screen (a service offscreen): the
        // failure, a port out of range as well as one that cannot be bound,
        // also goes to stderr and to the log.
        std::fprintf(stderr, "OstraDoorLock: cannot listen on port %d: %s\n",
                     static_cast<int>(port), e.what());
        std::fflush(stderr);
        LogWrite("接口监听服务器启动失败，端口 " + std::to_string(port) + ": " + e.what());
        throw;
    }
    // What the program listens on, for whoever started it.
    std::printf("OstraDoorLock: listening on port %u (all local IPv4 addresses)\n",
                static_cast<unsigned>(TCPServer->BoundPort()));
    std::fflush(stdout);
}

void TMainForm::StopServer() {
    if (!TCPServer) return;
    TCPServer->Stop();
    ui->InfoMemo->appendPlainText(QStringLiteral("接口监听服务器已经停止。"));
}

void TMainForm::TCPServerExecute(TcpConnection& Connection) {
    TRequestGate::Pass pass(RequestGate());
    if (!pass.Admitted()) {
        Connection.Close();
        return;
    }
    const int kind = InterfaceKind.load();
    std::function<bool()> keepOpen;
    if (kind == KindDoorlock) keepOpen = [] { return KeepClientConnection.load(); };
    RunRequestStep(
        Connection, [kind] { return CreateMessageHandler(kind); }, keepOpen);
}

uint16_t TMainForm::ListenerPort() const {
    return TCPServer && TCPServer->Active() ? TCPServer->BoundPort() : 0;
}

void TMainForm::closeEvent(QCloseEvent* Event) {
    bool canClose = false;
    Guarded(this, [&] { canClose = FormCloseQuery(); });
    if (!canClose) {
        Event->ignore();
        return;
    }
    Event->accept();
    if (ModalLoop) ModalLoop->quit();
}

void TMainForm::ExitActionExecute() {
    close();
}

void TMainForm::OptionActionExecute() {
    if (!CheckPassword()) return;
    switch (InterfaceKind.load()) {
        case KindDoorlock:
            if (TBaseDoorlock* lock = Doorlock.load()) lock->ShowOptionForm();
            break;
        case KindPolice:
            if (TBasePolice* police = Police.load()) police->ShowOptionForm();
            break;
        case KindMember:
            if (TBaseMember* member = Member.load()) member->ShowOptionForm();
            break;
        case KindHand:
            if (TBaseHand* hand = Hand.load()) hand->ShowOptionForm();
            break;
        default:
            break;
    }
}

void TMainForm::TestActionExecute() {
    switch (InterfaceKind.load()) {
        case KindDoorlock:
            if (Doorlock.load()) ShowDoorlockTestForm();
            break;
        case KindPolice:
            if (TBasePolice* police = Police.load()) {
                // Without a guest there is no Guest element to show; say so instead.
                const TGuest* guest = police->GetGuest();
                const QString text = guest ? QString::fromStdString(GuestToXml(*guest))
                                           : QStringLiteral("当前没有客人");
                MessageBoxes().Show(this, text, ApplicationTitle(), TMsgIcon::None);
            }
            break;
        case KindMember:
            if (Member.load()) ShowMemberTestForm();
            break;
        case KindHand:
            if (Hand.load()) ShowHandTestForm();
            break;
        default:
            break;
    }
}

void TMainForm::ChangePasswordActionExecute() {
    if (CheckPassword()) ShowChangePasswordForm();
}

void TMainForm::AboutActionExecute() {
    ShowAboutForm(InterfaceKind.load());
}

}  // namespace ostra
