// The whole road: the real OstraDoorLock as a child process (offscreen) with
// its own "Option.ini", card library copy with "Setting.ini", registry file,
// simulated encoders and the private card database, driven over loopback as
// the front desk drives it.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

#include "cardlib/CardBlock.h"
#include "cardlib/CardDatabase.h"
#include "lockdriver/CardTexts.h"
#include "platform/datetime/DateTime.h"
#include "platform/text/CodePage.h"
#include "tests/lockdriver/DriverFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DoorRequests.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDeskListener.h"
#include "tests/support/ServiceProgram.h"

namespace ostra::lockdrivertest {
namespace {

using namespace ostra::testsupport;

constexpr int kEncoderPort = 2;  // "COM2"

// The service of these tests, its log read as lines.
class ServiceProcess : public TServiceProgram {
  public:
    using TServiceProgram::TServiceProgram;

    // The log lines of the run, in UTF-8, without their time stamps.
    std::vector<std::string> LogLines() {
        std::vector<std::string> Lines;
        for (const auto& Entry : fs::directory_iterator(Folder)) {
            if (Entry.path().extension() != ".LOG") continue;
            std::istringstream Text(FromSystemCodePage(ReadFile(Entry.path())));
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
        return Eventually([&] { return CountLogPrefix(Prefix) >= N; });
    }
    // Waits until Line stands in the log N times.
    bool WaitForLog(const std::string& Line, std::size_t N = 1) {
        return Eventually([&] { return CountLog(Line) >= N; });
    }
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
        Service = std::make_unique<ServiceProcess>(Road->Dir() / "service",
                                                   "PortName=COM2\r\n" + DoorlockOption);
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
    EXPECT_EQ(Service->Send(IssueRequest("101")), DoorReply("200", "发卡成功", 26));
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
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), DoorReply("200", "读卡成功", 26));

    // 3. Erase: the card is all 0xFF and the check-out is booked.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"EraseCard\"/>"),
              DoorReply("200", "注销卡成功 ", 0));
    const auto Erased = lycomm::PeekCard(kEncoderPort);
    ASSERT_TRUE(Erased);
    for (uint8_t B : Erased->second) EXPECT_EQ(B, 0xFF);
    EXPECT_EQ(Field("SELECT ChkOutMark FROM CardRecord WHERE CardNo = '00000026'", "ChkOutMark"),
              "#1");
    EXPECT_EQ(Service->CountLog("注销成功"), 1u);

    // Reading the erased card fails.
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), DoorReply("500", "读卡失败", 0));
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
    EXPECT_EQ(Service->Send(IssueRequest("101")), DoorReply("500", "发卡失败", 0));
    Road->Register(true);
    bool Named = false;
    for (const auto& Line : Service->LogLines())
        Named = Named || Line.find("Pendrix.MervCard") != std::string::npos;
    EXPECT_TRUE(Named);

    // The card database down.
    Road->SetSqlServer("127.0.0.1;PORT=1");
    EXPECT_EQ(Service->Send(IssueRequest("101")), DoorReply("500", "发卡失败", 0));
    EXPECT_EQ(Service->CountLog("写卡失败，返回: r=-840"), 1u);
    Road->SetSqlServer(*CardRoad::CardDbServer());

    // The encoder's port absent.
    ASSERT_EQ(lycomm::Detach(kEncoderPort), "");
    EXPECT_EQ(Service->Send(IssueRequest("101")), DoorReply("500", "发卡失败", 0));
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), DoorReply("500", "读卡失败", 0));
    EXPECT_EQ(Service->CountLog("打开串口失败，返回: h=-99"), 2u);

    // Everything back: the service still answers and issues.
    ASSERT_EQ(lycomm::Attach(kEncoderPort, std::nullopt), "");
    ASSERT_EQ(lycomm::LayBlankCard(kEncoderPort, lycomm::kFactoryPassword), "");
    EXPECT_EQ(Service->Send(IssueRequest("101")), DoorReply("200", "发卡成功", 26));
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
    EXPECT_EQ(Service->Send("<DoorRequest type=\"ReadCard\"/>"), DoorReply("200", "读卡成功", 26));
}

}  // namespace
}  // namespace ostra::lockdrivertest
