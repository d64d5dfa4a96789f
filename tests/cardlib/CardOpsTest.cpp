// OpenPort, ClosePort, readCard and the checks of writeCard on the real
// encoder simulator, without the card database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cardlib/CardLibError.h"
#include "cardlib/MervCardOps.h"
#include "tests/cardlib/SimulatorFixture.h"
#include "tests/support/ChildProcess.h"

namespace ostra::cardlib {
namespace {

using testing::SimulatorFolder;
namespace fs = std::filesystem;

// The real driver, counting the calls that reach it.
class CountingDriver final : public EncoderDriver {
  public:
    uint8_t CreateCard(uint8_t port) override {
        ++creates;
        return LyCommDriver().CreateCard(port);
    }
    void DestroyCard() override {
        ++destroys;
        LyCommDriver().DestroyCard();
    }
    uint8_t ReadPass(const PasswordBytes& p, CardBlock& b) override {
        ++reads;
        return LyCommDriver().ReadPass(p, b);
    }
    uint8_t WritePass(const PasswordBytes& p, const CardBlock& b) override {
        ++writes;
        return LyCommDriver().WritePass(p, b);
    }
    int creates = 0, destroys = 0, reads = 0, writes = 0;
};

// A driver library that cannot be found.
class MissingDriver final : public EncoderDriver {
  public:
    uint8_t CreateCard(uint8_t) override { throw CardLibError("driver missing"); }
    void DestroyCard() override { throw CardLibError("driver missing"); }
    uint8_t ReadPass(const PasswordBytes&, CardBlock&) override {
        throw CardLibError("driver missing");
    }
    uint8_t WritePass(const PasswordBytes&, const CardBlock&) override {
        throw CardLibError("driver missing");
    }
};

class FixedSettings final : public CardSettingsSource {
  public:
    CardSettings Read() override {
        ++reads;
        return value;
    }
    CardSettings value{"127.0.0.1;PORT=1", "ABCDE"};
    int reads = 0;
};

class CardOps : public ::testing::Test {
  protected:
    SimulatorFolder sim;
    CountingDriver driver;
    ModuleState state;
    std::string cardNo = "keep-card", roomNo = "keep-room", endDate = "keep-end";

    void NewInstance() { InitializeInstance(state); }
    void ExpectTextsUntouched() {
        EXPECT_EQ(cardNo, "keep-card");
        EXPECT_EQ(roomNo, "keep-room");
        EXPECT_EQ(endDate, "keep-end");
    }
    static lycomm::Block GuestBlock(uint8_t kind) {
        lycomm::Block b;
        b.fill(0xFF);
        b[0] = kind;
        b[6] = 0x1A, b[7] = 0, b[8] = 0;
        b[9] = 0x31, b[10] = 0xCF, b[11] = 0x12, b[12] = 0x05;
        b[15] = 0x01, b[16] = 0x01, b[17] = 1, b[18] = 1;
        return b;
    }
};

TEST_F(CardOps, ClosePortOnANewInstanceCallsNoDriverFunction) {
    NewInstance();
    EXPECT_EQ(ClosePort(state, driver), 0);
    EXPECT_EQ(driver.creates + driver.destroys + driver.reads + driver.writes, 0);
}

TEST_F(CardOps, OpenPortOpensTheNextPortNumberAndCloseClosesIt) {
    SimulatorFolder::EncoderWithBlankCard(1);
    NewInstance();
    EXPECT_EQ(OpenPort(state, driver, 0), 1);
    EXPECT_EQ(state.PortState, 1);
    EXPECT_EQ(ClosePort(state, driver), 0);
    EXPECT_EQ(ClosePort(state, driver), 0);
    EXPECT_EQ(driver.destroys, 2);
    EXPECT_EQ(state.PortState, 1);  // a close leaves the state as it was
    // After the close the driver has no port open: the read fails.
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), kBlockReadFailed);
}

TEST_F(CardOps, OpenPortWithNoEncoderAttachedFails) {
    NewInstance();
    EXPECT_EQ(OpenPort(state, driver, 2), kPortNotOpened);
    EXPECT_EQ(state.PortState, 0);
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), 0);
    ExpectTextsUntouched();
    EXPECT_EQ(driver.reads, 0);
}

