#include "cardlib/CardDatabase.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace ostra::cardlib {

namespace {

// The ODBC wide character is UTF-16 under unixODBC.
static_assert(sizeof(SQLWCHAR) == 2, "unixODBC is built with 2-byte SQLWCHAR");
using WText = std::u16string;

WText ToUtf16(const std::string& s) {
    WText out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c >> 5) == 0x6) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c >> 4) == 0xE) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c >> 3) == 0x1E) {
            cp = c & 0x07;
            len = 4;
        } else {
            out.push_back(0xFFFD);  // a stray byte: replaced, never dropped silently
            ++i;
            continue;
        }
        if (i + len > s.size()) {
            out.push_back(0xFFFD);
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 0x2) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok || cp > 0x10FFFF) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string ToUtf8(const char16_t* w, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

SQLWCHAR* W(WText& t) {
    return reinterpret_cast<SQLWCHAR*>(t.data());
}

bool Ok(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

[[noreturn]] void ThrowDiag(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024] = {};
    SQLSMALLINT len = 0;
    if (handle && Ok(SQLGetDiagRecW(type, handle, 1, state, &native, text, 1024, &len))) {
        size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)), 1023);
        std::string message = ToUtf8(reinterpret_cast<const char16_t*>(text), n);
        std::string sqlState = ToUtf8(reinterpret_cast<const char16_t*>(state), 5);
        throw DbError(
            message + " (SQLSTATE " + sqlState + ", native error " + std::to_string(native) + ")",
            native, sqlState);
    }
    throw DbError(what + " failed without a diagnostic", 0, "HY000");
}

// A statement handle freed when it goes out of scope.
class Statement {
  public:
    Statement(SQLHDBC dbc, int timeoutSeconds) {
        if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_)))
            ThrowDiag(SQL_HANDLE_DBC, dbc, "allocating a statement");
        SQLSetStmtAttr(stmt_, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
    }
    ~Statement() {
        if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT get() const { return stmt_; }

    void ExecDirect(const std::string& sql) {
        WText text = ToUtf16(sql);
        SQLRETURN rc = SQLExecDirectW(stmt_, W(text), static_cast<SQLINTEGER>(text.size()));
        if (!Ok(rc) && rc != SQL_NO_DATA) ThrowDiag(SQL_HANDLE_STMT, stmt_, "running a statement");
    }

  private:
    SQLHSTMT stmt_ = nullptr;
};

bool SameWithoutCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string FirstWord(const std::string& sql) {
    return sql.substr(0, sql.find(' '));
}

}  // namespace

// ---- Recordset ----

Recordset::Recordset(std::vector<std::string> columns,
                     std::vector<std::vector<std::optional<std::string>>> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)), position_(rows_.empty() ? -1 : 0) {}

bool Recordset::Eof() const {
    return rows_.empty() || position_ >= static_cast<long>(rows_.size());
}
bool Recordset::Bof() const {
    return rows_.empty() || position_ < 0;
}
void Recordset::MoveFirst() {
    position_ = 0;
}
void Recordset::MoveNext() {
    if (position_ < static_cast<long>(rows_.size())) ++position_;
}

std::optional<std::string> Recordset::Field(const std::string& name) const {
    if (Eof() || Bof())
        throw CardLibError("Either BOF or EOF is True, or the current record has been deleted.");
    for (size_t i = 0; i < columns_.size(); ++i)
        if (SameWithoutCase(columns_[i], name)) return rows_[position_][i];
    throw CardLibError("Item cannot be found in the collection: field " + name);
}

// ---- DbConnection ----

DbConnection::DbConnection() {
    SQLHENV env = nullptr;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw DbError("The ODBC environment could not be allocated", 0, "HY001");
    env_ = env;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLHDBC dbc = nullptr;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        env_ = nullptr;
        throw DbError("The ODBC connection could not be allocated", 0, "HY001");
    }
    dbc_ = dbc;
}

