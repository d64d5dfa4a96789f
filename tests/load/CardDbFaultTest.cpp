// The card database under faults and under many issuing processes. The
// suite starts a MariaDB server of its own (scripts/carddb in a temporary
// folder), so it can stop and start it without touching the server the
// other suites share.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "cardlib/CardDatabase.h"
#include "platform/lycomm/SimEncoder.h"
#include "tests/support/CardRoad.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DoorRequests.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"
#include "tests/support/ServiceProgram.h"

namespace ostra::loadtest {
namespace {

using namespace ostra::testsupport;

constexpr int kEncoderPort = 2;  // "COM2"

// One private server for the suite.
class PrivateCardDb {
  public:
    static PrivateCardDb& Get() {
        static PrivateCardDb Db;
        return Db;
    }

    // On failure Cause holds the script's error output and the end of the
    // server's error log.
    bool Start() {
        int Status = -1;
        const std::string ErrFile = Dir + "/start.err";
        const std::string Out =
            Shell(Script() + " start --dir '" + Dir + "' 2>'" + ErrFile + "'", &Status);
        if (Status != 0) {
            std::ostringstream Text;
            Text << "scripts/carddb start --dir " << Dir << " failed:\n"
                 << std::ifstream(ErrFile).rdbuf();
            std::ifstream Log(Dir + "/mysqld.err");
            std::vector<std::string> Tail;
            for (std::string L; std::getline(Log, L);) {
                Tail.push_back(L);
                if (Tail.size() > 20) Tail.erase(Tail.begin());
            }
            Text << "\nserver log " << Dir << "/mysqld.err:\n";
            for (const auto& L : Tail) Text << L << '\n';
            Cause = Text.str();
            return false;
        }
        // The "export NAME=value" lines, values without quoting characters.
        std::istringstream Lines(Out);
        std::string Line;
        while (std::getline(Lines, Line)) {
            if (Line.rfind("export ", 0) != 0) continue;
            const std::size_t Eq = Line.find('=');
            std::string Value = Line.substr(Eq + 1);
            std::string Plain;
            for (std::size_t I = 0; I < Value.size(); ++I) {
                if (Value[I] == '\\' && I + 1 < Value.size()) {
                    Plain += Value[++I];
                } else if (Value[I] != '\'') {
                    Plain += Value[I];
                }
            }
            const std::string Name = Line.substr(7, Eq - 7);
            if (Name == "ODBCSYSINI") setenv("ODBCSYSINI", Plain.c_str(), 1);
            if (Name == "OSTRA_CARDDB_SERVER") Server = Plain;
        }
        return !Server.empty();
    }
    void Stop() { Shell(Script() + " stop --dir '" + Dir + "' >/dev/null 2>&1"); }

  private:
    TTempDir Folder{"ostra-loaddb"};  // removed after the server stopped

  public:
    const std::string Dir = Folder.Path().string();
    std::string Server;
    std::string Cause;
    bool Up = false;

  private:
    PrivateCardDb() { Up = Start(); }
    ~PrivateCardDb() { Stop(); }
    static std::string Script() { return "'" + SourceDir() + "/scripts/carddb'"; }
};

class CardDbFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Db = &PrivateCardDb::Get();
        if (!Db->Up) {
            if (EnvOr("CI", "") == "true")
                FAIL() << "no MariaDB server could be started\n" << Db->Cause;
            GTEST_SKIP() << "no MariaDB server could be started\n" << Db->Cause;
        }
        Road = std::make_unique<TPrivateCardRoad>("ostra-load");
        ASSERT_EQ(Road->Register(), 0);
        Road->SetSqlServer(Db->Server);
        Admin = std::make_unique<cardlib::DbConnection>();
        Admin->Open(cardlib::BuildConnectString(Db->Server));
        for (const char* Sql :
             {"DELETE FROM CardRecord", "DELETE FROM RoomList", "DELETE FROM SpecRecord",
              "INSERT INTO SpecRecord (InfoNo, StartNo, CardNo) VALUES (1, 0, 100)",
              "INSERT INTO RoomList (BuildNo, FloorNo, RoomNo, State, CardQTY, SetCard) VALUES "
              "(1, 1, '0101', '', 1, 'x')"})
            Admin->Execute(Sql);
    }
    void TearDown() override {
        Admin.reset();
        Road.reset();
    }