TEST_F(CardOps, OpenPortWithADriverByteOfTwoStillReadsButNeverCloses) {
    ASSERT_EQ(lycomm::Attach(1, 2), "");
    ASSERT_EQ(lycomm::LayBlankCard(1, lycomm::kFactoryPassword), "");
    NewInstance();
    EXPECT_EQ(OpenPort(state, driver, 0), kPortNotOpened);
    EXPECT_EQ(state.PortState, 2);
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), kBlockReadFailed);
    EXPECT_EQ(driver.reads, 1);
    EXPECT_EQ(ClosePort(state, driver), 0);
    EXPECT_EQ(driver.destroys, 0);
}

TEST_F(CardOps, OpenPortRejectsAPortThatDoesNotFitAByte) {
    NewInstance();
    try {
        OpenPort(state, driver, 255);
        FAIL() << "port 255 was accepted";
    } catch (const CardLibError& e) {
        EXPECT_EQ(e.Code(), kOverflowCode);
    }
    EXPECT_THROW(OpenPort(state, driver, -2), CardLibError);
    EXPECT_EQ(state.PortState, -1);
    EXPECT_EQ(driver.creates, 0);
}

TEST_F(CardOps, AMissingDriverFailsOpenAndReadButNotClose) {
    MissingDriver missing;
    NewInstance();
    EXPECT_THROW(OpenPort(state, missing, 0), CardLibError);
    EXPECT_EQ(state.PortState, -1);
    state.PortState = 1;
    EXPECT_EQ(ClosePort(state, missing), 0);
    EXPECT_THROW(ReadCard(state, missing, cardNo, roomNo, endDate), CardLibError);
}

TEST_F(CardOps, ANewInstanceStopsReadsOfAnOpenedOne) {
    SimulatorFolder::EncoderWithBlankCard(1);
    NewInstance();
    ASSERT_EQ(OpenPort(state, driver, 0), 1);
    NewInstance();  // a second instance in the same apartment
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), 0);
    ExpectTextsUntouched();
    EXPECT_EQ(driver.reads, 0);
}

TEST_F(CardOps, ReadCardResultCodes) {
    SimulatorFolder::EncoderWithBlankCard(1);
    NewInstance();
    ASSERT_EQ(OpenPort(state, driver, 0), 1);

    // Blank (or cancelled) card.
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), -700);
    ExpectTextsUntouched();
    SimulatorFolder::PutBlock(1, GuestBlock(0x01));
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), -500);
    SimulatorFolder::PutBlock(1, GuestBlock(0xAA));
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), -600);
    SimulatorFolder::PutBlock(1, GuestBlock(0x5A));
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), -700);
    ExpectTextsUntouched();

    // A guest card, in both kinds.
    for (uint8_t kind : {uint8_t{0x1B}, uint8_t{0x0B}}) {
        SimulatorFolder::PutBlock(1, GuestBlock(kind));
        cardNo = roomNo = endDate = "";
        EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), 0);
        EXPECT_EQ(cardNo, "00000026");
        EXPECT_EQ(roomNo, "01#01#0101");
        EXPECT_EQ(endDate, "202412311205");
        EXPECT_EQ(state.LastCardResult, 0);
    }
}

TEST_F(CardOps, AFailedBlockReadIsMinus128AndLeavesTheTexts) {
    ASSERT_EQ(lycomm::Attach(1, std::nullopt), "");
    NewInstance();
    ASSERT_EQ(OpenPort(state, driver, 0), 1);
    // No card lying there: the driver answers 0.
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), kBlockReadFailed);
    EXPECT_EQ(state.LastCardResult, -99);
    // A card with another password: the driver answers 2.
    ASSERT_EQ(lycomm::LayBlankCard(1, {1, 2, 3, 4}), "");
    EXPECT_EQ(ReadCard(state, driver, cardNo, roomNo, endDate), kBlockReadFailed);
    ExpectTextsUntouched();
}

struct CheckCase {
    const char* endDate;
    int16_t building;
    int16_t floor;
    const char* rooms;
    int16_t expected;
};

