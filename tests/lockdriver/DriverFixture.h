// The card road below the lock object, for one test process: a private
// registry file with the card library registered, a copy of the card library
// with its own "Setting.ini", private simulated encoders without delays, the
// driver's and the service's settings, and a log that the test can read.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lockdriver/OptionUnit.h"
#include "platform/lycomm/SimEncoder.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"
#include "tests/support/CardRoad.h"
#include "tests/support/GuestCard.h"

namespace ostra::lockdrivertest {

namespace fs = std::filesystem;

// Log entries in memory, one per Write; a test waits for the ones it expects.
class LogCapture : public LogWriter {
  public:
    LogCapture() : LogWriter("", {}, IoErrors::Swallow) {}

    void Write(std::string_view Text) override {
        {
            std::lock_guard<std::mutex> Guard(Mutex);
            Lines.emplace_back(Text);
        }
        Changed.notify_all();
    }
    std::vector<std::string> Snapshot() {
        std::lock_guard<std::mutex> Guard(Mutex);
        return Lines;
    }
    std::size_t Count(const std::string& Line) {
        std::lock_guard<std::mutex> Guard(Mutex);
        std::size_t N = 0;
        for (const auto& L : Lines) N += L == Line;
        return N;
    }
    std::size_t CountPrefix(const std::string& Prefix) {
        std::lock_guard<std::mutex> Guard(Mutex);
        std::size_t N = 0;
        for (const auto& L : Lines) N += L.rfind(Prefix, 0) == 0;
        return N;
    }
    // Waits until Line has been written at least N times; false after a
    // generous safety limit (a hung test, not a timing condition).
    bool WaitFor(const std::string& Line, std::size_t N = 1) {
        std::unique_lock<std::mutex> Guard(Mutex);
        return Changed.wait_for(Guard, std::chrono::seconds(60), [&] {
            std::size_t Seen = 0;
            for (const auto& L : Lines) Seen += L == Line;
            return Seen >= N;
        });
    }
    // Waits until at least N entries begin with Prefix.
    bool WaitForPrefix(const std::string& Prefix, std::size_t N) {
        std::unique_lock<std::mutex> Guard(Mutex);
        return Changed.wait_for(Guard, std::chrono::seconds(60), [&] {
            std::size_t Seen = 0;
            for (const auto& L : Lines) Seen += L.rfind(Prefix, 0) == 0;
            return Seen >= N;
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> Guard(Mutex);
        Lines.clear();
    }

  private:
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<std::string> Lines;
};

// One private card road per test process; made once, before any COM call.
class CardRoad {
  public:
    static CardRoad& Get() {
        static CardRoad Road;
        return Road;
    }

    const fs::path& Dir() const { return Road.Root(); }
    fs::path LibDir() const { return Road.LibDir(); }

    // Points "Setting.ini" beside the library copy at a server address.
    void SetSqlServer(const std::string& Server) { Road.SetSqlServer(Server); }

    // The card database of scripts/carddb, when the test run started it.
    static std::optional<std::string> CardDbServer() {
        const char* Server = std::getenv("OSTRA_CARDDB_SERVER");
        const char* OdbcIni = std::getenv("ODBCSYSINI");
        if (Server && *Server && OdbcIni && *OdbcIni) return std::string(Server);
        return std::nullopt;
    }

    // Puts a guest card with number N on the encoder of driver port Port.
    static void LayGuestCard(int Port, int32_t N) {
        ASSERT_TRUE(testsupport::LayGuestCard(Port, N));
    }
    // Puts another block on the card lying there (no failed read between).
    static void ReplaceGuestCard(int Port, int32_t N) {
        ASSERT_EQ(lycomm::WriteCard(Port, lycomm::kFactoryPassword, testsupport::GuestBlock(N)),
                  lycomm::kOk);
    }

    // Registers the library copy in the private registry (or removes it).
    void Register(bool On) { ASSERT_EQ(Road.Register(On), 0); }

  private:
    CardRoad() : Road("ostra-lockdriver") {
        SetSqlServer(CardDbServer().value_or("127.0.0.1;PORT=1"));
        Register(true);
    }

    testsupport::TPrivateCardRoad Road;
};

// Holds the card database for one test: tests of every suite that change
// its rows take the lock file of scripts/carddb, one at a time.
class CardDbTurn {
  public:
    CardDbTurn() {
        const char* Path = std::getenv("OSTRA_CARDDB_LOCK");
        if (!Path || !*Path) return;
        Fd = ::open(Path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (Fd >= 0) ::flock(Fd, LOCK_EX);
    }
    ~CardDbTurn() {
        if (Fd >= 0) ::close(Fd);
    }
    CardDbTurn(const CardDbTurn&) = delete;
    CardDbTurn& operator=(const CardDbTurn&) = delete;

  private:
    int Fd = -1;
};

// Skips a test that needs the card database when none runs; under CI
// (CI=true) that is a failure instead.
#define OSTRA_REQUIRE_CARD_DB()                                                                \
    do {                                                                                       \
        if (!::ostra::lockdrivertest::CardRoad::CardDbServer()) {                              \
            const char* Ci = std::getenv("CI");                                                \
            if (Ci && std::string(Ci) == "true") FAIL() << "the card database is not running"; \
            GTEST_SKIP() << "the card database is not running (scripts/carddb start)";         \
        }                                                                                      \
    } while (0)

// The settings and log of one test: Option and SysOption point at objects of
// the test, LogFile at a capture; the encoder of Port is attached.
class DriverTestBase : public ::testing::Test {
  protected:
    static constexpr int Port = 3;  // "COM3": port index 2, driver port 3

    void SetUp() override {
        Road = &CardRoad::Get();
        OptionFile = (Road->Dir() / "Option.ini").string();
        Opt = std::make_unique<TOption>(OptionFile);
        Opt->SetPortName("COM3");
        Sys = std::make_unique<TSysOption>(OptionFile);
        PrevOption = SetOption(Opt.get());
        PrevSysOption = SetSysOption(Sys.get());
        PrevLog = SetLogFile(&Log);
        lycomm::Detach(Port);
        ASSERT_EQ(lycomm::Attach(Port, std::nullopt), "");
    }
    void TearDown() override {
        lycomm::Detach(Port);
        SetLogFile(PrevLog);
        SetSysOption(PrevSysOption);
        SetOption(PrevOption);
    }

    CardRoad* Road = nullptr;
    std::string OptionFile;
    std::unique_ptr<TOption> Opt;
    std::unique_ptr<TSysOption> Sys;
    LogCapture Log;

  private:
    TOption* PrevOption = nullptr;
    TSysOption* PrevSysOption = nullptr;
    LogWriter* PrevLog = nullptr;
};

}  // namespace ostra::lockdrivertest