DbConnection::~DbConnection() {
    if (open_) {
        if (inTransaction_) RollbackTrans();
        SQLDisconnect(static_cast<SQLHDBC>(dbc_));
    }
    if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc_));
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(env_));
}

void DbConnection::Open(const std::string& connectString) {
    SQLHDBC dbc = static_cast<SQLHDBC>(dbc_);
    // A server that does not answer is given up after 15 seconds.
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    // MariaDB's driver does not apply the login time-out to the server's
    // greeting, and leaves the statement time-out to the server alone: a
    // server that accepts but never answers would hold the call (and with
    // it the caller's turn on the encoder) for ever. The driver's own
    // connect time-out (the login time-out) and read and write time-outs
    // (the command time-out) bound both.
    std::string driverString = connectString;
    if (commandTimeout_ > 0) {
        const std::string seconds = std::to_string(commandTimeout_);
        if (!driverString.empty() && driverString.back() != ';') driverString += ';';
        driverString += "CONN_TIMEOUT=15;READ_TIMEOUT=" + seconds + ";WRITE_TIMEOUT=" + seconds;
    }
    WText text = ToUtf16(driverString);
    SQLWCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, W(text), static_cast<SQLSMALLINT>(text.size()),
                                     out, 1024, &outLen, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) ThrowDiag(SQL_HANDLE_DBC, dbc, "opening the card database");
    open_ = true;
    // MariaDB's driver does not apply the statement time-out to a statement
    // that waits for a lock; the server is told the limit for the session.
    // A server that knows neither setting keeps the driver's time-out alone.
    SQLWCHAR dbms[64] = {};
    SQLSMALLINT dbmsLen = 0;
    if (Ok(SQLGetInfoW(dbc, SQL_DBMS_NAME, dbms, sizeof dbms, &dbmsLen))) {
        std::string name = ToUtf8(reinterpret_cast<const char16_t*>(dbms),
                                  std::min<size_t>(static_cast<size_t>(dbmsLen) / 2, 63));
        if (name.find("MariaDB") != std::string::npos || name.find("MySQL") != std::string::npos) {
            std::string seconds = std::to_string(commandTimeout_);
            for (const char* setting : {"max_statement_time", "innodb_lock_wait_timeout"}) {
                try {
                    Execute(std::string("SET SESSION ") + setting + " = " + seconds);
                } catch (const CardLibError&) {
                }
            }
            // Texts are quoted by doubling their quotes, as SQL Server reads
            // them; a backslash must stay an ordinary character, or a name
            // ending in one would end its literal early.
            Execute(
                "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), "
                "'NO_BACKSLASH_ESCAPES')");
        }
    }
}

