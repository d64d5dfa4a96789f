// The card database layer against the private MariaDB server: connection
// string, opening, RunSql's classification, status texts and errors.
#include <gtest/gtest.h>

#include "cardlib/CardDatabase.h"
#include "tests/cardlib/CardDbFixture.h"

namespace ostra::cardlib {
namespace {

TEST(CardDatabaseText, ConnectStringIsBuiltAsItStands) {
    EXPECT_EQ(BuildConnectString("127.0.0.1"),
              "Driver={SQL Server};server=127.0.0.1;uid=mervlockuser;pwd=vornakel%[&];"
              "database=DBMervLockTM");
    EXPECT_EQ(BuildConnectString("10.0.0.5;PORT=3307"),
              "Driver={SQL Server};server=10.0.0.5;PORT=3307;uid=mervlockuser;"
              "pwd=vornakel%[&];database=DBMervLockTM");
}

TEST(CardDatabaseText, ChangeOrQuery) {
    EXPECT_TRUE(IsChangeStatement("Update SpecRecord Set CardNo = CardNo + 1 Where InfoNo= 1"));
    EXPECT_TRUE(IsChangeStatement("Insert Into CardRecord (InfoNo) SELECT 1"));
    EXPECT_TRUE(IsChangeStatement("delete from RoomList"));
    EXPECT_TRUE(IsChangeStatement(" SELECT 1"));  // empty first word
    EXPECT_TRUE(IsChangeStatement("DATE x"));     // a piece of the list
    EXPECT_TRUE(IsChangeStatement("SERT x"));
    EXPECT_TRUE(IsChangeStatement("SELECT CardNo INTO @x FROM SpecRecord"));
    EXPECT_FALSE(IsChangeStatement("SELECT CardNo into @x FROM SpecRecord"));
    EXPECT_FALSE(IsChangeStatement("SELECT StartNo, CardNo FROM SpecRecord Where InfoNo= 1"));
    EXPECT_FALSE(IsChangeStatement("UPDATES x"));
}

TEST(CardDatabaseText, AnUnreachableServerLeavesANewUnopenedConnection) {
    std::unique_ptr<DbConnection> slot;
    EXPECT_FALSE(OpenDatabase(slot, "127.0.0.1;PORT=1"));
    ASSERT_NE(slot, nullptr);
    EXPECT_FALSE(slot->IsOpen());
    std::string status = "before";
    EXPECT_THROW(RunSql(*slot, "SELECT 1", status), CardLibError);
    EXPECT_EQ(status, "before");
}

using CardDatabase = testing::CardDbTest;

TEST_F(CardDatabase, OpenDatabaseReplacesTheConnection) {
    std::unique_ptr<DbConnection> slot;
    ASSERT_TRUE(OpenDatabase(slot, Server()));
    slot->Execute("SET @probe = 1");
    // A new session takes the old one's place: what the old one set is gone.
    // (Comparing addresses proves nothing: the allocator may hand one back.)
    ASSERT_TRUE(OpenDatabase(slot, Server()));
    EXPECT_TRUE(slot->IsOpen());
    auto rows = slot->Query("SELECT @probe AS p");
    ASSERT_EQ(rows->RecordCount(), 1);
    EXPECT_EQ(rows->Field("p"), std::nullopt);
}

TEST_F(CardDatabase, ChangesRunInTheirOwnCommittedTransaction) {
    std::unique_ptr<DbConnection> db;
    ASSERT_TRUE(OpenDatabase(db, Server()));
    std::string status;
    EXPECT_EQ(RunSql(*db, "Update SpecRecord Set CardNo = CardNo + 1 Where InfoNo= 1", status),
              nullptr);
    EXPECT_EQ(status, "Update query successful");
    // Seen from another connection: committed.
    EXPECT_EQ(Counter(), "1");

    EXPECT_EQ(RunSql(*db,
                     "Insert Into CardRecord (InfoNo, CardNo, Name_F) SELECT 7, '00000001', "
                     "'x' From SpecRecord",
                     status),
              nullptr);
    EXPECT_EQ(status, "Insert query successful");
    EXPECT_EQ(Rows("SELECT InfoNo FROM CardRecord", {"InfoNo"}).size(), 1u);

    // A statement beginning with a blank runs as a change.
    EXPECT_EQ(RunSql(*db, " UPDATE SpecRecord SET StartNo = 4 WHERE InfoNo = 1", status), nullptr);
    EXPECT_EQ(status, " query successful");
}

TEST_F(CardDatabase, QueriesReturnARecordsetAndCountIt) {
    std::unique_ptr<DbConnection> db;
    ASSERT_TRUE(OpenDatabase(db, Server()));
    std::string status = "before";
    auto rs = RunSql(*db, "SELECT StartNo, CardNo FROM SpecRecord Where InfoNo= 1  ", status);
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(status, "查询到1 条记录 ");
    EXPECT_EQ(rs->Field("cardno"), "0");
    EXPECT_EQ(rs->Field("StartNo"), "0");

    status = "before";
    rs = RunSql(*db, "SELECT StartNo, CardNo FROM SpecRecord Where InfoNo= 2", status);
    ASSERT_NE(rs, nullptr);
    EXPECT_TRUE(rs->Eof());
    EXPECT_TRUE(rs->Bof());
    EXPECT_EQ(status, "before");

    rs = RunSql(*db, "SELECT RoomNo, CardQTY FROM RoomList ORDER BY RoomNo", status);
    EXPECT_EQ(status, "查询到4 条记录 ");
    EXPECT_EQ(rs->Field("RoomNo"), "0101");
    EXPECT_EQ(rs->Field("CardQTY"), std::nullopt);  // NULL

    // INTO in lower case is no change; the text with it is a query.
    rs = RunSql(*db, "SELECT CardNo AS into_x FROM SpecRecord", status);
    ASSERT_NE(rs, nullptr);
    // INTO in upper case makes any statement a change.
    EXPECT_EQ(RunSql(*db, "SELECT CardNo INTO @x FROM SpecRecord", status), nullptr);
    EXPECT_EQ(status, "SELECT query successful");
}

TEST_F(CardDatabase, ErrorsCarryTheServersNumberAndText) {
    std::unique_ptr<DbConnection> db;
    ASSERT_TRUE(OpenDatabase(db, Server()));
    std::string status = "before";
    EXPECT_THROW(RunSql(*db, "", status), CardLibError);
    try {
        RunSql(*db, "SELECT x FROM NoSuchTable", status);
        FAIL() << "a missing table was not reported";
    } catch (const DbError& e) {
        EXPECT_EQ(e.NativeError(), 1146);
        EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("1146"), std::string::npos) << e.what();
    }
    try {
        RunSql(*db, "Update NoSuchTable Set x = 1", status);
        FAIL() << "a failed change was not reported";
    } catch (const DbError& e) {
        EXPECT_EQ(e.NativeError(), 1146);
    }
    EXPECT_EQ(status, "before");
    // The connection is still usable after the failed change.
    EXPECT_EQ(RunSql(*db, "Update SpecRecord Set CardNo = 9 Where InfoNo= 1", status), nullptr);
    EXPECT_EQ(Counter(), "9");
}

TEST_F(CardDatabase, AStatementThatWaitsTooLongFails) {
    // One connection holds the counter row; the other's change must give up
    // after the command time-out rather than wait for the lock.
    DbConnection holder;
    holder.Open(BuildConnectString(Server()));
    holder.BeginTrans();
    holder.Execute("Update SpecRecord Set CardNo = 100 Where InfoNo= 1");

    std::unique_ptr<DbConnection> db;
    ASSERT_TRUE(OpenDatabase(db, Server()));
    std::string status = "before";
    EXPECT_THROW(RunSql(*db, "Update SpecRecord Set CardNo = CardNo + 1 Where InfoNo= 1", status),
                 DbError);
    EXPECT_EQ(status, "before");
    holder.RollbackTrans();
    EXPECT_EQ(Counter(), "0");
}

}  // namespace
}  // namespace ostra::cardlib
