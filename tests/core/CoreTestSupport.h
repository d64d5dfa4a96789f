// Helpers shared by the core test suites: log entries, catching standard
// error, installing the service's globals for one test, a lock that
// succeeds, the record database and a connection over a socket pair.
#pragma once

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/datetime/DateTime.h"
#include "platform/net/TcpListener.h"
#include "service/core/BaseDoorlockUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/KeepClientConnection.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

namespace ostra::test {

using testsupport::ReadFile;
using testsupport::SourceDir;
using testsupport::TFrontDeskClient;
using testsupport::TTempDir;
using testsupport::WriteFile;

// The texts of a log file's entries, their "yyyy-mm-dd hh:nn:ss " prefix
// removed. An entry whose text holds CR LF continues on the following lines
// (which carry no prefix). On standard error the writer's line saying why
// its file cannot be written ("log file ...", LF-ended) is no entry and is left out.
inline std::vector<std::string> LogEntries(const std::string& Path) {
    const std::string all = ReadFile(Path);
    std::vector<std::string> entries;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find("\r\n", pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        pos = end + 2;
        for (size_t lf; line.rfind("log file ", 0) == 0 && (lf = line.find('\n')) != line.npos;)
            line.erase(0, lf + 1);
        const bool prefixed = line.size() >= 20 && line[4] == '-' && line[7] == '-' &&
                              line[10] == ' ' && line[13] == ':' && line[16] == ':' &&
                              line[19] == ' ';
        if (prefixed || entries.empty())
            entries.push_back(prefixed ? line.substr(20) : line);
        else
            entries.back() += "\r\n" + line;
    }
    return entries;
}

// Sends what this process writes to standard error into the file Path for
// as long as it lives (tests that capture must not run other threads that
// write there).
class StderrToFile {
  public:
    explicit StderrToFile(const std::string& Path) {
        std::fflush(stderr);
        Saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrToFile() {
        std::fflush(stderr);
        ::dup2(Saved_, STDERR_FILENO);
        ::close(Saved_);
    }
    StderrToFile(const StderrToFile&) = delete;
    StderrToFile& operator=(const StderrToFile&) = delete;

  private:
    int Saved_ = -1;
};

// Installs fresh settings, a log in a temporary folder, optionally a record
// database and a lock, for the length of one test; puts the old ones back.
class ServiceGlobals {
  public:
    ServiceGlobals() : Option(Dir / "Option.ini"), Log(Dir / "test.LOG") {
        OldOption_ = SetSysOption(&Option);
        OldLog_ = SetLogFile(&Log);
        OldRecords_ = SetRecordManager(nullptr);
        OldLock_ = Doorlock.exchange(nullptr);
        KeepClientConnection.store(false);
    }
    ~ServiceGlobals() {
        SetSysOption(OldOption_);
        SetLogFile(OldLog_);
        SetRecordManager(OldRecords_);
        Doorlock.store(OldLock_);
        KeepClientConnection.store(false);
    }
    std::vector<std::string> Entries() const { return LogEntries(Log.FileName()); }

    TTempDir Dir;
    TSysOption Option;
    TLogFile Log;

  private:
    TSysOption* OldOption_;
    LogWriter* OldLog_;
    TDoorlockRecordManager* OldRecords_;
    TBaseDoorlock* OldLock_;
};

// A lock that succeeds and remembers what it was asked.
class TestLock : public TBaseDoorlock {
  public:
    struct Issue {
        std::string RegisterId, BuildingCode, FloorCode, RoomNo, GuestName;
        TDateTime BeginDate = 0, BeginTime = 0, EndDate = 0, EndTime = 0;
        bool IsCopy = false;
    };

    bool WriteCard(std::string RegisterId, std::string BuildingCode, std::string FloorCode,
                   std::string RoomNo, std::string GuestName, TDateTime BeginDate,
                   TDateTime BeginTime, TDateTime EndDate, TDateTime EndTime, bool IsCopy,
                   int64_t& CardNo) override {
        std::lock_guard<std::mutex> g(Mu);
        Issues.push_back({RegisterId, BuildingCode, FloorCode, RoomNo, GuestName, BeginDate,
                          BeginTime, EndDate, EndTime, IsCopy});
        CardNo = NextCardNo;
        return Succeed;
    }
    bool ReadCard(int64_t& CardNo) override {
        CardNo = NextCardNo;
        return Succeed;
    }
    bool EraseCard() override { return Succeed; }

    std::mutex Mu;  // guards Issues (connection threads write at once)
    std::vector<Issue> Issues;
    int64_t NextCardNo = 1234;
    bool Succeed = true;
};

// Makes a record database at Path from the shipped schema.
inline void MakeClientMdb(const std::string& Path) {
    const std::string schema = ReadFile(SourceDir() + "/service/core/ClientMdb.sql");
    sqlite3* db = nullptr;
    sqlite3_open(Path.c_str(), &db);
    sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// Runs Sql on the database at Path; the first column of every row, joined by "|".
inline std::string Query(const std::string& Path, const std::string& Sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::string out;
    sqlite3_exec(
        db, Sql.c_str(),
        [](void* o, int n, char** v, char**) {
            auto* s = static_cast<std::string*>(o);
            if (!s->empty()) *s += "|";
            for (int i = 0; i < n; ++i) *s += (i ? "," : "") + std::string(v[i] ? v[i] : "NULL");
            return 0;
        },
        &out, nullptr);
    sqlite3_close(db);
    return out;
}

// A connection over a Unix socket pair: the handler writes to Connection,
// the test reads what arrived at the peer.
class PairedConnection {
  public:
    PairedConnection() {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        Connection = std::make_unique<TcpConnection>(fds[0]);
        Peer_ = fds[1];
    }
    ~PairedConnection() {
        if (Peer_ >= 0) ::close(Peer_);
    }
    // Everything written so far, without waiting.
    std::string Received() {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(Peer_, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }
    void ClosePeer() {
        ::close(Peer_);
        Peer_ = -1;
    }
    std::unique_ptr<TcpConnection> Connection;

  private:
    int Peer_ = -1;
};

}  // namespace ostra::test