    std::string One(const std::string& Sql, const std::string& Column) {
        auto Rs = Admin->Query(Sql);
        return Rs->Eof() ? std::string() : Rs->Field(Column).value_or("");
    }
    // CardRecord's card numbers and how often each stands there.
    std::map<int64_t, int> BookedCards() {
        std::map<int64_t, int> Booked;
        for (auto Rs = Admin->Query("SELECT CardNo FROM CardRecord"); !Rs->Eof(); Rs->MoveNext())
            ++Booked[std::stoll(Rs->Field("CardNo").value_or("-1"))];
        return Booked;
    }

    PrivateCardDb* Db = nullptr;
    std::unique_ptr<TPrivateCardRoad> Road;
    std::unique_ptr<cardlib::DbConnection> Admin;
};

// Issues run on while the server is stopped and started again: every request
// is answered ("500" while it is down), none waits past the library's
// time-outs, the service issues again without a restart, and no card number
// is handed out twice.
TEST_F(CardDbFaultTest, ServerStoppedAndStartedWhileIssuing) {
    ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
    ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
    TServiceProgram Service(Road->Root() / "service", "PortName=COM2\r\n");
    ASSERT_TRUE(Service.WaitUntilListening());

    // Phases: 0 up, 1 stopping, 2 down, 3 starting, 4 up again.
    struct Outcome {
        int SentIn, AnsweredIn;
        std::optional<std::string> Reply;
    };
    std::atomic<int> Phase{0}, Ok{0}, Failed{0};
    std::atomic<bool> Stop{false};
    std::mutex Mu;
    std::vector<Outcome> Outcomes;
    std::vector<std::thread> Issuers;
    for (int I = 0; I < 8; ++I)
        Issuers.emplace_back([&] {
            while (!Stop.load()) {
                const int Sent = Phase.load();
                // The library gives up on a login after 15 s and on a command
                // after 10 s; a reply later than both (and a margin) is a hang.
                auto Reply = Service.Send(IssueRequest("101"), 35);
                const int Answered = Phase.load();
                (Reply && Reply->find("<ResultCode>200<") != std::string::npos ? Ok : Failed)++;
                std::lock_guard<std::mutex> G(Mu);
                Outcomes.push_back({Sent, Answered, std::move(Reply)});
            }
        });
    auto Wait = [&](std::atomic<int>& Counter, int N) {
        const int Target = Counter.load() + N;
        return Eventually([&] { return Counter.load() >= Target; }, 120);
    };

    EXPECT_TRUE(Wait(Ok, 30));
    Phase = 1;
    Db->Stop();
    Phase = 2;
    EXPECT_TRUE(Wait(Failed, 30));
    Phase = 3;
    ASSERT_TRUE(Db->Start()) << Db->Cause;
    Road->SetSqlServer(Db->Server);  // the port may have changed
    Phase = 4;
    EXPECT_TRUE(Wait(Ok, 30));
    Stop = true;
    for (auto& T : Issuers) T.join();
    EXPECT_TRUE(Service.Running());

    Admin = std::make_unique<cardlib::DbConnection>();
    Admin->Open(cardlib::BuildConnectString(Db->Server));
    std::set<int64_t> Issued;
    int Duplicates = 0, Unanswered = 0, Malformed = 0, OkWhileDown = 0, OkAfter = 0;
    for (const auto& O : Outcomes) {
        if (!O.Reply) {
            ++Unanswered;
            continue;
        }
        const int64_t CardNo = CardNoOf(*O.Reply);
        if (*O.Reply == DoorReply("200", "发卡成功", CardNo) && CardNo > 0) {
            Duplicates += !Issued.insert(CardNo).second;
            OkWhileDown += O.SentIn == 2 && O.AnsweredIn == 2;
            OkAfter += O.SentIn == 4;
        } else if (*O.Reply != DoorReply("500", "发卡失败", 0)) {
            ++Malformed;
            ADD_FAILURE() << *O.Reply;
        }
    }
    std::printf("[ ISSUES   ] %zu requests: %zu cards, %d answered 500 (%d of them while down)\n",
                Outcomes.size(), Issued.size(), Failed.load(),
                static_cast<int>(std::count_if(Outcomes.begin(), Outcomes.end(), [](const auto& O) {
                    return O.SentIn == 2 && O.AnsweredIn == 2;
                })));
    EXPECT_EQ(Unanswered, 0);
    EXPECT_EQ(Malformed, 0);
    EXPECT_EQ(OkWhileDown, 0);
    EXPECT_GE(OkAfter, 30);
    EXPECT_EQ(Duplicates, 0);
    // Every card handed out is booked once; no number is booked twice, and
    // the counter stands at or past the highest.
    const auto Booked = BookedCards();
    for (int64_t N : Issued) EXPECT_EQ(Booked.count(N) ? Booked.at(N) : 0, 1) << N;
    for (const auto& [N, Times] : Booked) EXPECT_EQ(Times, 1) << N;
    ASSERT_FALSE(Issued.empty());
    EXPECT_GE(std::stoll(One("SELECT CardNo FROM SpecRecord WHERE InfoNo = 1", "CardNo")),
              *Issued.rbegin());
    lycomm::Detach(kEncoderPort);
}

