// The lock object against the real card library and the simulated encoder.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "lockdriver/OstraDoorLockUnit.h"
#include "platform/datetime/DateTime.h"
#include "tests/lockdriver/DriverFixture.h"

namespace ostra::lockdrivertest {
namespace {

class OstraDoorLockTest : public DriverTestBase {
  protected:
    bool Issue(const std::string& Building, const std::string& Floor, const std::string& Room,
               TDateTime End, int64_t& CardNo) {
        return Lock.WriteCard("R1", Building, Floor, Room, "Guest", 0, 0, End, End, false, CardNo);
    }

    TOstraDoorLock Lock;
};

TEST_F(OstraDoorLockTest, PortAndSwitchOperationsDoNotTouchTheEncoder) {
    Sys->AutoReadDoorCard = false;
    EXPECT_TRUE(Lock.OpenPort());
    EXPECT_TRUE(Lock.ClosePort());
    Lock.Beep();
    Lock.ShowOptionForm();  // no dialog installed: nothing happens
    EXPECT_TRUE(Log.Snapshot().empty());
}

TEST_F(OstraDoorLockTest, ReadsTheCardOnThePortThatTheOptionsName) {
    CardRoad::LayGuestCard(Port, 26);
    int64_t CardNo = 0;
    ASSERT_TRUE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 26);
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"读卡成功 CardNo=26"});

    // COM1 has no encoder: the port does not open and nothing is read.
    Log.Clear();
    Opt->SetPortName("COM1");
    CardNo = 77;
    EXPECT_FALSE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 77);
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"打开串口失败，返回: h=-99"});

    // A name outside COM1..COM13 opens nothing either.
    Log.Clear();
    Opt->SetPortName("com3");
    EXPECT_FALSE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 77);
}

TEST_F(OstraDoorLockTest, ReadFailuresLeaveTheCardNumberAlone) {
    int64_t CardNo = 5;
    // No card on the encoder.
    EXPECT_FALSE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 5);
    ASSERT_EQ(Log.Snapshot().size(), 1u);
    EXPECT_EQ(Log.Snapshot()[0].rfind("读卡失败，返回：r=-", 0), 0u) << Log.Snapshot()[0];

    // A blank card is no guest card.
    Log.Clear();
    ASSERT_EQ(lycomm::LayBlankCard(Port, lycomm::kFactoryPassword), "");
    EXPECT_FALSE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 5);
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"读卡失败，返回：r=-700"});
}

TEST_F(OstraDoorLockTest, BadCodesAreLoggedConversionErrors) {
    const TDateTime End = EncodeDate(2030, 1, 2) + EncodeTime(9, 5, 0);
    int64_t CardNo = 0;
    for (const char* Bad : {"A1", ""}) {
        Log.Clear();
        EXPECT_FALSE(Issue(Bad, "1", "101", End, CardNo));
        EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{std::string("'") + Bad +
                                                           "' is not a valid integer value"});
        EXPECT_FALSE(Issue("1", Bad, "101", End, CardNo));
    }
    EXPECT_EQ(CardNo, 0);

    // The codes are converted before the port's handle is looked at: with
    // no encoder on COM1 the conversion error is still the one line.
    Log.Clear();
    Opt->SetPortName("COM1");
    EXPECT_FALSE(Issue("A1", "1", "101", End, CardNo));
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"'A1' is not a valid integer value"});
    Opt->SetPortName("COM3");

    // The port was closed again: the next operation opens it as usual.
    CardRoad::LayGuestCard(Port, 9);
    EXPECT_TRUE(Lock.ReadCard(CardNo));
    EXPECT_EQ(CardNo, 9);
}

TEST_F(OstraDoorLockTest, TheLibraryRefusesBuildingZeroWithItsCode) {
    int64_t CardNo = 0;
    const TDateTime End = EncodeDate(2030, 1, 2) + EncodeTime(9, 5, 0);
    EXPECT_FALSE(Issue("0", "1", "101", End, CardNo));
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"写卡失败，返回: r=-854"});
    EXPECT_EQ(CardNo, 0);
}

TEST_F(OstraDoorLockTest, UnreachableCardDatabaseFailsTheIssue) {
    Road->SetSqlServer("127.0.0.1;PORT=1");
    int64_t CardNo = 0;
    const TDateTime End = EncodeDate(2030, 1, 2) + EncodeTime(9, 5, 0);
    EXPECT_FALSE(Issue("1", "1", "101", End, CardNo));
    EXPECT_EQ(CardNo, 0);
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"写卡失败，返回: r=-840"});
    Road->SetSqlServer(CardRoad::CardDbServer().value_or("127.0.0.1;PORT=1"));
}

