// Issue and cancel on the encoder simulator and the private card database,
// with the rows checked after each step.
#include <gtest/gtest.h>

#include "cardlib/CardLibError.h"
#include "cardlib/MervCardOps.h"
#include "tests/cardlib/CardDbFixture.h"
#include "tests/cardlib/SimulatorFixture.h"

namespace ostra::cardlib {
namespace {

class ServerSettings final : public CardSettingsSource {
  public:
    explicit ServerSettings(std::string server) : server_(std::move(server)) {}
    CardSettings Read() override { return {server_, siteCode}; }
    std::string siteCode = "HOTEL";

  private:
    std::string server_;
};

class CardIssue : public testing::CardDbTest {
  protected:
    void SetUp() override {
        testing::CardDbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        settings = std::make_unique<ServerSettings>(Server());
        testing::SimulatorFolder::EncoderWithBlankCard(1);
        InitializeInstance(state);
        ASSERT_EQ(OpenPort(state, LyCommDriver(), 0), 1);
    }

    int16_t Issue(const std::string& rooms, std::string& cardNo, int16_t bldg = 1,
                  int16_t floor = 1, const std::string& end = "202412311205",
                  const std::string& holder = "USER1") {
        WriteCardArgs args{1, end, bldg, floor, rooms, holder};
        return WriteCard(state, LyCommDriver(), *settings, args, cardNo);
    }
    int16_t Cancel() {
        std::string cardNo = "00000028";
        WriteCardArgs args{1, "200612311200", 1, 1, "0000", "USER1"};
        int16_t r = WriteCard(state, LyCommDriver(), *settings, args, cardNo);
        EXPECT_EQ(cardNo, "00000028");
        return r;
    }
    std::vector<std::optional<std::string>> Room(const std::string& room) {
        auto rows =
            Rows("SELECT State, CardQTY, SetCard FROM RoomList WHERE RoomNo = '" + room + "'",
                 {"State", "CardQTY", "SetCard"});
        return rows.at(0);
    }
    std::vector<std::vector<std::optional<std::string>>> Cards() {
        return Rows(
            "SELECT InfoNo, CardNo, CardType, cardName, Name_F, BuildNo, FloorNo, RoomNo, "
            "ChkOutMark, ChkOutDate, EndDate, UserName FROM CardRecord ORDER BY InfoNo",
            {"InfoNo", "CardNo", "CardType", "cardName", "Name_F", "BuildNo", "FloorNo", "RoomNo",
             "ChkOutMark", "ChkOutDate", "EndDate", "UserName"});
    }

    testing::SimulatorFolder sim;
    std::unique_ptr<ServerSettings> settings;
    ModuleState state;
};

TEST_F(CardIssue, IssueReadCancel) {
    SetCounter("25", "0");
    std::string cardNo = "00000028";
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "00001A");
    EXPECT_EQ(Counter(), "26");
    EXPECT_EQ(Room("0101"), (std::vector<std::optional<std::string>>{"1", "1", ""}));
    auto cards = Cards();
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0], (std::vector<std::optional<std::string>>{
                            "1", "00000026", "1", "宾客卡", "USER1", "1", "1", "0101", "",
                            "1900-01-01 00:00:00", "2024-12-31 12:05:00", "000"}));

    lycomm::Block block = testing::SimulatorFolder::CardOn(1);
    EXPECT_EQ(block[0], 0x1B);
    EXPECT_EQ(std::string(block.begin() + 1, block.begin() + 6), "HOTEL");
    EXPECT_EQ(block[6], 0x1A);
    EXPECT_EQ(block[9], 0x31);
    EXPECT_EQ(block[10], 0xCF);
    EXPECT_EQ(block[13], 0x00);
    EXPECT_EQ(block[14], 0x11);
    EXPECT_EQ(block[15], 0x01);
    EXPECT_EQ(block[16], 0x01);

    std::string readNo, roomNo, endDate;
    ASSERT_EQ(ReadCard(state, LyCommDriver(), readNo, roomNo, endDate), 0);
    EXPECT_EQ(readNo, "00000026");
    EXPECT_EQ(roomNo, "01#01#0101");
    EXPECT_EQ(endDate, "202412311205");

    // A second card for the room: the count goes to 2; a cancel lowers it.
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "00001B");
    EXPECT_EQ(Room("0101")[1], "2");
    ASSERT_EQ(Cancel(), 0);
    EXPECT_EQ(Room("0101"), (std::vector<std::optional<std::string>>{"", "1", ""}));
    cards = Cards();
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[1][0], "2");
    EXPECT_EQ(cards[1][1], "00000027");
    EXPECT_EQ(cards[1][8], "#1");
    EXPECT_NE(cards[1][9], "1900-01-01 00:00:00");
    EXPECT_EQ(cards[0][8], "");  // the first card stays out
    for (uint8_t b : testing::SimulatorFolder::CardOn(1)) EXPECT_EQ(b, 0xFF);
    EXPECT_EQ(Counter(), "27");

    // The card is cancelled now: a second cancel finds no guest card.
    EXPECT_EQ(Cancel(), kNotAGuestCard);
}

