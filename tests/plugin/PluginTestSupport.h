// Helpers of the plug-in's tests: a lock that records its calls, the
// library's globals set up for one test, a socket pair, the requests and
// replies of the protocol, and a real host process (KestraneHost) that loads
// libKestrane.so.
#pragma once

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/datetime/DateTime.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/LogFileUnit.h"
#include "plugin/PluginDoorlockUnit.h"
#include "plugin/RegionalSettingsUnit.h"
#include "plugin/SysOptionsUnit.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

namespace ostra::kestrane::testing {

using testsupport::BinDir;
using testsupport::Connect;
using testsupport::ExchangeToEnd;
using testsupport::FreePort;
using testsupport::ReadFile;
using testsupport::TBusyPort;
using testsupport::TestLocaleDir;
using testsupport::TTempDir;
using testsupport::WriteFile;

// A lock that records every call ("WriteCard|..." with the dates as
// "yyyy-mm-dd hh:nn:ss") and answers as told. Safe from several threads.
class TRecordingLock final : public TBaseDoorlock {
  public:
    bool WriteOk = true, ReadOk = true, EraseOk = true;
    int64_t WriteCardNo = 1234, ReadCardNo = 4321;  // left in CardNo when not 0

    void ShowOptionForm() override { Record("ShowOptionForm"); }
    bool OpenPort() override { return Record("OpenPort"), true; }
    void Beep() override { Record("Beep"); }
    bool ClosePort() override { return Record("ClosePort"), true; }
    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, TDateTime BeginDate,
                   TDateTime BeginTime, TDateTime EndDate, TDateTime EndTime,
                   int64_t& CardNo) override {
        Record("WriteCard|" + RegisterId + "|" + BuildingCode + "|" + FloorCode + "|" + RoomNo +
               "|" + GuestName + "|" + Stamp(BeginDate) + "|" + Stamp(BeginTime) + "|" +
               Stamp(EndDate) + "|" + Stamp(EndTime));
        if (WriteCardNo) CardNo = WriteCardNo;
        return WriteOk;
    }
    bool ReadCard(int64_t& CardNo) override {
        Record("ReadCard");
        if (ReadCardNo) CardNo = ReadCardNo;
        return ReadOk;
    }
    bool EraseCard() override { return Record("EraseCard"), EraseOk; }

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> g(Lock);
        return Calls_;
    }
    static std::string Stamp(TDateTime Value) {
        return FormatDateTime("yyyy-mm-dd hh:nn:ss", Value);
    }

  private:
    void Record(const std::string& Call) {
        std::lock_guard<std::mutex> g(Lock);
        Calls_.push_back(Call);
    }
    mutable std::mutex Lock;
    std::vector<std::string> Calls_;
};

// The library's globals for one test: settings in a private directory, a log
// there, year-first regional settings, and the given lock (or none). Puts
// back empty globals at the end.
class TLibraryGlobals {
  public:
    explicit TLibraryGlobals(TBaseDoorlock* Lock, int32_t DelayMinutes = 0)
        : Options(Dir.File("Option.ini")),
          Log(std::make_unique<TLogFile>(Dir.File("20080501.LOG"))) {
        Options.DelayMinutes = DelayMinutes;
        SysOptions = &Options;
        LogFile = Log.get();
        UserRegionalSettings = RegionalSettingsFromFormats("%Y-%m-%d", "%H:%M:%S");
        Doorlock = Lock;
    }
    ~TLibraryGlobals() {
        Doorlock = nullptr;
        LogFile = nullptr;
        SysOptions = nullptr;
        UserRegionalSettings = TRegionalSettings{};
    }
    std::string LogText() const { return ReadFile(Log->FileName()); }
    // The log's entries without their time stamps.
    std::vector<std::string> LogEntries() const {
        std::vector<std::string> entries;
        const std::string text = LogText();
        // Every entry begins with "yyyy-mm-dd hh:nn:ss " at the start of a line.
        size_t pos = 0;
        while (pos < text.size()) {
            size_t next = pos;
            do {
                next = text.find("\r\n", next);
                if (next == std::string::npos) {
                    next = text.size();
                    break;
                }
                next += 2;
            } while (next < text.size() && !IsStamp(text.substr(next, 20)));
            std::string entry = text.substr(pos, next - pos);
            if (entry.size() >= 22) entries.push_back(entry.substr(20, entry.size() - 22));
            pos = next;
        }
        return entries;
    }

    TTempDir Dir;
    TSysOptions Options;
    std::unique_ptr<TLogFile> Log;

  private:
    static bool IsStamp(const std::string& s) {
        return s.size() == 20 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' &&
               s[16] == ':' && s[19] == ' ';
    }
};

// A connected pair of stream sockets: Ours() goes to a TcpConnection, the
// other end is read and written by the test as the client.
class TSocketPair {
  public:
    TSocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, Fds); }
    ~TSocketPair() {
        if (Fds[1] >= 0) ::close(Fds[1]);
    }
    int TakeOurs() {
        const int fd = Fds[0];
        Fds[0] = -1;
        return fd;
    }
    int Client() const { return Fds[1]; }
    // Everything the client receives until the other end is closed.
    std::string ReceiveAll() const {
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(Fds[1], buffer, sizeof buffer, 0)) > 0;)
            all.append(buffer, static_cast<size_t>(n));
        return all;
    }

  private:
    int Fds[2] = {-1, -1};
};

