// The card database: an ODBC connection to "DBMervLockTM" through the driver
// registered as "SQL Server", its snapshot recordsets and RunSql.
//
// Threads: a DbConnection and its Recordsets belong to one apartment's module
// state and are used by that apartment's thread only; nothing here is shared.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardlib/CardLibError.h"

namespace ostra::cardlib {

// An error of the driver or the server: its native number, SQLSTATE and text.
class DbError : public CardLibError {
  public:
    DbError(const std::string& message, int32_t nativeError, std::string sqlState)
        : CardLibError(message), nativeError_(nativeError), sqlState_(std::move(sqlState)) {}
    int32_t NativeError() const { return nativeError_; }
    const std::string& SqlState() const { return sqlState_; }

  private:
    int32_t nativeError_;
    std::string sqlState_;
};

// The rows of a query, fetched whole when it ran (a static snapshot).
class Recordset {
  public:
    Recordset(std::vector<std::string> columns,
              std::vector<std::vector<std::optional<std::string>>> rows);
    bool Eof() const;
    bool Bof() const;
    void MoveFirst();
    void MoveNext();
    long RecordCount() const { return static_cast<long>(rows_.size()); }
    // The current row's field by column name (without case); nullopt is NULL.
    // Throws CardLibError for an unknown column or when there is no current row.
    std::optional<std::string> Field(const std::string& name) const;

  private:
    std::vector<std::string> columns_;
    std::vector<std::vector<std::optional<std::string>>> rows_;
    long position_;
};

class DbConnection {
  public:
    DbConnection();  // allocates the handles; not yet open
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }
    // Each of these throws DbError.
    void Open(const std::string& connectString);
    bool IsOpen() const { return open_; }
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();  // never throws
    void Execute(const std::string& sql);
    std::unique_ptr<Recordset> Query(const std::string& sql);

  private:
    void* env_ = nullptr;
    void* dbc_ = nullptr;
    bool open_ = false;
    bool inTransaction_ = false;
    int commandTimeout_ = 30;
};

inline constexpr const char* kDbUser = "mervlockuser";
inline constexpr const char* kDbPassword = "vornakel%[&]";
inline constexpr const char* kDbName = "DBMervLockTM";
inline constexpr int kCommandTimeoutSeconds = 10;

std::string BuildConnectString(const std::string& serverAddress);

// Replaces `slot` with a new connection, then opens it; false when it cannot.
bool OpenDatabase(std::unique_ptr<DbConnection>& slot, const std::string& serverAddress);

// Runs one statement. A change (first word within "INSERT,DELETE,UPDATE", or
// "INTO" anywhere) runs in its own committed transaction and returns null; a
// query returns its recordset. `status` is written only on success paths.
// Throws CardLibError for an empty text and DbError for every failure.
std::unique_ptr<Recordset> RunSql(DbConnection& db, const std::string& sql, std::string& status);

// True when RunSql treats `sql` as a change.
bool IsChangeStatement(const std::string& sql);

}  // namespace ostra::cardlib
