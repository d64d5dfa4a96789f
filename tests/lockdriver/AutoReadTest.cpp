// The card auto-read thread with the real lock object, card library and
// simulated encoder, and a listener standing in for the front desk; and the
// encoder turn that keeps card operations apart.
#include <gtest/gtest.h>

#include <thread>

#include "lockdriver/AutoReadDoorCardThreadUnit.h"
#include "lockdriver/CardTexts.h"
#include "lockdriver/EncoderLock.h"
#include "lockdriver/LockDriverUi.h"
#include "lockdriver/OstraDoorLockUnit.h"
#include "tests/lockdriver/DriverFixture.h"
#include "tests/support/FrontDesk.h"
#include "tests/support/FrontDeskListener.h"

namespace ostra::lockdrivertest {
namespace {

using testsupport::FrontDeskListener;

const std::string kRead26 = "读卡成功 CardNo=26";
const std::string kReadFailed = "读卡失败，返回：r=";

class UiRecorder : public ILockDriverUi {
  public:
    void ShowOptionForm() override {}
    void ShowError(const std::string& Text) override { Errors.push_back(Text); }
    std::vector<std::string> Errors;  // main thread only
};

class AutoReadTest : public DriverTestBase {
  protected:
    void SetUp() override {
        DriverTestBase::SetUp();
        Sys->AutoReadDoorCard = true;
        PrevUi = SetLockDriverUi(&Ui);
        Doorlock.store(&Lock);
    }
    void TearDown() override {
        StopAutoReadDoorCards();
        EXPECT_EQ(AutoReadDoorCardCount(), 0u);
        Doorlock.store(nullptr);
        SetLockDriverUi(PrevUi);
        DriverTestBase::TearDown();
    }
    void UseFrontDesk(uint16_t PmsPort) {
        Sys->PmsServer = "127.0.0.1";
        Sys->PmsServerPort = PmsPort;
    }
    // Lets the reading go on for a few more successful reads of card 26.
    void LetReadsGoOn() {
        const std::size_t Seen = Log.Count(kRead26);
        ASSERT_TRUE(Log.WaitFor(kRead26, Seen + 5));
    }

