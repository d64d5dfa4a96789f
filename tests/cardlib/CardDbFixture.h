// The private card database server for tests that need it.
//
// scripts/carddb exports where the server is. Without those variables the
// test is skipped, except under CI (CI=true), where it fails. Each test holds
// an exclusive lock on OSTRA_CARDDB_LOCK for its length, so tests that reset
// and count rows never run into each other, whatever ctest runs in parallel.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardlib/CardDatabase.h"

namespace ostra::cardlib::testing {

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class CardDbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server_ = Env("OSTRA_CARDDB_SERVER");
        if (server_.empty() || Env("ODBCSYSINI").empty()) {
            if (Env("CI") == "true")
                FAIL() << "the card database is not running (scripts/carddb start)";
            GTEST_SKIP() << "the card database is not running (eval \"$(scripts/carddb start "
                            "--dir DIR)\" to run this test)";
        }
        std::string lockPath = Env("OSTRA_CARDDB_LOCK");
        if (!lockPath.empty()) {
            lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(lockFd_, 0) << lockPath;
            ASSERT_EQ(::flock(lockFd_, LOCK_EX), 0);
        }
        admin_ = std::make_unique<DbConnection>();
        admin_->Open(BuildConnectString(server_));
        ResetTables();
    }
    void TearDown() override {
        admin_.reset();
        if (lockFd_ >= 0) ::close(lockFd_);
    }

    const std::string& Server() const { return server_; }

    void Sql(const std::string& sql) { admin_->Execute(sql); }

    // Every row of a query, fields as text (nullopt: NULL).
    std::vector<std::vector<std::optional<std::string>>> Rows(
        const std::string& sql, const std::vector<std::string>& cols) {
        auto rs = admin_->Query(sql);
        std::vector<std::vector<std::optional<std::string>>> rows;
        for (; !rs->Eof(); rs->MoveNext()) {
            std::vector<std::optional<std::string>> row;
            for (const auto& c : cols) row.push_back(rs->Field(c));
            rows.push_back(row);
        }
        return rows;
    }
    // The counter's value.
    std::optional<std::string> Counter() {
        return Rows("SELECT CardNo FROM SpecRecord WHERE InfoNo = 1", {"CardNo"}).at(0).at(0);
    }
    void SetCounter(const std::string& cardNo, const std::string& startNo) {
        Sql("DELETE FROM SpecRecord");
        Sql("INSERT INTO SpecRecord (InfoNo, StartNo, CardNo) VALUES (1, " + startNo + ", " +
            cardNo + ")");
    }

    void ResetTables() {
        Sql("DELETE FROM CardRecord");
        Sql("DELETE FROM RoomList");
        SetCounter("0", "0");
        Sql("INSERT INTO RoomList (BuildNo, FloorNo, RoomNo, State, CardQTY, SetCard) VALUES "
            "(1, 1, '0101', '', NULL, 'x'), (1, 1, '0102', '', 1, 'x'), "
            "(1, 1, '0103', '', 3, 'x'), (2, 5, '0A1F', '', 0, 'x')");
    }

  private:
    std::string server_;
    int lockFd_ = -1;
    std::unique_ptr<DbConnection> admin_;
};

}  // namespace ostra::cardlib::testing
