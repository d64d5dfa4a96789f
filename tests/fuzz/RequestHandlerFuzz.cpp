// Door-lock requests through TDoorlockMessageHandler with a test lock.
//
// The input is the request's bytes (up to the first 0x00, as the reader would
// hand them over). The input's length picks the settings, so every seed runs
// in a known mode and the fuzzer reaches the others by growing or shrinking:
//   bit 0  UseNativeDoorlockDb     bit 1  SaveDoorlockRecord
//   bit 2  the lock fails          bit 3  no lock object at all
//
// What must hold, whatever the request:
// - the first log line is "收到消息: \r\n" and the request;
// - a request the handler gives up on sends nothing, logs nothing after
//   "执行操作->" and leaves the keep-connection flag alone;
// - any other request ends its log with "返回数据:" and the reply text, then
//   "完成一次操作"; the bytes sent are that text and exactly one 0x00, and the
//   text is one of the six replies (or, sending nothing, the empty reply of
//   an unknown operation, with no card operation run);
// - the result line matches the reply, the lock was asked once, and only an
//   issue may touch the keep-connection flag.
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "lockdriver/CardTexts.h"
#include "platform/text/CodePage.h"
#include "service/core/BaseDoorlockUnit.h"
#include "service/core/DoorlockMessageHandlerUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/KeepClientConnection.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "tests/fuzz/FuzzEntries.h"
#include "tests/support/DoorRequests.h"