void DbConnection::BeginTrans() {
    if (!open_) throw CardLibError("The card database connection is not open");
    SQLHDBC dbc = static_cast<SQLHDBC>(dbc_);
    if (!Ok(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
        ThrowDiag(SQL_HANDLE_DBC, dbc, "beginning a transaction");
    inTransaction_ = true;
}

void DbConnection::CommitTrans() {
    SQLHDBC dbc = static_cast<SQLHDBC>(dbc_);
    if (!Ok(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT)))
        ThrowDiag(SQL_HANDLE_DBC, dbc, "committing a transaction");
    inTransaction_ = false;
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

void DbConnection::RollbackTrans() {
    if (!inTransaction_) return;
    SQLHDBC dbc = static_cast<SQLHDBC>(dbc_);
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    inTransaction_ = false;
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

void DbConnection::Execute(const std::string& sql) {
    if (!open_) throw CardLibError("The card database connection is not open");
    Statement stmt(static_cast<SQLHDBC>(dbc_), commandTimeout_);
    stmt.ExecDirect(sql);
}

std::unique_ptr<Recordset> DbConnection::Query(const std::string& sql) {
    if (!open_) throw CardLibError("The card database connection is not open");
    Statement stmt(static_cast<SQLHDBC>(dbc_), commandTimeout_);
    stmt.ExecDirect(sql);
    SQLHSTMT h = stmt.get();
    SQLSMALLINT count = 0;
    if (!Ok(SQLNumResultCols(h, &count))) ThrowDiag(SQL_HANDLE_STMT, h, "describing a result");
    std::vector<std::string> columns;
    for (SQLUSMALLINT c = 1; c <= count; ++c) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!Ok(SQLDescribeColW(h, c, name, 256, &nameLen, &type, &size, &digits, &nullable)))
            ThrowDiag(SQL_HANDLE_STMT, h, "describing a column");
        columns.push_back(ToUtf8(reinterpret_cast<const char16_t*>(name),
                                 std::min<size_t>(static_cast<size_t>(nameLen), 255)));
    }
    std::vector<std::vector<std::optional<std::string>>> rows;
    for (;;) {
        SQLRETURN rc = SQLFetch(h);
        if (rc == SQL_NO_DATA) break;
        if (!Ok(rc)) ThrowDiag(SQL_HANDLE_STMT, h, "fetching a row");
        std::vector<std::optional<std::string>> row;
        for (SQLUSMALLINT c = 1; c <= count; ++c) {
            std::u16string value;
            bool isNull = false;
            for (;;) {
                char16_t chunk[512];
                SQLLEN got = 0;
                rc = SQLGetData(h, c, SQL_C_WCHAR, chunk, sizeof chunk, &got);
                if (rc == SQL_NO_DATA) break;
                if (!Ok(rc)) ThrowDiag(SQL_HANDLE_STMT, h, "reading a field");
                if (got == SQL_NULL_DATA) {
                    isNull = true;
                    break;
                }
                size_t room = sizeof chunk / sizeof chunk[0] - 1;
                size_t n = (got == SQL_NO_TOTAL || got / 2 > static_cast<SQLLEN>(room))
                               ? room
                               : static_cast<size_t>(got / 2);
                value.append(chunk, n);
                if (rc == SQL_SUCCESS) break;
            }
            if (isNull)
                row.emplace_back(std::nullopt);
            else
                row.emplace_back(ToUtf8(value.data(), value.size()));
        }
        rows.push_back(std::move(row));
    }
    return std::make_unique<Recordset>(std::move(columns), std::move(rows));
}

// ---- the card library's database operations ----

std::string BuildConnectString(const std::string& serverAddress) {
    return std::string("Driver={SQL Server};server=") + serverAddress + ";uid=" + kDbUser +
           ";pwd=" + kDbPassword + ";database=" + kDbName;
}

bool OpenDatabase(std::unique_ptr<DbConnection>& slot, const std::string& serverAddress) {
    try {
        slot.reset();
        slot = std::make_unique<DbConnection>();
        slot->SetCommandTimeout(kCommandTimeoutSeconds);
        slot->Open(BuildConnectString(serverAddress));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsChangeStatement(const std::string& sql) {
    std::string word = FirstWord(sql);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    });
    return std::string("INSERT,DELETE,UPDATE").find(word) != std::string::npos ||
           sql.find("INTO") != std::string::npos;
}

std::unique_ptr<Recordset> RunSql(DbConnection& db, const std::string& sql, std::string& status) {
    if (sql.empty()) throw CardLibError("RunSql: the statement text is empty");
    if (IsChangeStatement(sql)) {
        db.BeginTrans();
        try {
            db.Execute(sql);
            db.CommitTrans();
        } catch (...) {
            // A failed change is undone at once rather than when the
            // connection goes, so the connection stays usable.
            db.RollbackTrans();
            throw;
        }
        status = FirstWord(sql) + " query successful";
        return nullptr;
    }
    std::unique_ptr<Recordset> rs = db.Query(Trimmed(sql));
    if (!rs->Eof() && !rs->Bof()) {
        rs->MoveFirst();
        status = "查询到" + std::to_string(rs->RecordCount()) + " 条记录 ";
    }
    return rs;
}

}  // namespace ostra::cardlib
