// Door-lock requests through the plug-in's handler (Kestrane) with a test lock.
//
// The input is the request's bytes (up to the first 0x00). Its length picks
// the mode: bits 0-1 the regional date settings the request's dates are read
// with (sv_SE, en_US, de_DE, the C locale), bit 2 a failing lock, bit 3 no
// lock object.
//
// What must hold: the first log entry is the request; a request the handler
// gives up on sends nothing and logs nothing more; an unknown operation logs
// nothing more and sends nothing; every other request logs exactly one
// result line that matches its reply, and sends that reply (one of the six)
// followed by exactly one 0x00.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/net/TcpListener.h"
#include "platform/text/CodePage.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/LogFileUnit.h"
#include "plugin/MessageHandlerUnit.h"
#include "plugin/RegionalSettingsUnit.h"
#include "plugin/SysOptionsUnit.h"
#include "tests/fuzz/FuzzEntries.h"
#include "tests/support/DoorRequests.h"

namespace ostra::fuzz {

namespace {

using testsupport::DoorReply;

constexpr int64_t kLockCardNo = 4660;

class CapturedLog : public LogWriter {
  public:
    CapturedLog() : LogWriter("", {}, IoErrors::Raise) {}
    void Write(std::string_view Text) override { Lines.emplace_back(Text); }
    std::vector<std::string> Lines;
};

class FuzzLock : public kestrane::TBaseDoorlock {
  public:
    bool WriteCard(std::string, std::string, std::string, std::string, std::string,
                   kestrane::TDateTime BeginDate, kestrane::TDateTime BeginTime,
                   kestrane::TDateTime EndDate, kestrane::TDateTime EndTime,
                   int64_t& CardNo) override {
        ++Issues;
        Expect(BeginDate == BeginTime && EndDate == EndTime,
               "begin or end passed twice differently");
        Expect(std::isfinite(BeginDate) && std::isfinite(EndDate), "card time not finite");
        CardNo = kLockCardNo;
        return Succeed;
    }
    bool ReadCard(int64_t& CardNo) override {
        ++Reads;
        CardNo = kLockCardNo;
        return Succeed;
    }
    bool EraseCard() override {
        ++Erases;
        return Succeed;
    }
    bool Succeed = true;
    int Issues = 0, Reads = 0, Erases = 0;
};

}  // namespace

void PluginRequest(const uint8_t* Data, size_t Size) {
    static const kestrane::TRegionalSettings kSettings[] = {
        kestrane::RegionalSettingsFromFormats("%Y-%m-%d", "%H:%M:%S"),
        kestrane::RegionalSettingsFromFormats("%m/%d/%Y", "%r"),
        kestrane::RegionalSettingsFromFormats("%d.%m.%Y", "%T"),
        kestrane::RegionalSettingsFromFormats("%m/%d/%y", "%H:%M:%S"),
    };
    static kestrane::TSysOptions options = [] {
        kestrane::TSysOptions o("");
        o.DelayMinutes = 30;
        return o;
    }();
    static CapturedLog log;
    kestrane::SysOptions = &options;
    kestrane::LogFile = &log;
    kestrane::UserRegionalSettings = kSettings[Size & 3];
    log.Lines.clear();

    FuzzLock lock;
    lock.Succeed = (Size & 4) == 0;
    const bool haveLock = (Size & 8) == 0;
    kestrane::Doorlock.store(haveLock ? &lock : nullptr);

    std::string bytes(reinterpret_cast<const char*>(Data), Size);
    bytes = bytes.substr(0, bytes.find('\0'));
    const std::string text = DecodeUtf8(bytes);  // as the connection step decodes it

    int fds[2];
    Expect(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair failed");
    const int peer = fds[1];
    bool threw = false;
    std::string received;
    {
        TcpConnection connection(fds[0]);
        try {
            kestrane::TMessageHandler handler;
            handler.HandleMessage(connection, text);
        } catch (const PropertyViolation&) {
            ::close(peer);
            throw;
        } catch (const std::exception&) {
            threw = true;
        }
        received = Drain(peer);
    }
    ::close(peer);
    kestrane::Doorlock.store(nullptr);
    const std::vector<std::string> lines = log.Lines;
    const int calls = lock.Issues + lock.Reads + lock.Erases;

    Expect(!lines.empty() && lines[0] == "收到消息: \r\n" + text,
           "first log entry is not the request");
    if (threw || received.empty()) {
        Expect(received.empty(), "a request given up on sent bytes");
        Expect(lines.size() == 1, "a request without a reply logged more than the request");
        if (!threw) Expect(calls == 0, "an unknown operation ran the lock");
        return;
    }
    Expect(lines.size() == 2, "a handled request logged other than two entries");
    Expect(received.back() == '\0' && received.find('\0') == received.size() - 1,
           "reply not ended by exactly one 0x00");
    const std::string reply = received.substr(0, received.size() - 1);
    const std::string& result = lines[1];
    const bool ok = haveLock && lock.Succeed;
    const int expectedCalls = haveLock ? 1 : 0;

    if (reply == DoorReply("200", "发卡成功", kLockCardNo) ||
        reply == DoorReply("500", "发卡失败", haveLock ? kLockCardNo : 0)) {
        Expect(reply == (ok ? DoorReply("200", "发卡成功", kLockCardNo)
                            : DoorReply("500", "发卡失败", haveLock ? kLockCardNo : 0)),
               "issue result does not follow the lock");
        const std::string tail = ok ? ")发卡成功" : ")发卡失败";
        Expect(result.rfind("房间(", 0) == 0 && result.size() >= tail.size() &&
                   result.compare(result.size() - tail.size(), tail.size(), tail) == 0,
               "issue result line");
        Expect(lock.Issues == expectedCalls && calls == expectedCalls,
               "issue ran the lock wrongly");
        return;
    }
    if (reply == DoorReply("200", "读卡成功", kLockCardNo) ||
        reply == DoorReply("500", "读卡失败", 0)) {
        Expect(reply == (ok ? DoorReply("200", "读卡成功", kLockCardNo)
                            : DoorReply("500", "读卡失败", 0)),
               "read result does not follow the lock");
        Expect(result == (ok ? "读卡成功，卡号为：" + std::to_string(kLockCardNo) : "读卡失败"),
               "read result line");
        Expect(lock.Reads == expectedCalls && calls == expectedCalls, "read ran the lock wrongly");
        return;
    }
    if (reply == DoorReply("200", "注销卡成功", 0) || reply == DoorReply("500", "注销卡失败", 0)) {
        Expect(
            reply == (ok ? DoorReply("200", "注销卡成功", 0) : DoorReply("500", "注销卡失败", 0)),
            "erase result does not follow the lock");
        Expect(result == (ok ? "注销卡成功" : "注销卡失败"), "erase result line");
        Expect(lock.Erases == expectedCalls && calls == expectedCalls,
               "erase ran the lock wrongly");
        return;
    }
    Expect(false, "reply is none of the six forms: " + reply);
}

}  // namespace ostra::fuzz