TEST_F(OstraDoorLockTest, UnregisteredLibraryIsALoggedCreationError) {
    Road->Register(false);
    int64_t CardNo = 3;
    EXPECT_FALSE(Lock.ReadCard(CardNo));
    EXPECT_FALSE(Lock.EraseCard());
    Road->Register(true);
    EXPECT_EQ(CardNo, 3);
    const auto Lines = Log.Snapshot();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_NE(Lines[0].find("Pendrix.MervCard"), std::string::npos) << Lines[0];
}

// With the card database of the test run.
class OstraDoorLockDbTest : public OstraDoorLockTest {
  protected:
    void SetUp() override {
        OSTRA_REQUIRE_CARD_DB();
        Turn = std::make_unique<CardDbTurn>();
        OstraDoorLockTest::SetUp();
    }
    std::unique_ptr<CardDbTurn> Turn;
};

TEST_F(OstraDoorLockDbTest, IssueReadEraseOneCard) {
    ASSERT_EQ(lycomm::LayBlankCard(Port, lycomm::kFactoryPassword), "");
    const TDateTime End = EncodeDate(2025, 1, 2) + EncodeTime(9, 5, 0);
    int64_t Issued = 0;
    ASSERT_TRUE(Issue("1", "1", "101", End, Issued));
    ASSERT_GT(Issued, 0);
    const auto Lines = Log.Snapshot();
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0], "CardNumber=" + cardlib::CardNumberHex(static_cast<int32_t>(Issued)));
    EXPECT_EQ(Lines[1], "写卡成功，CardNo=" + std::to_string(Issued));

    // The block carries the end of validity of the issue: 2025-01-02 09:05.
    const auto Card = lycomm::PeekCard(Port);
    ASSERT_TRUE(Card);
    const auto& Block = Card->second;
    EXPECT_EQ(Block[0], 0x1B);
    EXPECT_EQ((Block[9] << 8) | Block[10], cardlib::PackedDate(25, 1, 2));
    EXPECT_EQ(Block[11], 0x09);
    EXPECT_EQ(Block[12], 0x05);
    EXPECT_EQ(Block[18], 1);
    EXPECT_EQ(Block[17], 1);

    int64_t Read = 0;
    ASSERT_TRUE(Lock.ReadCard(Read));
    EXPECT_EQ(Read, Issued);

    Log.Clear();
    ASSERT_TRUE(Lock.EraseCard());
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"注销成功"});
    const auto Erased = lycomm::PeekCard(Port);
    ASSERT_TRUE(Erased);
    for (uint8_t B : Erased->second) EXPECT_EQ(B, 0xFF);

    // An erased card cannot be erased again.
    Log.Clear();
    EXPECT_FALSE(Lock.EraseCard());
    EXPECT_EQ(Log.Snapshot(), std::vector<std::string>{"注销失败，返回: r=-700"});
}

TEST_F(OstraDoorLockDbTest, IssuesFromManyThreadsAtOnceAllSucceedWithDistinctNumbers) {
    ASSERT_EQ(lycomm::LayBlankCard(Port, lycomm::kFactoryPassword), "");
    constexpr int Threads = 8;
    const TDateTime End = EncodeDate(2030, 6, 1) + EncodeTime(12, 0, 0);
    std::vector<int64_t> CardNos(Threads, 0);
    std::vector<char> Ok(Threads, 0);
    std::vector<std::thread> Pool;
    for (int I = 0; I < Threads; ++I)
        Pool.emplace_back([&, I] { Ok[I] = Issue("1", "1", "101", End, CardNos[I]); });
    for (auto& T : Pool) T.join();
    std::set<int64_t> Distinct;
    for (int I = 0; I < Threads; ++I) {
        EXPECT_TRUE(Ok[I]) << I;
        Distinct.insert(CardNos[I]);
    }
    EXPECT_EQ(Distinct.size(), static_cast<std::size_t>(Threads));
    EXPECT_EQ(Log.CountPrefix("写卡成功，CardNo="), static_cast<std::size_t>(Threads));
}

}  // namespace
}  // namespace ostra::lockdrivertest
