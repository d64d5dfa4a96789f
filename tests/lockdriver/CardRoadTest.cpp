// The whole road: the real OstraDoorLock as a child process (offscreen) with
// its own "Option.ini", card library copy with "Setting.ini", registry file,
// simulated encoders and the private card database, driven over loopback as
// the front desk drives it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "cardlib/CardBlock.h"
#include "cardlib/CardDatabase.h"
#include "lockdriver/CardTexts.h"
#include "platform/datetime/DateTime.h"
#include "platform/text/CodePage.h"
#include "tests/lockdriver/DriverFixture.h"
#include "tests/lockdriver/FrontDeskListener.h"

namespace ostra::lockdrivertest {
namespace {

constexpr int kEncoderPort = 2;  // "COM2"

// One request and its reply over a fresh connection; the reply without its
// terminating 0x00, or nothing when the service closed without replying.
std::optional<std::string> Exchange(uint16_t Port, const std::string& Request) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Addr.sin_port = htons(Port);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) != 0) {
        ::close(Fd);
        return std::nullopt;
    }
    const std::string Bytes = Request + std::string(1, '\0');
    ::send(Fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
    std::string Reply;
    char C = 0;
    while (::recv(Fd, &C, 1, 0) == 1) {
        if (C == '\0') {
            ::close(Fd);
            return Reply;
        }
        Reply.push_back(C);
    }
    ::close(Fd);
    return std::nullopt;
}

std::string IssueRequest(const std::string& Room) {
    return "<DoorRequest type=\"IssueCard\"><RequestID/><RegisterId>R1</RegisterId>"
           "<BuildingCode>1</BuildingCode><FloorCode>1</FloorCode><RoomNo>" +
           Room +
           "</RoomNo><GuestName>Guest</GuestName><CheckInDate>2026-05-01</CheckInDate>"
           "<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2030-05-03</CheckOutDate>"
           "<CheckOutTime>11:50:00</CheckOutTime><IsCopy>0</IsCopy></DoorRequest>";
}

std::string Reply(const std::string& Code, const std::string& Message, int64_t CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>";
}

// The card number of a reply, or -1.
int64_t CardNoOf(const std::string& ReplyText) {
    const std::size_t Start = ReplyText.find("<CardNo>");
    const std::size_t End = ReplyText.find("</CardNo>");
    if (Start == std::string::npos || End == std::string::npos || End <= Start + 8) return -1;
    try {
        return DecimalCardNoToInt(ReplyText.substr(Start + 8, End - Start - 8));
    } catch (const std::exception&) {
        return -1;
    }
}