    TOstraDoorLock Lock;
    UiRecorder Ui;
    ILockDriverUi* PrevUi = nullptr;
};

TEST_F(AutoReadTest, SwitchOffStartsNothing) {
    Sys->AutoReadDoorCard = false;
    EXPECT_TRUE(Lock.OpenPort());
    EXPECT_EQ(AutoReadDoorCardCount(), 0u);
}

TEST_F(AutoReadTest, ReportsEachNewlyLaidCardOnce) {
    FrontDeskListener FrontDesk;
    UseFrontDesk(FrontDesk.Port());
    EXPECT_TRUE(Lock.OpenPort());
    EXPECT_EQ(AutoReadDoorCardCount(), 1u);
    ASSERT_TRUE(FrontDesk.WaitForAccepted(1));  // connected while created
    EXPECT_TRUE(Ui.Errors.empty());

    CardRoad::LayGuestCard(Port, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(1));
    EXPECT_EQ(FrontDesk.Messages()[0], "<ZeltRequest><DoorCardNo>26</DoorCardNo></ZeltRequest>");
    EXPECT_EQ(FrontDesk.Messages()[0].size(), 54u);
    ASSERT_TRUE(Log.WaitFor("发送完毕!"));
    EXPECT_EQ(Log.Count("发送读卡信息给pms:" + ZeltRequestText(26)), 1u);

    // While the card stays, the reads go on and nothing more is sent.
    LetReadsGoOn();
    EXPECT_EQ(FrontDesk.Messages().size(), 1u);
    EXPECT_EQ(FrontDesk.Accepted(), 1);

    // Taken away and laid back: reported again, on a new connection.
    const std::size_t Failed = Log.CountPrefix(kReadFailed);
    ASSERT_EQ(lycomm::TakeCard(Port), "");
    ASSERT_TRUE(Log.WaitForPrefix(kReadFailed, Failed + 1));
    CardRoad::LayGuestCard(Port, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(2));
    EXPECT_EQ(FrontDesk.Messages()[1], ZeltRequestText(26));
    EXPECT_EQ(FrontDesk.Accepted(), 2);

    // Another card with no failed read between: reported.
    CardRoad::ReplaceGuestCard(Port, 27);
    ASSERT_TRUE(FrontDesk.WaitForMessages(3));
    EXPECT_EQ(FrontDesk.Messages()[2], ZeltRequestText(27));
}

TEST_F(AutoReadTest, FrontDeskDownAtStartIsShownAndTheFirstCardConnectsAnew) {
    const uint16_t PmsPort = testsupport::FreePort();
    UseFrontDesk(PmsPort);
    EXPECT_TRUE(Lock.OpenPort());
    ASSERT_EQ(Ui.Errors.size(), 1u);
    const std::string Prefix = "PMS客户端未启动或者连接不正确";
    EXPECT_EQ(Ui.Errors[0].rfind(Prefix, 0), 0u) << Ui.Errors[0];
    EXPECT_GT(Ui.Errors[0].size(), Prefix.size());  // the error's own message follows
    EXPECT_EQ(Log.Count(Ui.Errors[0]), 1u);
    EXPECT_EQ(AutoReadDoorCardCount(), 1u);  // the thread runs all the same

    FrontDeskListener FrontDesk(PmsPort);
    CardRoad::LayGuestCard(Port, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(1));
    EXPECT_EQ(FrontDesk.Messages()[0], ZeltRequestText(26));
}

TEST_F(AutoReadTest, EachOpenPortStartsOneMoreReporter) {
    FrontDeskListener FrontDesk;
    UseFrontDesk(FrontDesk.Port());
    Lock.OpenPort();
    Lock.OpenPort();
    EXPECT_EQ(AutoReadDoorCardCount(), 2u);
    CardRoad::LayGuestCard(Port, 26);
    ASSERT_TRUE(FrontDesk.WaitForMessages(2));
    EXPECT_EQ(FrontDesk.Messages()[0], ZeltRequestText(26));
    EXPECT_EQ(FrontDesk.Messages()[1], ZeltRequestText(26));
    LetReadsGoOn();
    EXPECT_EQ(FrontDesk.Messages().size(), 2u);
}

TEST_F(AutoReadTest, WaitsForTheLockObjectToBePublished) {
    FrontDeskListener FrontDesk;
    UseFrontDesk(FrontDesk.Port());
    Doorlock.store(nullptr);
    Lock.OpenPort();
    CardRoad::LayGuestCard(Port, 26);
    Doorlock.store(&Lock);
    ASSERT_TRUE(FrontDesk.WaitForMessages(1));
    EXPECT_EQ(FrontDesk.Messages()[0], ZeltRequestText(26));
}

TEST_F(AutoReadTest, StopEndsEveryReporterAndANewOneCanStart) {
    FrontDeskListener FrontDesk;
    UseFrontDesk(FrontDesk.Port());
    Lock.OpenPort();
    Lock.OpenPort();
    StopAutoReadDoorCards();
    EXPECT_EQ(AutoReadDoorCardCount(), 0u);
    // Nothing reads any more: the log stays as it is.
    const std::size_t Lines = Log.Snapshot().size();
    CardRoad::LayGuestCard(Port, 26);
    int64_t CardNo = 0;
    ASSERT_TRUE(Lock.ReadCard(CardNo));  // one read of our own
    EXPECT_EQ(Log.Snapshot().size(), Lines + 1);
    EXPECT_TRUE(FrontDesk.Messages().empty());

    Lock.OpenPort();
    ASSERT_TRUE(FrontDesk.WaitForMessages(1));
    EXPECT_EQ(FrontDesk.Messages()[0], ZeltRequestText(26));
}

TEST(EncoderTurn, OneHolderAtATime) {
    TEncoderLock Lock;
    std::atomic<int> Inside{0};
    std::atomic<int> MostInside{0};
    long Counter = 0;  // guarded by the turn only
    std::vector<std::thread> Pool;
    for (int T = 0; T < 8; ++T)
        Pool.emplace_back([&] {
            for (int I = 0; I < 2000; ++I) {
                TEncoderTurn Turn(Lock);
                const int Now = ++Inside;
                int Seen = MostInside.load();
                while (Now > Seen && !MostInside.compare_exchange_weak(Seen, Now)) {
                }
                ++Counter;
                --Inside;
            }
        });
    for (auto& T : Pool) T.join();
    EXPECT_EQ(MostInside.load(), 1);
    EXPECT_EQ(Counter, 8 * 2000);
}

}  // namespace
}  // namespace ostra::lockdrivertest