TEST_F(CardOps, WriteCardChecksComeFirstAndInOrder) {
    const CheckCase cases[] = {
        {"20241231120", 1, 1, "101", kBadEndDate},
        {"199912312359", 1, 1, "101", kBadEndDate},
        {"2024123112x5", 1, 1, "101", kBadEndDate},
        {"20241231120", 0, 1, "101", kBadEndDate},  // the end date is tested first
        {"202412311205", 0, 1, "101", kBadBuilding},
        {"202412311205", 100, 1, "101", kBadBuilding},
        {"202412311205", -1, 1, "101", kBadBuilding},
        {"202412311205", 1, 0, "101", kBadFloor},
        {"202412311205", 1, 100, "101", kBadFloor},
        {"202412311205", 1, -1, "101", kBadFloor},
        {"202412311205", 1, 1, "0a1f", kBadRoom},
        {"202412311205", 1, 1, "1G", kBadRoom},
        {"202412311205", 1, 1, "房", kBadRoom},
        // Past the checks, an unreachable server.
        {"202412311205", 1, 1, "101", kDatabaseUnavailable},
        {"200612311200", 1, 1, "0000", kDatabaseUnavailable},
        {"2000010100001", 99, 99, " 0A1F ", kDatabaseUnavailable},
    };
    FixedSettings settings;
    for (const CheckCase& c : cases) {
        std::string card = "in";
        WriteCardArgs args{1, c.endDate, c.building, c.floor, c.rooms, "USER1"};
        EXPECT_EQ(WriteCard(state, driver, settings, args, card), c.expected)
            << c.endDate << " " << c.building << " " << c.floor << " " << c.rooms;
        EXPECT_EQ(card, "in");
    }
    // The settings are read on every call, before any argument is examined.
    EXPECT_EQ(settings.reads, static_cast<int>(std::size(cases)));
    EXPECT_EQ(state.ServerAddress, "127.0.0.1;PORT=1");
    EXPECT_EQ(state.SiteCode, "ABCDE");
    EXPECT_EQ(driver.writes, 0);
}

// An unreadable "Setting.ini" gives the defaults and is said on standard
// error once, until the file reads again; a missing one is not said. Root
// reads a file of mode 000 all the same, so the issues run in a child process
// which, when this runs as root, first drops to user and group 65534, the
// file's owner; the child's standard error goes to a file.
TEST_F(CardOps, AnUnreadableSettingsFileIsSaidOnceUntilItReadsAgain) {
    testsupport::TTempDir dir{"ostra-cardlib"};
    fs::permissions(dir.Path(), fs::perms::all);
    const std::string file = dir / kSettingFileName, said = dir / "stderr.txt";
    testsupport::WriteFile(file, "[Setting]\r\nSQLServer=10.0.0.9;PORT=1\r\nSiteCode=ABCDE\r\n");
    if (::geteuid() == 0 && ::chown(file.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "root here cannot give a file to uid 65534: " << std::strerror(errno);

    const testsupport::TBoundUserRun run = testsupport::RunAsBoundUser(dir.Dir(), [&] {
        const int err = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (err < 0 || ::dup2(err, 2) < 0) return 2;
        IniCardSettings settings(dir.Path().string()), missing(dir / "none");
        // The settings an issue takes (its end date stops it before the database).
        auto issue = [&](CardSettingsSource& source) {
            std::string card = "in";
            WriteCardArgs args{1, "20241231120", 1, 1, "101", "USER1"};
            WriteCard(state, driver, source, args, card);
            return state.ServerAddress + " " + state.SiteCode;
        };
        const std::string defaults = "127.0.0.1 00000";
        bool ok = ::chmod(file.c_str(), 0) == 0;
        ok = issue(settings) == defaults && issue(settings) == defaults && ok;
        ok = issue(missing) == defaults && issue(missing) == defaults && ok;
        ok = ::chmod(file.c_str(), 0644) == 0 && issue(settings) == "10.0.0.9;PORT=1 ABCDE" && ok;
        ok = ::chmod(file.c_str(), 0) == 0 && issue(settings) == defaults && ok;
        return ok ? 0 : 1;
    });
    if (!run.Code) GTEST_SKIP() << run.Why;
    EXPECT_EQ(*run.Code, 0) << "the issues did not all take the settings expected";
    const std::string line = "Pendrix: cannot read " + file + " (" + std::strerror(EACCES) +
                             "); the defaults are in force (SQLServer 127.0.0.1, SiteCode 00000)\n";
    EXPECT_EQ(testsupport::ReadFile(said), line + line);
}

}  // namespace
}  // namespace ostra::cardlib