// A running OstraDoorLock in a folder of its own.
class ServiceProcess {
  public:
    ServiceProcess(const fs::path& Dir, const std::string& OptionIni) : Folder(Dir) {
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        // The program finds its files beside itself, so it runs from a copy.
        std::error_code Ec;
        fs::create_hard_link(fs::path(BinDir()) / "OstraDoorLock", Folder / "OstraDoorLock", Ec);
        if (Ec) fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Folder / "OstraDoorLock");
        std::ofstream(Folder / "Option.ini", std::ios::binary) << OptionIni;
        ListenPort = FrontDeskListener::FreePort();
        std::ofstream(Folder / "Option.ini", std::ios::binary | std::ios::app)
            << "[SysOption]\r\nDoorlockPortNo=" << ListenPort << "\r\nWriteLog=1\r\n";
        Pid = fork();
        if (Pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            const std::string Program = (Folder / "OstraDoorLock").string();
            execl(Program.c_str(), Program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~ServiceProcess() {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }

    // Waits until the listener answers connections (false if the program ended).
    bool WaitUntilListening() {
        for (int Attempt = 0; Attempt < 1200; ++Attempt) {
            if (::waitpid(Pid, nullptr, WNOHANG) == Pid) {
                Pid = -1;
                return false;
            }
            const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in Addr{};
            Addr.sin_family = AF_INET;
            Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            Addr.sin_port = htons(ListenPort);
            const bool Up = ::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0;
            ::close(Fd);
            if (Up) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool Running() { return Pid > 0 && ::waitpid(Pid, nullptr, WNOHANG) == 0; }

    std::optional<std::string> Send(const std::string& Request) {
        return Exchange(ListenPort, Request);
    }

    // The log lines of the run, in UTF-8, without their time stamps.
    std::vector<std::string> LogLines() {
        std::vector<std::string> Lines;
        for (const auto& Entry : fs::directory_iterator(Folder)) {
            if (Entry.path().extension() != ".LOG") continue;
            std::ifstream In(Entry.path(), std::ios::binary);
            std::stringstream S;
            S << In.rdbuf();
            std::istringstream Text(FromSystemCodePage(S.str()));
            std::string Line;
            while (std::getline(Text, Line)) {
                if (!Line.empty() && Line.back() == '\r') Line.pop_back();
                Lines.push_back(Line.size() > 20 ? Line.substr(20) : Line);
            }
        }
        return Lines;
    }
    std::size_t CountLog(const std::string& Line) {
        std::size_t N = 0;
        for (const auto& L : LogLines()) N += L == Line;
        return N;
    }
    std::size_t CountLogPrefix(const std::string& Prefix) {
        std::size_t N = 0;
        for (const auto& L : LogLines()) N += L.rfind(Prefix, 0) == 0;
        return N;
    }
    bool WaitForLogPrefix(const std::string& Prefix, std::size_t N) {
        for (int Attempt = 0; Attempt < 1200; ++Attempt) {
            if (CountLogPrefix(Prefix) >= N) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // Waits until Line stands in the log N times.
    bool WaitForLog(const std::string& Line, std::size_t N = 1) {
        for (int Attempt = 0; Attempt < 1200; ++Attempt) {
            if (CountLog(Line) >= N) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    fs::path Folder;
    uint16_t ListenPort = 0;

  private:
    pid_t Pid = -1;
};

class CardRoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OSTRA_REQUIRE_CARD_DB();
        Turn = std::make_unique<CardDbTurn>();
        Road = &CardRoad::Get();
        Road->SetSqlServer(*CardRoad::CardDbServer());
        Db = std::make_unique<cardlib::DbConnection>();
        Db->Open(cardlib::BuildConnectString(*CardRoad::CardDbServer()));
        Db->Execute("DELETE FROM CardRecord");
        Db->Execute("DELETE FROM RoomList");
        Db->Execute("DELETE FROM SpecRecord");
        Db->Execute("INSERT INTO SpecRecord (InfoNo, StartNo, CardNo) VALUES (1, 0, 25)");
        Db->Execute(
            "INSERT INTO RoomList (BuildNo, FloorNo, RoomNo, State, CardQTY, SetCard) VALUES "
            "(1, 1, '0101', '', 1, 'x')");
        lycomm::Detach(kEncoderPort);
        ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
        ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
        // The card library copy of this process is the one registered: the
        // child reads the same registry file and simulator folder.
        setenv("LYCOMM_DELAY_MS", "1", 1);
    }
    void TearDown() override {
        Service.reset();
        lycomm::Detach(kEncoderPort);
        setenv("LYCOMM_DELAY_MS", "0", 1);
    }

    void StartService(const std::string& DoorlockOption) {
        Service = std::make_unique<ServiceProcess>(
            Road->Dir() / "service", "[DoorlockOption]\r\nPortName=COM2\r\n" + DoorlockOption);
        ASSERT_TRUE(Service->WaitUntilListening());
    }

    std::optional<std::string> Field(const std::string& Sql, const std::string& Column) {
        auto Rs = Db->Query(Sql);
        if (Rs->Eof()) return std::nullopt;
        return Rs->Field(Column);
    }

    std::unique_ptr<CardDbTurn> Turn;
    CardRoad* Road = nullptr;
    std::unique_ptr<cardlib::DbConnection> Db;
    std::unique_ptr<ServiceProcess> Service;
};

TEST_F(CardRoadTest, IssueReadAndEraseACard) {
    StartService("DelayMinutes2=30\r\n");

    // 1. Issue: the counter stood at 25, so the card is number 26.
    EXPECT_EQ(Service->Send(IssueRequest("101")), Reply("200", "发卡成功", 26));
    const auto Card = lycomm::PeekCard(kEncoderPort);
    ASSERT_TRUE(Card);
    const auto& Block = Card->second;
    EXPECT_EQ(Block[0], 0x1B);
    EXPECT_EQ(Block[6], 0x1A);
    EXPECT_EQ(Block[7], 0x00);
    EXPECT_EQ(Block[8], 0x00);
    // Check-out 2030-05-03 11:50 plus 30 minutes: 12:20.
    EXPECT_EQ((Block[9] << 8) | Block[10], cardlib::PackedDate(30, 5, 3));
    EXPECT_EQ(Block[11], 0x12);
    EXPECT_EQ(Block[12], 0x20);
    EXPECT_EQ(Block[15], 0x01);
    EXPECT_EQ(Block[16], 0x01);
    EXPECT_EQ(Field("SELECT CardNo FROM SpecRecord WHERE InfoNo = 1", "CardNo"), "26");
    EXPECT_EQ(Field("SELECT State FROM RoomList WHERE RoomNo = '0101'", "State"), "1");
    EXPECT_EQ(Field("SELECT CardQTY FROM RoomList WHERE RoomNo = '0101'", "CardQTY"), "2");
    EXPECT_EQ(Field("SELECT RoomNo FROM CardRecord WHERE CardNo = '00000026'", "RoomNo"), "0101");
    EXPECT_EQ(Service->CountLog("CardNumber=00001A"), 1u);
    EXPECT_EQ(Service->CountLog("写卡成功，CardNo=26"), 1u);

    // 2. Read.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), Reply("200", "读卡成功", 26));

    // 3. Erase: the card is all 0xFF and the check-out is booked.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"EraseCard\"/>"), Reply("200", "注销卡成功 ", 0));
    const auto Erased = lycomm::PeekCard(kEncoderPort);
    ASSERT_TRUE(Erased);
    for (uint8_t B : Erased->second) EXPECT_EQ(B, 0xFF);
    EXPECT_EQ(Field("SELECT ChkOutMark FROM CardRecord WHERE CardNo = '00000026'", "ChkOutMark"),
              "#1");
    EXPECT_EQ(Service->CountLog("注销成功"), 1u);

    // Reading the erased card fails.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), Reply("500", "读卡失败", 0));
}

TEST_F(CardRoadTest, SixteenClientsAtOnceAllGetTheirCards) {
    StartService("");
    constexpr int Clients = 16;
    std::vector<std::optional<std::string>> Replies(Clients);
    std::vector<std::thread> Pool;
    for (int I = 0; I < Clients; ++I)
        Pool.emplace_back([&, I] { Replies[I] = Service->Send(IssueRequest("101")); });
    for (auto& T : Pool) T.join();
    std::set<int64_t> Numbers;
    for (int I = 0; I < Clients; ++I) {
        ASSERT_TRUE(Replies[I]) << I;
        EXPECT_NE(Replies[I]->find("<ResultCode>200</ResultCode>"), std::string::npos)
            << *Replies[I];
        Numbers.insert(CardNoOf(*Replies[I]));
    }
    EXPECT_EQ(Numbers.size(), static_cast<std::size_t>(Clients));
    EXPECT_EQ(*Numbers.begin(), 26);
    EXPECT_EQ(*Numbers.rbegin(), 26 + Clients - 1);
    EXPECT_EQ(Field("SELECT COUNT(*) AS N FROM CardRecord", "N"), std::to_string(Clients));
}

TEST_F(CardRoadTest, EachBrokenPieceGives500AndItsLogLine) {
    StartService("");

    // The card library not registered.
    Road->Register(false);
    EXPECT_EQ(Service->Send(IssueRequest("101")), Reply("500", "发卡失败", 0));
    Road->Register(true);
    bool Named = false;
    for (const auto& Line : Service->LogLines())
        Named = Named || Line.find("Pendrix.MervCard") != std::string::npos;
    EXPECT_TRUE(Named);

    // The card database down.
    Road->SetSqlServer("127.0.0.1;PORT=1");
    EXPECT_EQ(Service->Send(IssueRequest("101")), Reply("500", "发卡失败", 0));
    EXPECT_EQ(Service->CountLog("写卡失败，返回: r=-840"), 1u);
    Road->SetSqlServer(*CardRoad::CardDbServer());

    // The encoder's port absent.
    ASSERT_EQ(lycomm::Detach(kEncoderPort), "");
    EXPECT_EQ(Service->Send(IssueRequest("101")), Reply("500", "发卡失败", 0));
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), Reply("500", "读卡失败", 0));
    EXPECT_EQ(Service->CountLog("打开串口失败，返回: h=-99"), 2u);

    // Everything back: the service still answers and issues.
    ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
    ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
    EXPECT_EQ(Service->Send(IssueRequest("101")), Reply("200", "发卡成功", 26));
    EXPECT_TRUE(Service->Running());
}

TEST_F(CardRoadTest, LaidCardsAreReportedToTheFrontDesk) {
    FrontDeskListener FrontDesk;
    StartService("AutoReadDoorCard=1\r\nPmsServer=127.0.0.1\r\nPmsServerPort=" +
                 std::to_string(FrontDesk.Port()) + "\r\n");
    ASSERT_TRUE(FrontDesk.WaitForAccepted(1));

    CardRoad::LayGuestCard(kEncoderPort, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(1));
    EXPECT_EQ(FrontDesk.Messages()[0], "<ZeltRequest><DoorCardNo>26</DoorCardNo></ZeltRequest>");
    ASSERT_TRUE(Service->WaitForLog("发送完毕!"));

    // It stays: read again and again, not reported again.
    const std::size_t Reads = Service->CountLog("读卡成功 CardNo=26");
    ASSERT_TRUE(Service->WaitForLog("读卡成功 CardNo=26", Reads + 5));
    EXPECT_EQ(FrontDesk.Messages().size(), 1u);

    // Taken away and laid back: reported again, on a new connection.
    const std::size_t Failed = Service->CountLogPrefix("读卡失败，返回：r=");
    ASSERT_EQ(lycomm::TakeCard(kEncoderPort), "");
    ASSERT_TRUE(Service->WaitForLogPrefix("读卡失败，返回：r=", Failed + 1));
    CardRoad::LayGuestCard(kEncoderPort, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(2));
    EXPECT_EQ(FrontDesk.Messages()[1], ZeltRequestText(26));
    EXPECT_EQ(FrontDesk.Accepted(), 2);

    // A front-desk request meanwhile is served in its turn.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), Reply("200", "读卡成功", 26));
}

}  // namespace
}  // namespace ostra::lockdrivertest
