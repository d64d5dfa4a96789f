#include <gtest/gtest.h>

#include <thread>

#include "platform/com/Com.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/ExecutablePath.h"
#include "tests/core/CoreTestSupport.h"

namespace ostra {
namespace {

using test::Query;
using test::ServiceGlobals;

class RecordDbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::MakeClientMdb(Db());
        Records.Open(Db());
        ASSERT_TRUE(Records.IsOpen());
    }
    std::string Db() { return G.Dir / "Client.mdb"; }

    ServiceGlobals G;
    TDoorlockRecordManager Records;
};

TEST_F(RecordDbTest, RoomTimes) {
    EXPECT_EQ(Records.GetLastCheckInTime("0102101"), 0);
    EXPECT_TRUE(G.Entries().empty()) << ::testing::PrintToString(G.Entries());
    const TDateTime t = EncodeDateTime({2008, 5, 1, 13, 30, 0, 0});
    Records.UpdateLastCheckInTime("0102101", t);  // no row: added
    EXPECT_EQ(Records.GetLastCheckInTime("0102101"), t);
    Records.UpdateLastCheckInTime("0102101", t + 1);  // a row: changed, nothing logged
    EXPECT_EQ(Records.GetLastCheckInTime("0102101"), t + 1);
    EXPECT_EQ(Query(Db(), "select count(*) from T_Room"), "1");
    EXPECT_EQ(G.Entries(), std::vector<std::string>{"新建房间0102101"});
}

TEST_F(RecordDbTest, NullAndZeroTimesReadAsZero) {
    Query(Db(), "insert into T_Room(RoomNo, LastCheckInTime) values ('A', null), ('B', 0)");
    EXPECT_EQ(Records.GetLastCheckInTime("A"), 0);
    EXPECT_EQ(Records.GetLastCheckInTime("B"), 0);
    EXPECT_TRUE(G.Entries().empty());
}

TEST_F(RecordDbTest, DuplicateRoomsAreAllUpdated) {
    Records.InsertRoom("R", 1.5);
    Records.InsertRoom("R", 2.5);
    EXPECT_EQ(Records.GetLastCheckInTime("R"), 1.5);
    Records.UpdateLastCheckInTime("R", 3.5);
    EXPECT_EQ(Query(Db(), "select LastCheckInTime from T_Room"), "3.5|3.5");
}

TEST_F(RecordDbTest, QuotedRoomKeysAreFoundLikeAnyOther) {
    const std::string key = "1'2\"; drop table T_Room; --";
    Records.UpdateLastCheckInTime(key, 42.25);
    EXPECT_EQ(Records.GetLastCheckInTime(key), 42.25);
    EXPECT_EQ(Records.GetLastCheckInTime("1"), 0);
    EXPECT_EQ(Query(Db(), "select RoomNo from T_Room"), key);
}

TEST_F(RecordDbTest, IssueRecords) {
    Records.InsertIssueCardRecord("R1", "0", "0102101", 1, 1.25, 2.5, 3.75, true, "张三", 4.0);
    EXPECT_EQ(Query(Db(),
                    "select RegisterId, CardNo, RoomNo, CardType, LastCheckInTime, "
                    "CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime from "
                    "T_IssueCardRecord"),
              "R1,0,0102101,1,1.25,2.5,3.75,1,张三,4.0");
    EXPECT_TRUE(G.Entries().empty());
}

TEST_F(RecordDbTest, DatabaseErrorsAreLoggedAndSwallowed) {
    Query(Db(), "drop table T_IssueCardRecord");
    Query(Db(), "create table T_Only(x)");
    Query(Db(), "drop table T_Room");
    Records.InsertIssueCardRecord("R1", "0", "k", 1, 0, 0, 0, false, "", 0);
    EXPECT_EQ(Records.GetLastCheckInTime("k"), 0);
    Records.UpdateLastCheckInTime("k", 1);  // fails: no room added, no "新建房间"
    Records.InsertRoom("k", 1);
    EXPECT_EQ(G.Entries(),
              (std::vector<std::string>{"no such table: T_IssueCardRecord", "no such table: T_Room",
                                        "no such table: T_Room", "no such table: T_Room"}));
}

TEST(RecordDb, MissingFileIsLoggedOnceAndNeverCreated) {
    ServiceGlobals g;
    TDoorlockRecordManager records;
    records.Open(g.Dir / "Client.mdb");
    EXPECT_FALSE(records.IsOpen());
    EXPECT_EQ(g.Entries(), std::vector<std::string>{"unable to open database file"});
    EXPECT_EQ(records.GetLastCheckInTime("k"), 0);
    records.UpdateLastCheckInTime("k", 1);
    records.InsertIssueCardRecord("R1", "0", "k", 1, 0, 0, 0, false, "", 0);
    EXPECT_EQ(g.Entries().size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(g.Dir / "Client.mdb"));
}

TEST(RecordDb, ModuleStartAndEnd) {
    ServiceGlobals g;
    CreateRecordManager();
    ASSERT_NE(RecordManager, nullptr);
    EXPECT_EQ(RecordManager->DatabasePath(), ExecutableDirectory() + "Client.mdb");
    EXPECT_EQ(com::CurrentApartmentKind(), com::ApartmentKind::SingleThreaded);
    FreeRecordManager();
    EXPECT_EQ(RecordManager, nullptr);
    EXPECT_EQ(com::CurrentApartmentKind(), com::ApartmentKind::None);
}

TEST(RecordDb, DamagedFileFailsAtOpen) {
    ServiceGlobals g;
    test::WriteFile(g.Dir / "Client.mdb", std::string(4096, 'j'));
    TDoorlockRecordManager records;
    records.Open(g.Dir / "Client.mdb");
    EXPECT_FALSE(records.IsOpen());
    EXPECT_EQ(g.Entries(), std::vector<std::string>{"file is not a database"});
}

TEST_F(RecordDbTest, ConcurrentOperationsNeverOverlap) {
    constexpr int Threads = 8, PerThread = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            const std::string room = "room" + std::to_string(t);
            for (int i = 0; i < PerThread; ++i) {
                Records.UpdateLastCheckInTime(room, i + 1);
                Records.InsertIssueCardRecord("R", std::to_string(i), room, 1, 0, 0, 0, false, "",
                                              0);
                EXPECT_EQ(Records.GetLastCheckInTime(room), i + 1);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(Query(Db(), "select count(*) from T_Room"), std::to_string(Threads));
    EXPECT_EQ(Query(Db(), "select count(*) from T_IssueCardRecord"),
              std::to_string(Threads * PerThread));
    EXPECT_EQ(G.Entries().size(), static_cast<size_t>(Threads));  // one "新建房间" per room
}

}  // namespace
}  // namespace ostra
