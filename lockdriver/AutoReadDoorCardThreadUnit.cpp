#include "lockdriver/AutoReadDoorCardThreadUnit.h"

#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "lockdriver/CardTexts.h"
#include "lockdriver/LockDriverUi.h"
#include "service/core/BaseDoorlockUnit.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

namespace {

// The running threads; guarded by RunningMutex.
std::mutex RunningMutex;
std::vector<std::unique_ptr<TAutoReadDoorCard>>& Running() {
    static std::vector<std::unique_ptr<TAutoReadDoorCard>> Threads;
    return Threads;
}

// While the lock object is not yet published, look again this often.
constexpr int kUnpublishedLockWaitMs = 50;

}  // namespace

void TAutoReadDoorCard::Create() {
    std::unique_ptr<TAutoReadDoorCard> Thread(new TAutoReadDoorCard());
    Thread->ConnectPms();
    TAutoReadDoorCard* Self = Thread.get();
    std::lock_guard<std::mutex> Guard(RunningMutex);
    Self->FThread = std::thread([Self] { Self->Execute(); });
    Running().push_back(std::move(Thread));
}

TAutoReadDoorCard::~TAutoReadDoorCard() {
    Terminate();
    if (FThread.joinable()) FThread.join();
}

void TAutoReadDoorCard::ConnectPms() {
    try {
        PmsClient.Host = SysOption ? SysOption->PmsServer : std::string("127.0.0.1");
        const int32_t Port = SysOption ? SysOption->PmsServerPort : 9873;
        if (Port < 0 || Port > 65535)
            throw std::runtime_error("Invalid port " + std::to_string(Port));
        PmsClient.Port = static_cast<uint16_t>(Port);
        PmsClient.Connect();
    } catch (const std::exception& Error) {
        const std::string Text = std::string("PMS客户端未启动或者连接不正确") + Error.what();
        if (ILockDriverUi* Ui = LockDriverUi()) Ui->ShowError(Text);
        LogWrite(Text);
    }
}

void TAutoReadDoorCard::Execute() {
    if (WaitForStop(500)) return;
    LastCardNo = 0;
    while (!FTerminated.load()) {
        TBaseDoorlock* Lock = Doorlock.load();
        if (Lock == nullptr) {
            // Start-up has not published the lock object yet: nothing to read.
            LastCardNo = 0;
            if (WaitForStop(kUnpublishedLockWaitMs)) return;
            continue;
        }
        if (Lock->ReadCard(CardNo)) {
            if (CardNo != LastCardNo) SendCardNo();
            LastCardNo = CardNo;
        } else {
            LastCardNo = 0;
        }
    }
}

void TAutoReadDoorCard::SendCardNo() {
    try {
        // A stop at program exit must not wait for a front desk that never answers.
        if (!PmsClient.Connected()) PmsClient.Connect([this] { return FTerminated.load(); });
        const std::string Text = ZeltRequestText(CardNo);
        LogWrite("发送读卡信息给pms:" + Text);
        PmsClient.Send(Text);
        LogWrite("发送完毕!");
        PmsClient.Disconnect();
    } catch (const std::exception& Error) {
        LogWrite(Error.what());
        PmsClient.Disconnect();
    }
}

bool TAutoReadDoorCard::WaitForStop(int Milliseconds) {
    std::unique_lock<std::mutex> Guard(FSleepMutex);
    return FWake.wait_for(Guard, std::chrono::milliseconds(Milliseconds),
                          [this] { return FTerminated.load(); });
}

void TAutoReadDoorCard::Terminate() {
    {
        std::lock_guard<std::mutex> Guard(FSleepMutex);
        FTerminated.store(true);
    }
    FWake.notify_all();
}

void StopAutoReadDoorCards() {
    std::vector<std::unique_ptr<TAutoReadDoorCard>> Stopping;
    {
        std::lock_guard<std::mutex> Guard(RunningMutex);
        Stopping.swap(Running());
    }
    // Ask all first, so they wind down together, then wait for each.
    for (auto& Thread : Stopping) Thread->Terminate();
    Stopping.clear();
}

std::size_t AutoReadDoorCardCount() {
    std::lock_guard<std::mutex> Guard(RunningMutex);
    return Running().size();
}

}  // namespace ostra