TEST_F(CardIssue, CancellingTheOnlyCardOfARoomKeepsItsRow) {
    std::string cardNo;
    ASSERT_EQ(Issue("0102", cardNo), 0);  // CardQTY 1 -> 2
    Sql("UPDATE RoomList SET CardQTY = 1, State = '1' WHERE RoomNo = '0102'");
    ASSERT_EQ(Cancel(), 0);
    EXPECT_EQ(Room("0102"), (std::vector<std::optional<std::string>>{"1", "1", ""}));
    EXPECT_EQ(Cards().at(0)[8], "#1");
}

TEST_F(CardIssue, CounterRules) {
    std::string cardNo;
    SetCounter("5", "100");
    ASSERT_EQ(Issue("0A1F", cardNo, 2, 5), 0);
    EXPECT_EQ(cardNo, "000065");
    EXPECT_EQ(Counter(), "6");
    ASSERT_EQ(Issue("0A1F", cardNo, 2, 5), 0);
    EXPECT_EQ(cardNo, "000065");
    EXPECT_EQ(Room("0A1F")[1], "2");

    SetCounter("16777215", "0");
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "000001");
    EXPECT_EQ(Counter(), "16777216");
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "000001");

    SetCounter("NULL", "NULL");
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "000001");
    EXPECT_EQ(Counter(), std::nullopt);

    Sql("DELETE FROM SpecRecord");
    ASSERT_EQ(Issue("101", cardNo), 0);
    EXPECT_EQ(cardNo, "000001");
    EXPECT_TRUE(Rows("SELECT InfoNo FROM SpecRecord", {"InfoNo"}).empty());
}

TEST_F(CardIssue, ARoomNotInTheListIsStillIssued) {
    std::string cardNo;
    ASSERT_EQ(Issue("0999", cardNo, 9, 9), 0);
    EXPECT_TRUE(Rows("SELECT RoomNo FROM RoomList WHERE RoomNo = '0999'", {"RoomNo"}).empty());
    EXPECT_EQ(Cards().at(0)[7], "0999");
}

TEST_F(CardIssue, AHolderNameNeverBecomesSql) {
    std::string cardNo;
    const std::string names[] = {"O'Brien", "x'); DELETE FROM RoomList; --", "back\\'slash",
                                 "张三"};
    for (const std::string& name : names)
        ASSERT_EQ(Issue("101", cardNo, 1, 1, "202412311205", name), 0);
    auto cards = Cards();
    ASSERT_EQ(cards.size(), std::size(names));
    for (size_t i = 0; i < std::size(names); ++i) EXPECT_EQ(cards[i][4], names[i]);
    EXPECT_EQ(Rows("SELECT RoomNo FROM RoomList", {"RoomNo"}).size(), 4u);
}