// A DoorRequest of type IssueCard with the given children after position 0.
inline std::string IssueRequest(const std::vector<std::string>& Children) {
    std::string xml = "<DoorRequest type=\"IssueCard\"><RequestID/>";
    char name = 'a';
    for (const std::string& c : Children) {
        xml += std::string("<") + name + ">" + c + "</" + name + ">";
        ++name;
    }
    return xml + "</DoorRequest>";
}

inline std::vector<std::string> NineChildren(const std::string& CheckInDate = "2008-05-01",
                                             const std::string& CheckInTime = "14:00:00",
                                             const std::string& CheckOutDate = "2008-05-03",
                                             const std::string& CheckOutTime = "12:00:00") {
    return {"R1", "00", "01", "0101", "张三", CheckInDate, CheckInTime, CheckOutDate, CheckOutTime};
}

inline std::string DoorResponse(const std::string& Code, const std::string& Message,
                                int64_t CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>" + std::string(1, '\0');
}

// A real host process (KestraneHost) that loads libKestrane.so, driven over
// its standard input and read from its standard output. Each host runs from
// a private directory holding a copy of the program, so that "Option.ini"
// and the log file sit beside its executable.
//
// Threads: the test thread calls the public members; one reader thread takes
// the host's output lines, and Lock guards what the two share.
class THostProcess {
  public:
    // Generous: only a hung host makes a wait run out.
    static constexpr std::chrono::seconds Patience{60};

    // TimeLocale: the host's LC_TIME, one of the locales made for the tests.
    THostProcess(const std::string& Dir, std::vector<std::string> Args,
                 const std::string& TimeLocale = "sv_SE.UTF-8")
        : Dir(Dir), Child(CopyProgram(Dir), Options(Dir, std::move(Args), TimeLocale)) {
        ::signal(SIGPIPE, SIG_IGN);  // a host that died must fail the test, not end it
        Reader = std::thread([this] { ReadOutput(); });
    }

    ~THostProcess() {
        if (Child.Pid() > 0) {
            Send("quit");
            Finish();
        }
        if (Reader.joinable()) Reader.join();
    }

    void Send(const std::string& Command) {
        const std::string line = Command + "\n";
        if (Child.Input() >= 0) (void)!::write(Child.Input(), line.data(), line.size());
    }

    // The next line (after those already taken) that starts with Prefix;
    // lines before it are skipped. Empty when none comes.
    std::string WaitFor(const std::string& Prefix) {
        std::unique_lock<std::mutex> g(Lock);
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        for (;;) {
            while (Cursor < Lines.size()) {
                const std::string& line = Lines[Cursor++];
                if (line.rfind(Prefix, 0) == 0) return line;
            }
            if (Ended || Changed.wait_until(g, deadline) == std::cv_status::timeout) {
                if (Cursor >= Lines.size()) return "";
            }
        }
    }

    // Every line received so far.
    std::vector<std::string> AllLines() {
        std::lock_guard<std::mutex> g(Lock);
        return Lines;
    }

    // Sends "ping" and waits for the answer: every command before it is done.
    bool Sync() { return Send("ping"), WaitFor("pong") == "pong"; }

    // The TCP ports the host listens on now: the library's listener while it
    // is on, nothing otherwise.
    std::vector<uint16_t> ListeningPorts() { return testsupport::ListeningPorts(Child.Pid()); }

    // Closes the input and waits for the end; a host still running after
    // Patience is killed. The last lines of the host's logs come with the
    // end (its standard error is this process's own).
    testsupport::TChildEnd Finish() {
        testsupport::TChildEnd End = Child.Finish(Patience);
        End.Details = testsupport::LogTails(Dir, 20);
        return End;
    }

  private:
    static std::string CopyProgram(const std::string& Dir) {
        const std::string exe = Dir + "KestraneHost";
        std::filesystem::copy_file(BinDir() + "/KestraneHost", exe,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
        return exe;
    }
    // The caller's environment with the locale for dates (by default the
    // year-first sv_SE; LC_ALL would override it) from the test locales,
    // offscreen Qt, and the library's folder.
    static testsupport::TChildOptions Options(const std::string& Dir, std::vector<std::string> Args,
                                              const std::string& TimeLocale) {
        testsupport::TChildOptions options;
        options.Args = {"--commands"};
        options.Args.insert(options.Args.end(), Args.begin(), Args.end());
        options.Unset = {"LC_ALL"};
        options.Set = {"LC_TIME=" + TimeLocale, "LOCPATH=" + TestLocaleDir(),
                       "QT_QPA_PLATFORM=offscreen", "LD_LIBRARY_PATH=" + BinDir()};
        options.WorkDir = Dir;
        options.Pipes = true;
        return options;
    }

    void ReadOutput() {
        std::string pending;
        char buffer[4096];
        for (ssize_t n; (n = ::read(Child.Output(), buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, static_cast<size_t>(n));
            std::lock_guard<std::mutex> g(Lock);
            for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
                Lines.push_back(pending.substr(0, eol));
                pending.erase(0, eol + 1);
            }
            Changed.notify_all();
        }
        std::lock_guard<std::mutex> g(Lock);
        Ended = true;
        Changed.notify_all();
    }

    const std::string Dir;
    testsupport::TChildProcess Child;
    std::thread Reader;
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Lines;
    size_t Cursor = 0;
    bool Ended = false;
};

}  // namespace ostra::kestrane::testing
