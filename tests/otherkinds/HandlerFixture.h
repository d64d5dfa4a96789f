// A listener on a free loopback port that serves each connection with one
// request to a handler of the kind under test, as the main window does for
// kinds 2 to 4; the service log recorded in memory; the test device
// registered for the test and cleared after it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "otherkinds/core/DeviceRegistryUnit.h"
#include "platform/net/TcpListener.h"
#include "service/core/LogFileUnit.h"
#include "tests/otherkinds/FakeDevices.h"
#include "tests/support/FrontDesk.h"

namespace ostra::test {

using testsupport::ExchangeToEnd;
using testsupport::TExchange;
using testsupport::TFrontDeskClient;

// Keeps every entry instead of writing a file. Connection threads write while
// the test reads: guarded by a mutex.
class TRecordingLog : public LogWriter {
  public:
    TRecordingLog() : LogWriter("", {}, IoErrors::Swallow) {}
    void Write(std::string_view Text) override {
        std::lock_guard<std::mutex> guard(lock_);
        entries_.emplace_back(Text);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> guard(lock_);
        return entries_;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        entries_.clear();
    }

  private:
    mutable std::mutex lock_;
    std::vector<std::string> entries_;
};

inline std::string Received(const std::string& Request) {
    return "收到消息: \r\n" + Request;
}
inline std::string Framed(const std::string& Reply) {
    return Reply + std::string(1, '\0');
}

template <typename THandler, typename TDevice>
class THandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousLog_ = SetLogFile(&log_);
        auto device = std::make_unique<TDevice>();
        device_ = device.get();
        RegisterDevice(std::move(device));
        listener_.SetPort(0);
        listener_.SetOnExecute([](TcpConnection& Connection) {
            RunRequestStep(Connection,
                           [] { return std::unique_ptr<IMessageHandler>(new THandler); }, {});
        });
        listener_.Start();
    }
    void TearDown() override {
        listener_.Stop();
        ClearDevices();
        SetLogFile(previousLog_);
    }

    // One request on a fresh connection; the service must close it.
    std::string Ask(const std::string& Request) {
        const TExchange exchange =
            ExchangeToEnd(listener_.BoundPort(), Request + std::string(1, '\0'));
        EXPECT_TRUE(exchange.ClosedByPeer) << "the service left the connection open";
        return exchange.Reply;
    }
    // Asks with the log emptied first; returns the reply, fills Log.
    std::string AskFresh(const std::string& Request) {
        log_.Clear();
        std::string reply = Ask(Request);
        Log = log_.Entries();
        return reply;
    }
    void RemoveDevice() {
        ClearDevices();
        device_ = nullptr;
    }
    uint16_t Port() const { return listener_.BoundPort(); }
    // Waits until no connection thread runs any more.
    void WaitIdle() const {
        while (listener_.ConnectionCount() != 0) std::this_thread::yield();
    }
    // Sends Request on a connection that is reset while the device holds the
    // request, so that writing the reply fails; returns when the handler is done.
    void AskAndVanish(const std::string& Request) {
        TFrontDeskClient client(Port());
        // The device takes its own lock, then the gate; the test never holds
        // both, so the two are always taken in that one order.
        std::mutex gate;
        {
            auto g = device_->Lock();
            device_->Hook = [&gate] { std::lock_guard<std::mutex> wait(gate); };
        }
        std::unique_lock<std::mutex> held(gate);
        log_.Clear();
        client.Send(Request + std::string(1, '\0'));
        while (log_.Entries().empty()) std::this_thread::yield();  // request read
        client.Reset();
        held.unlock();
        WaitIdle();
        auto g = device_->Lock();
        device_->Hook = nullptr;
    }

    TDevice* device_ = nullptr;
    std::vector<std::string> Log;
    TRecordingLog log_;

  private:
    LogWriter* previousLog_ = nullptr;
    TcpListener listener_;
};

}  // namespace ostra::test
