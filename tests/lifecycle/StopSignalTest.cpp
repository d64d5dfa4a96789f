// A stop signal while sixteen front-desk clients issue cards on the whole
// road (the real card database, the card library registered, a simulated
// encoder): the program runs its normal shutdown and ends with exit code 0,
// and every card booked in the card database was answered "200" (in the
// service it also has its "Client.mdb" row). For the service and for the
// plug-in in its host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/file.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "cardlib/CardDatabase.h"
#include "platform/lycomm/SimEncoder.h"
#include "platform/text/CodePage.h"
#include "tests/lifecycle/ChildProgram.h"
#include "tests/support/CardRoad.h"

namespace ostra::lifecycletest {
namespace {

constexpr int kEncoderPort = 2;  // "COM2"
constexpr int kClients = 16;

std::optional<std::string> CardDbServer() {
    const char* Server = std::getenv("OSTRA_CARDDB_SERVER");
    const char* OdbcIni = std::getenv("ODBCSYSINI");
    if (Server && *Server && OdbcIni && *OdbcIni) return std::string(Server);
    return std::nullopt;
}

// What the clients saw: the card numbers answered "200", replies of any
// other kind, and how many answers came after the signal was sent.
struct Issued {
    std::vector<int64_t> Answered;
    std::vector<std::string> Other;
    int FailedBeforeSignal = 0;
    int AnsweredAfterSignal = 0;
};

class StopSignalRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        Server = CardDbServer();
        // The children's exit codes are the point here, not what the card
        // road's libraries keep until the process ends.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        if (!Server) {
            const char* Ci = std::getenv("CI");
            if (Ci && std::string(Ci) == "true") FAIL() << "the card database is not running";
            GTEST_SKIP() << "the card database is not running (scripts/carddb start)";
        }
        // The card database's rows are shared with other suites: one at a time.
        if (const char* Lock = std::getenv("OSTRA_CARDDB_LOCK"); Lock && *Lock) {
            LockFd = ::open(Lock, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (LockFd >= 0) ::flock(LockFd, LOCK_EX);
        }
        Road = std::make_unique<TPrivateCardRoad>("ostra-lifecycle");
        ASSERT_EQ(Road->Register(), 0);
        Road->SetSqlServer(*Server);
        Db.Open(cardlib::BuildConnectString(*Server));
        Db.Execute("DELETE FROM CardRecord");
        Db.Execute("DELETE FROM RoomList");
        Db.Execute("DELETE FROM SpecRecord");
        Db.Execute("INSERT INTO SpecRecord (InfoNo, StartNo, CardNo) VALUES (1, 0, 25)");
        Db.Execute(
            "INSERT INTO RoomList (BuildNo, FloorNo, RoomNo, State, CardQTY, SetCard) VALUES "
            "(1, 1, '0101', '', 1, 'x')");
        ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
        ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
    }
    void TearDown() override {
        lycomm::Detach(kEncoderPort);
        Road.reset();
        if (LockFd >= 0) ::close(LockFd);
    }

    // Sixteen clients issue cards, each on a fresh connection, until the
    // program no longer answers; once 32 cards are answered, Signal goes to
    // the program. End: how the program ended.
    Issued IssueUntilStopped(ChildProgram& Child, uint16_t Port, TChildEnd& End) {
        Issued Result;
        std::mutex Mutex;
        std::atomic<bool> Signalled{false};
        std::vector<std::thread> Pool;
        for (int C = 0; C < kClients; ++C)
            Pool.emplace_back([&] {
                for (;;) {
                    const int Fd = Connect(Port);
                    std::optional<std::string> Reply;
                    if (Fd >= 0) {
                        SetReceiveLimit(Fd, 120);
                        std::string Pending;
                        if (SendAll(Fd, IssueRequest("101") + std::string(1, '\0')))
                            Reply = ReadReply(Fd, Pending);
                        ::close(Fd);
                    }
                    const bool After = Signalled.load();
                    std::lock_guard<std::mutex> Guard(Mutex);
                    if (!Reply) {
                        if (!After) ++Result.FailedBeforeSignal;
                        return;  // the program stopped taking requests
                    }
                    if (Reply->find("<ResultCode>200</ResultCode>") != std::string::npos)
                        Result.Answered.push_back(CardNoOf(*Reply));
                    else
                        Result.Other.push_back(*Reply);
                    Result.AnsweredAfterSignal += After;
                }
            });
        const bool Busy = Eventually([&] {
            std::lock_guard<std::mutex> Guard(Mutex);
            return Result.Answered.size() >= 32 || Result.FailedBeforeSignal > 0;
        });
        Signalled = true;
        End = Child.StopWith(SIGTERM);
        for (auto& T : Pool) T.join();
        EXPECT_TRUE(Busy) << "no cards issued before the signal";
        RecordProperty("AnsweredAfterSignal", Result.AnsweredAfterSignal);
        std::printf("[ ROAD     ] %zu answered, %d of them after the signal\n",
                    Result.Answered.size(), Result.AnsweredAfterSignal);
        return Result;
    }