namespace ostra::fuzz {

namespace {

using testsupport::DoorReply;

constexpr int64_t kLockCardNo = 1715004;  // 0x1A2B3C

class CapturedLog : public LogWriter {
  public:
    CapturedLog() : LogWriter("", {}, IoErrors::Swallow) {}
    void Write(std::string_view Text) override { Lines.emplace_back(Text); }
    std::vector<std::string> Lines;
};

// The record database in memory: enough for the begin-time rules.
class MemoryRecords : public TDoorlockRecordManager {
  public:
    TDateTime GetLastCheckInTime(const std::string& RoomNo) override {
        return RoomNo == Room ? Time : 0;
    }
    void UpdateLastCheckInTime(const std::string& RoomNo, TDateTime Value) override {
        Expect(std::isfinite(Value), "record database given a begin time that is not finite");
        Room = RoomNo;
        Time = Value;
    }
    void InsertRoom(const std::string& RoomNo, TDateTime Value) override {
        UpdateLastCheckInTime(RoomNo, Value);
    }
    void InsertIssueCardRecord(const std::string&, const std::string& CardNo, const std::string&,
                               int32_t CardType, TDateTime LastCheckIn, TDateTime CheckIn,
                               TDateTime CheckOut, bool, const std::string&, TDateTime) override {
        Expect(CardType == 1, "issue record with a card type other than 1");
        Expect(!CardNo.empty(), "issue record without a card number");
        Expect(std::isfinite(LastCheckIn) && std::isfinite(CheckIn) && std::isfinite(CheckOut),
               "issue record with a time that is not finite");
        ++Records;
    }
    std::string Room;
    TDateTime Time = 0;
    int Records = 0;
};

// Reads the card's values as the real driver does: building and floor codes
// as integers, the end text from the end date and time, so odd codes and
// dates reach those conversions too.
class FuzzLock : public TBaseDoorlock {
  public:
    bool WriteCard(std::string, std::string BuildingCode, std::string FloorCode, std::string,
                   std::string, TDateTime BeginDate, TDateTime BeginTime, TDateTime EndDate,
                   TDateTime EndTime, bool, int64_t& CardNo) override {
        ++Issues;
        for (const std::string& code : {BuildingCode, FloorCode}) {
            try {
                const int32_t n = CodeToInt(code);
                Expect(CodeToInt(std::to_string(n)) == n, "a code does not read back: " + code);
            } catch (const EConvertError&) {
                // The driver refuses the issue; the handler reports failure.
            }
        }
        Expect(BeginDate == BeginTime, "begin date and begin time differ");
        Expect(EndDate == EndTime, "end date and end time differ");
        Expect(std::isfinite(BeginDate) && std::isfinite(EndDate), "card time not finite");
        const std::string end = CardEndText(EndDate, EndTime);
        Expect(!end.empty(), "empty card end text");
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

bool StartsWith(const std::string& s, const std::string& p) {
    return s.compare(0, p.size(), p) == 0;
}
bool EndsWith(const std::string& s, const std::string& p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

}  // namespace

void RequestHandler(const uint8_t* Data, size_t Size) {
    static TSysOption options = [] {
        TSysOption o("");
        o.DelayMinutes = 30;
        o.DelayMinutes2 = 60;
        return o;
    }();
    static CapturedLog log;
    SetSysOption(&options);
    SetLogFile(&log);
    log.Lines.clear();

    MemoryRecords records;
    FuzzLock lock;
    options.UseNativeDoorlockDb = (Size & 1) != 0;
    options.SaveDoorlockRecord = (Size & 2) != 0;
    lock.Succeed = (Size & 4) == 0;
    const bool haveLock = (Size & 8) == 0;
    SetRecordManager(&records);
    Doorlock.store(haveLock ? &lock : nullptr);

    std::string bytes(reinterpret_cast<const char*>(Data), Size);
    bytes = bytes.substr(0, bytes.find('\0'));
    // Decoded as the connection step does: malformed bytes reach the handler
    // as U+FFFD.
    const std::string text = DecodeUtf8(bytes);
    Expect(IsValidUtf8(text), "decoded request is not UTF-8");

    int fds[2];
    Expect(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair failed");
    const int peer = fds[1];
    const bool keepBefore = (Size & 16) != 0;
    KeepClientConnection.store(keepBefore);
    bool threw = false;
    std::string received;
    {
        TcpConnection connection(fds[0]);
        try {
            TDoorlockMessageHandler handler;
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
    const bool keepAfter = KeepClientConnection.load();
    Doorlock.store(nullptr);
    SetRecordManager(nullptr);
    const std::vector<std::string> lines = log.Lines;

    Expect(!lines.empty() && lines[0] == "收到消息: \r\n" + text,
           "first log line is not the request");
    if (threw) {
        Expect(received.empty(), "a request given up on sent bytes");
        Expect(lines.size() <= 2, "a request given up on logged past its operation line");
        if (lines.size() == 2) Expect(lines[1] == "执行操作->", "second log line");
        Expect(keepAfter == keepBefore, "a request given up on changed the keep flag");
        return;
    }

    Expect(lines.size() >= 4, "a handled request logged fewer than four lines");
    Expect(lines[1] == "执行操作->", "second log line is not the operation line");
    Expect(lines.back() == "完成一次操作", "last log line");
    const std::string& logged = lines[lines.size() - 2];
    Expect(StartsWith(logged, "返回数据:"), "reply log line");
    const std::string reply = logged.substr(std::string("返回数据:").size());

    if (received.empty()) {
        Expect(reply == DoorReply("", "", 0), "nothing sent, but the logged reply is not empty");
        Expect(lines.size() == 4, "an unknown operation logged a result");
        Expect(lock.Issues + lock.Reads + lock.Erases == 0, "an unknown operation ran the lock");
        Expect(keepAfter == keepBefore, "an unknown operation changed the keep flag");
        return;
    }

    Expect(received == reply + '\0', "sent bytes are not the logged reply and one 0x00");
    Expect(IsValidUtf8(received.substr(0, received.size() - 1)), "reply is not UTF-8");
    Expect(lines.size() == 5, "a handled request logged other than five lines");
    const std::string& result = lines[2];
    const int64_t issuedNo = haveLock ? kLockCardNo : 0;
    const int calls = haveLock ? 1 : 0;

    if (reply == DoorReply("200", "发卡成功", kLockCardNo) ||
        reply == DoorReply("500", "发卡失败", issuedNo)) {
        const bool ok = reply[reply.find("<ResultCode>") + 12] == '2';
        Expect(ok == (haveLock && lock.Succeed), "issue result does not follow the lock");
        Expect(StartsWith(result, "房间(") && EndsWith(result, ok ? ")发卡成功" : ")发卡失败"),
               "issue result line");
        Expect(lock.Issues == calls && lock.Reads + lock.Erases == 0, "issue ran the lock wrongly");
        Expect(records.Records == (options.SaveDoorlockRecord ? 1 : 0),
               "issue record count does not follow SaveDoorlockRecord");
        return;
    }
    Expect(keepAfter == keepBefore, "an operation other than an issue changed the keep flag");
    if (reply == DoorReply("200", "读卡成功", kLockCardNo) ||
        reply == DoorReply("500", "读卡失败", 0)) {
        const bool ok = haveLock && lock.Succeed;
        Expect(reply == (ok ? DoorReply("200", "读卡成功", kLockCardNo)
                            : DoorReply("500", "读卡失败", 0)),
               "read result does not follow the lock");
        Expect(result == (ok ? "读卡成功，卡号为：" + std::to_string(kLockCardNo) : "读卡失败"),
               "read result line");
        Expect(lock.Reads == calls && lock.Issues + lock.Erases == 0, "read ran the lock wrongly");
        return;
    }
    if (reply == DoorReply("200", "注销卡成功 ", 0) ||
        reply == DoorReply("500", "注销卡失败 ", 0)) {
        const bool ok = haveLock && lock.Succeed;
        Expect(
            reply == (ok ? DoorReply("200", "注销卡成功 ", 0) : DoorReply("500", "注销卡失败 ", 0)),
            "erase result does not follow the lock");
        Expect(result == (ok ? "注销卡成功" : "注销卡失败"), "erase result line");
        Expect(lock.Erases == calls && lock.Issues + lock.Reads == 0, "erase ran the lock wrongly");
        return;
    }
    Expect(false, "reply is none of the six forms: " + reply);
}

}  // namespace ostra::fuzz