TEST_F(CardIssue, AFailedCardWriteKeepsTheBookings) {
    ASSERT_EQ(lycomm::TakeCard(1), "");
    std::string cardNo = "in";
    EXPECT_EQ(Issue("101", cardNo), kBlockWriteFailed);
    EXPECT_EQ(cardNo, "000001");
    EXPECT_EQ(Counter(), "1");
    EXPECT_EQ(Room("0101")[1], "1");
    EXPECT_EQ(Cards().size(), 1u);
}

TEST_F(CardIssue, CancelFailuresChangeNothing) {
    std::string cardNo;
    ASSERT_EQ(Issue("0103", cardNo), 0);  // CardQTY 3 -> 4

    // A card with another password: the read fails.
    ASSERT_EQ(lycomm::LayBlankCard(1, {1, 2, 3, 4}), "");
    EXPECT_EQ(Cancel(), kBlockReadFailed);
    // A blank card, and cards of kinds other than guest cards.
    ASSERT_EQ(lycomm::LayBlankCard(1, lycomm::kFactoryPassword), "");
    EXPECT_EQ(Cancel(), kNotAGuestCard);
    lycomm::Block other;
    other.fill(0xFF);
    for (auto [kind, code] : {std::pair<uint8_t, int16_t>{0x01, -500}, {0xAA, -600}}) {
        other[0] = kind;
        testing::SimulatorFolder::PutBlock(1, other);
        EXPECT_EQ(Cancel(), code);
    }
    // The port of this apartment is not open.
    InitializeInstance(state);
    EXPECT_EQ(Cancel(), kNotAGuestCard);

    EXPECT_EQ(Room("0103")[1], "4");
    EXPECT_EQ(Cards().at(0)[8], "");
}

TEST_F(CardIssue, ACancelWhoseWriteFailsKeepsTheCheckOut) {
    std::string cardNo;
    ASSERT_EQ(Issue("0103", cardNo), 0);
    // The encoder now fails every write.
    ASSERT_EQ(lycomm::Attach(1, std::nullopt, 0), "");
    EXPECT_EQ(Cancel(), kBlockWriteFailed);
    EXPECT_EQ(Room("0103")[1], "3");
    EXPECT_EQ(Cards().at(0)[8], "#1");
}

TEST_F(CardIssue, ImpossibleEndTimesAreRefusedBeforeAnyBooking) {
    std::string cardNo = "in";
    for (const char* end : {"202402301200", "202413011200", "202412312460", "210001010000"})
        EXPECT_EQ(Issue("101", cardNo, 1, 1, end), kBadEndDate) << end;
    EXPECT_EQ(cardNo, "in");
    EXPECT_EQ(Counter(), "0");
    EXPECT_TRUE(Cards().empty());
}

TEST_F(CardIssue, ABadSiteCodeFailsTheIssueBeforeAnyBooking) {
    settings->siteCode = "AB";
    std::string cardNo = "in";
    EXPECT_THROW(Issue("101", cardNo), CardLibError);
    EXPECT_EQ(Counter(), "0");
    // A cancel does not use the site code.
    EXPECT_EQ(Cancel(), kNotAGuestCard);
}

TEST_F(CardIssue, ADatabaseRejectionFailsTheCallWithTheServersError) {
    std::string cardNo;
    try {
        Issue("101", cardNo, 1, 1, "202412311205", std::string(300, 'x'));
        FAIL() << "a name too long for its column was accepted";
    } catch (const DbError& e) {
        EXPECT_EQ(e.NativeError(), 1406) << e.what();
    }
    // What ran before the failing statement stays.
    EXPECT_EQ(Counter(), "1");
    EXPECT_EQ(Room("0101")[1], "1");
    EXPECT_TRUE(Cards().empty());
    for (uint8_t b : testing::SimulatorFolder::CardOn(1)) EXPECT_EQ(b, 0xFF);
}

}  // namespace
}  // namespace ostra::cardlib
