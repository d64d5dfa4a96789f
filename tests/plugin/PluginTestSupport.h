// Helpers of the plug-in's tests: a private directory, a lock that records
// its calls, the library's globals set up for one test, and loopback sockets.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/datetime/DateTime.h"
#include "plugin/DoorlockGlobal.h"
#include "plugin/LogFileUnit.h"
#include "plugin/PluginDoorlockUnit.h"
#include "plugin/RegionalSettingsUnit.h"
#include "plugin/SysOptionsUnit.h"

namespace ostra::kestrane::testing {

// A fresh directory under the system's temporary directory, removed at the end.
class TTempDir {
  public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrane-test-XXXXXX").string();
        Path_ = ::mkdtemp(pattern.data());
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(Path_, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    // With a trailing "/".
    std::string Dir() const { return Path_.string() + "/"; }
    std::string File(const std::string& Name) const { return (Path_ / Name).string(); }

  private:
    std::filesystem::path Path_;
};

// The folder of the locales made for the tests at build time (sv_SE.UTF-8,
// zh_CN.GB18030): a process finds them with LOCPATH set to it.
inline std::string TestLocaleDir() {
    if (const char* dir = std::getenv("OSTRA_LOCALE_DIR"); dir && *dir) return dir;
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../locales").string();
}

inline std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& Path, const std::string& Text) {
    std::ofstream(Path, std::ios::binary) << Text;
}

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

}  // namespace ostra::kestrane::testing