// The server stops answering (frozen, its connections open) while issues
// run: each request still comes back, "500" once the library's login
// (15 s) or command (10 s) time-out has passed, and issues go on once the
// server answers again. A reply that has not come after 60 s is a hang.
TEST_F(CardDbFaultTest, FrozenServerTimesOut) {
    ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
    ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
    TServiceProgram Service(Road->Root() / "service", "PortName=COM2\r\n");
    ASSERT_TRUE(Service.WaitUntilListening());
    ASSERT_EQ(CardNoOf(Service.Send(IssueRequest("101")).value_or("")), 101);

    std::ifstream PidFile(Db->Dir + "/mysqld.pid");
    pid_t Server = 0;
    ASSERT_TRUE(PidFile >> Server);
    ASSERT_EQ(::kill(Server, SIGSTOP), 0);
    // Two at once: the second waits for the first's turn on the encoder.
    std::vector<std::optional<std::string>> Replies(2);
    std::vector<std::thread> Pool;
    for (std::size_t I = 0; I < Replies.size(); ++I)
        Pool.emplace_back([&, I] { Replies[I] = Service.Send(IssueRequest("101"), 60); });
    for (auto& T : Pool) T.join();
    ::kill(Server, SIGCONT);
    for (const auto& R : Replies) EXPECT_EQ(R, DoorReply("500", "发卡失败", 0));
    const auto After = Service.Send(IssueRequest("101"), 60);
    ASSERT_TRUE(After);
    EXPECT_EQ(*After, DoorReply("200", "发卡成功", CardNoOf(*After)));
    lycomm::Detach(kEncoderPort);
}

// Sixteen processes issue through the card library at once, each on an
// encoder of its own: the counter rises by exactly the number of cards
// issued and every card number is a different one.
TEST_F(CardDbFaultTest, SixteenProcessesIssueAtOnce) {
    constexpr int Processes = 16, Each = 10;
    for (int P = 0; P < Processes; ++P) {
        ASSERT_EQ(lycomm::Attach(P + 1, std::nullopt), "");
        ASSERT_EQ(lycomm::LayBlankCard(P + 1, lycomm::kFactoryPassword), "");
    }
    std::vector<std::string> Outputs(Processes);
    std::vector<std::thread> Pool;
    std::atomic<int> Ready{0};
    for (int P = 0; P < Processes; ++P)
        Pool.emplace_back([&, P] {
            ++Ready;
            while (Ready.load() < Processes) std::this_thread::yield();
            // Port index P is the encoder of driver port P + 1.
            Outputs[P] = Shell("ASAN_OPTIONS=detect_leaks=0 '" + BinDir() +
                               "/pendrix_client' issue " + std::to_string(P) +
                               " 1 1 0101 203005031150 " + std::to_string(Each) + " 2>&1");
        });
    for (auto& T : Pool) T.join();

    std::set<std::string> Numbers;
    int Lines = 0;
    for (int P = 0; P < Processes; ++P) {
        std::istringstream Out(Outputs[P]);
        std::string Word, Result, Hex;
        while (Out >> Word >> Result >> Hex) {
            ++Lines;
            EXPECT_EQ(Word + " " + Result, "issue 0") << Outputs[P];
            EXPECT_TRUE(Numbers.insert(Hex).second) << "card " << Hex << " given twice";
        }
    }
    EXPECT_EQ(Lines, Processes * Each);
    EXPECT_EQ(Numbers.size(), static_cast<std::size_t>(Processes * Each));
    EXPECT_EQ(One("SELECT CardNo FROM SpecRecord WHERE InfoNo = 1", "CardNo"),
              std::to_string(100 + Processes * Each));
    const auto Booked = BookedCards();
    EXPECT_EQ(Booked.size(), static_cast<std::size_t>(Processes * Each));
    for (const auto& [N, Times] : Booked) {
        EXPECT_EQ(Times, 1) << N;
        EXPECT_TRUE(N > 100 && N <= 100 + Processes * Each) << N;
    }
    for (int P = 0; P < Processes; ++P) lycomm::Detach(P + 1);
}

}  // namespace
}  // namespace ostra::loadtest