    // The numbers of the cards booked in the card database.
    std::vector<int64_t> Booked() {
        std::vector<int64_t> Numbers;
        for (auto Rs = Db.Query("SELECT CardNo FROM CardRecord"); !Rs->Eof(); Rs->MoveNext())
            Numbers.push_back(std::stoll(Rs->Field("CardNo").value_or("-1")));
        std::sort(Numbers.begin(), Numbers.end());
        return Numbers;
    }

    std::optional<std::string> Server;
    int LockFd = -1;
    std::unique_ptr<TPrivateCardRoad> Road;
    cardlib::DbConnection Db;
};

std::vector<int64_t> Sorted(std::vector<int64_t> V) {
    std::sort(V.begin(), V.end());
    return V;
}

// An empty "Client.mdb" made from the shipped schema.
void MakeClientMdb(const fs::path& File) {
    sqlite3* Mdb = nullptr;
    ASSERT_EQ(sqlite3_open(File.c_str(), &Mdb), SQLITE_OK);
    const std::string Schema =
        ReadFile(fs::path(SourceDir()) / "service" / "core" / "ClientMdb.sql");
    EXPECT_EQ(sqlite3_exec(Mdb, Schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(Mdb);
}

// The card numbers of the issue journal in "Client.mdb".
std::vector<int64_t> Journal(const fs::path& File) {
    std::vector<int64_t> Numbers;
    sqlite3* Mdb = nullptr;
    if (sqlite3_open_v2(File.c_str(), &Mdb, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* St = nullptr;
        sqlite3_prepare_v2(Mdb, "SELECT CardNo FROM T_IssueCardRecord", -1, &St, nullptr);
        while (St && sqlite3_step(St) == SQLITE_ROW)
            Numbers.push_back(
                std::stoll(reinterpret_cast<const char*>(sqlite3_column_text(St, 0))));
        sqlite3_finalize(St);
    }
    sqlite3_close(Mdb);
    std::sort(Numbers.begin(), Numbers.end());
    return Numbers;
}

TEST_F(StopSignalRoad, TheServiceAnswersEveryCardItBookedAndEndsWithZero) {
    const fs::path Folder = Road->Root() / "service";
    ChildProgram Service(Folder, "OstraDoorLock");
    std::ofstream(Folder / "Option.ini", std::ios::binary)
        << "[DoorlockOption]\r\nPortName=COM2\r\nSaveDoorlockRecord=1\r\n"
        << "[SysOption]\r\nDoorlockPortNo=0\r\nWriteLog=1\r\n";
    MakeClientMdb(Folder / "Client.mdb");
    Service.Start();
    const uint16_t Port = Service.WaitForListeningPort();
    ASSERT_NE(Port, 0) << Service.Errors();

    TChildEnd End;
    const Issued Result = IssueUntilStopped(Service, Port, End);
    EXPECT_EQ(End, 0);
    EXPECT_EQ(Result.FailedBeforeSignal, 0);
    EXPECT_TRUE(Result.Other.empty()) << Result.Other.front();
    const std::vector<int64_t> Booked = this->Booked();
    EXPECT_EQ(Booked, Sorted(Result.Answered)) << "booked and answered differ";
    EXPECT_EQ(Journal(Folder / "Client.mdb"), Booked) << "booked and recorded differ";
}

TEST_F(StopSignalRoad, ThePluginHostAnswersEveryCardItBookedAndEndsWithZero) {
    const fs::path Folder = Road->Root() / "host";
    ChildProgram Host(Folder, "KestraneDriverHost", {"libKestrane.so"});
    Host.Set("LD_LIBRARY_PATH=" + Folder.string());  // the sanitizers' dlopen
    // Request dates in the year-first form of the host's regional settings,
    // from the locales made for the tests.
    Host.Unset("LC_ALL");
    Host.Set("LC_TIME=sv_SE.UTF-8");
    Host.Set("LOCPATH=" + TestLocaleDir());
    std::ofstream(Folder / "Option.ini", std::ios::binary)
        << "[SysOptions]\r\nPortNo=0\r\n[DoorlockOption]\r\nPortName=COM2\r\n[SysOption]\r\n"
           "WriteLog=1\r\n";
    Host.Start();
    const uint16_t Port = Host.WaitForListeningPort();
    ASSERT_NE(Port, 0) << Host.Errors();

    TChildEnd End;
    const Issued Result = IssueUntilStopped(Host, Port, End);
    EXPECT_EQ(End, 0);
    EXPECT_EQ(Result.FailedBeforeSignal, 0);
    EXPECT_TRUE(Result.Other.empty()) << Result.Other.front();
    EXPECT_EQ(Booked(), Sorted(Result.Answered)) << "booked and answered differ";
}

// The service with one ReadCard being handled: sent, taken in by the service
// (its log says so), and kept from getting past the encoder until
// ReleaseEncoder. The encoder reads a card under a shared lock of its file;
// the test holds that lock exclusively meanwhile, as a write in progress
// would.
class RequestInHand : public ::testing::Test {
  protected:
    void TearDown() override {
        ReleaseEncoder();
        if (Fd >= 0) ::close(Fd);
        lycomm::Detach(kEncoderPort);
    }

    void Start() {
        ASSERT_EQ(Road.Register(), 0);
        ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
        ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
        CardLock = ::open(lycomm::CardPath(kEncoderPort).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(CardLock, 0);
        ASSERT_EQ(::flock(CardLock, LOCK_EX), 0);
        std::ofstream(Folder / "Option.ini", std::ios::binary)
            << "[DoorlockOption]\r\nPortName=COM2\r\n[SysOption]\r\nDoorlockPortNo=0\r\n"
               "WriteLog=1\r\n";
        Service.Start();
        Port = Service.WaitForListeningPort();
        ASSERT_NE(Port, 0) << Service.Errors();
        Fd = Connect(Port);
        ASSERT_GE(Fd, 0);
        SetReceiveLimit(Fd, 120);
        ASSERT_TRUE(SendAll(Fd, ReadCardRequest() + std::string(1, '\0')));
        ASSERT_TRUE(Eventually([&] {
            return FromSystemCodePage(Service.Log()).find("收到消息") != std::string::npos;
        }));
    }

    void ReleaseEncoder() {
        if (CardLock >= 0) ::close(CardLock);
        CardLock = -1;
    }

    // Waits until the listener is off: the shutdown runs and waits for the
    // request.
    bool ListenerOff() {
        return Eventually([&] { return Service.NotListening(); });
    }

    TPrivateCardRoad Road{"ostra-lifecycle"};
    const fs::path Folder = Road.Root() / "service";
    ChildProgram Service{Folder, "OstraDoorLock"};
    uint16_t Port = 0;
    int Fd = -1;
    int CardLock = -1;
};

// A second stop signal while the shutdown waits for a request that is being
// handled ends the process at once (128 + the signal's number), where the
// first one alone would let the request finish.
TEST_F(RequestInHand, ASecondStopSignalEndsTheProcessAtOnce) {
    Start();
    if (HasFatalFailure()) return;
    Service.Signal(SIGTERM);
    ASSERT_TRUE(ListenerOff());
    EXPECT_EQ(Service.StopWith(SIGTERM), 128 + SIGTERM);
    EXPECT_TRUE(ClosedWithoutReply(Fd));
}

// SIGHUP, the end of the terminal or remote session that started the
// program, is a stop signal too: the request being handled is answered and
// the program ends in order with exit code 0.
TEST_F(RequestInHand, HangUpEndsTheServiceInOrder) {
    Start();
    if (HasFatalFailure()) return;
    Service.Signal(SIGHUP);
    // The request gets past the encoder only once the shutdown waits for it.
    ASSERT_TRUE(ListenerOff());
    ReleaseEncoder();
    EXPECT_EQ(Service.Wait(), 0);
    std::string Pending;
    const std::optional<std::string> Reply = ReadReply(Fd, Pending);
    ASSERT_TRUE(Reply) << "the request being handled was not answered";
    EXPECT_NE(Reply->find("<ResultCode>"), std::string::npos) << *Reply;
}

}  // namespace
}  // namespace ostra::lifecycletest
