#include "service/core/DoorlockRecordManagerUnit.h"

#include <sqlite3.h>

#include <stdexcept>

#include "platform/com/Com.h"
#include "service/core/ExecutablePath.h"
#include "service/core/LogFileUnit.h"

namespace ostra {

namespace {

// A database failure; its message is the database's own.
class EDatabaseError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One prepared statement, finalised on every path.
class Statement {
  public:
    Statement(sqlite3* Db, const char* Sql) : Db_(Db) {
        if (sqlite3_prepare_v2(Db, Sql, -1, &Stmt_, nullptr) != SQLITE_OK) {
            const std::string message = sqlite3_errmsg(Db);
            sqlite3_finalize(Stmt_);
            Stmt_ = nullptr;
            throw EDatabaseError(message);
        }
    }
    ~Statement() { sqlite3_finalize(Stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Text(const char* Name, const std::string& Value) {
        Check(sqlite3_bind_text(Stmt_, Index(Name), Value.data(), static_cast<int>(Value.size()),
                                SQLITE_TRANSIENT));
    }
    void Integer(const char* Name, int32_t Value) {
        Check(sqlite3_bind_int(Stmt_, Index(Name), Value));
    }
    void Boolean(const char* Name, bool Value) { Integer(Name, Value ? 1 : 0); }
    void DateTime(const char* Name, TDateTime Value) {
        Check(sqlite3_bind_double(Stmt_, Index(Name), Value));
    }

    // Runs an insert or update; the number of rows it changed.
    int Execute() {
        const int rc = sqlite3_step(Stmt_);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw EDatabaseError(sqlite3_errmsg(Db_));
        return sqlite3_changes(Db_);
    }

    // The first row's column as a date-time; 0 without a row or for null.
    TDateTime FirstDateTime(const char* Column) {
        const int rc = sqlite3_step(Stmt_);
        if (rc == SQLITE_DONE) return 0;
        if (rc != SQLITE_ROW) throw EDatabaseError(sqlite3_errmsg(Db_));
        for (int i = 0; i < sqlite3_column_count(Stmt_); ++i) {
            if (sqlite3_stricmp(sqlite3_column_name(Stmt_, i), Column) != 0) continue;
            if (sqlite3_column_type(Stmt_, i) == SQLITE_NULL) return 0;
            return sqlite3_column_double(Stmt_, i);
        }
        throw EDatabaseError(std::string("no such column: ") + Column);
    }

  private:
    int Index(const char* Name) {
        const int i = sqlite3_bind_parameter_index(Stmt_, Name);
        if (i == 0) throw EDatabaseError(std::string("no such parameter: ") + Name);
        return i;
    }
    void Check(int Rc) {
        if (Rc != SQLITE_OK) throw EDatabaseError(sqlite3_errmsg(Db_));
    }

    sqlite3* Db_;
    sqlite3_stmt* Stmt_ = nullptr;
};

// Runs Body, logging the message of any failure and swallowing it.
template <typename Body>
void Trapped(Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        LogWrite(e.what());
    }
}

constexpr int BusyTimeoutMs = 5000;

}  // namespace

TDoorlockRecordManager* RecordManager = nullptr;

TDoorlockRecordManager::TDoorlockRecordManager() = default;

TDoorlockRecordManager::~TDoorlockRecordManager() {
    if (Db_) sqlite3_close_v2(Db_);
}

void TDoorlockRecordManager::Open(const std::string& DatabasePath) {
    std::lock_guard<std::mutex> g(Lock_);
    if (Db_) {
        sqlite3_close_v2(Db_);
        Db_ = nullptr;
    }
    DatabasePath_ = DatabasePath;
    OpenError_.clear();
    sqlite3* db = nullptr;
    // Never creates the file: a missing database is an error, as it should be.
    int rc = sqlite3_open_v2(DatabasePath.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, BusyTimeoutMs);
        // Opening is lazy: read the schema now, so a file that is no database
        // fails here and not at the first card.
        rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        OpenError_ = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        LogWrite(OpenError_);
        return;
    }
    Db_ = db;
}

bool TDoorlockRecordManager::IsOpen() const {
    std::lock_guard<std::mutex> g(Lock_);
    return Db_ != nullptr;
}

std::string TDoorlockRecordManager::DatabasePath() const {
    std::lock_guard<std::mutex> g(Lock_);
    return DatabasePath_;
}

TDateTime TDoorlockRecordManager::GetLastCheckInTime(const std::string& RoomNo) {
    std::lock_guard<std::mutex> g(Lock_);
    TDateTime result = 0;
    Trapped([&] {
        if (!Db_) throw EDatabaseError(OpenError_);
        // The key is bound, never pasted into the statement.
        Statement q(Db_, "select LastCheckInTime from T_Room where RoomNo=:RoomNo");
        q.Text(":RoomNo", RoomNo);
        result = q.FirstDateTime("LastCheckInTime");
    });
    return result;
}

void TDoorlockRecordManager::UpdateLastCheckInTime(const std::string& RoomNo,
                                                   TDateTime LastCheckInTime) {
    std::lock_guard<std::mutex> g(Lock_);
    Trapped([&] {
        if (!Db_) throw EDatabaseError(OpenError_);
        int changed;
        {
            Statement q(Db_,
                        "update T_Room set LastCheckInTime=:LastCheckInTime where RoomNo=:RoomNo");
            q.DateTime(":LastCheckInTime", LastCheckInTime);
            q.Text(":RoomNo", RoomNo);
            changed = q.Execute();
        }
        if (changed == 0) InsertRoomLocked(RoomNo, LastCheckInTime);
    });
}

void TDoorlockRecordManager::InsertRoom(const std::string& RoomNo, TDateTime LastCheckInTime) {
    std::lock_guard<std::mutex> g(Lock_);
    InsertRoomLocked(RoomNo, LastCheckInTime);
}

void TDoorlockRecordManager::InsertRoomLocked(const std::string& RoomNo,
                                              TDateTime LastCheckInTime) {
    Trapped([&] {
        if (!Db_) throw EDatabaseError(OpenError_);
        {
            Statement q(Db_,
                        "insert into T_Room(RoomNo, LastCheckInTime) Values(:RoomNo, "
                        ":LastCheckInTime)");
            q.Text(":RoomNo", RoomNo);
            q.DateTime(":LastCheckInTime", LastCheckInTime);
            q.Execute();
        }
        LogWrite("新建房间" + RoomNo);
    });
}

void TDoorlockRecordManager::InsertIssueCardRecord(
    const std::string& RegisterId, const std::string& CardNo, const std::string& RoomNo,
    int32_t CardType, TDateTime LastCheckInTime, TDateTime CheckInTime, TDateTime CheckOutTime,
    bool IsCopy, const std::string& GuestName, TDateTime OpratingTime) {
    std::lock_guard<std::mutex> g(Lock_);
    Trapped([&] {
        if (!Db_) throw EDatabaseError(OpenError_);
        Statement q(
            Db_,
            "insert into T_IssueCardRecord(RegisterId, CardNo, RoomNo, CardType, "
            "LastCheckInTime, CheckInTime, CheckOutTime, IsCopy, GuestName, OpratingTime)\r\n"
            " Values(:RegisterId, :CardNo, :RoomNo, :CardType, :LastCheckInTime, "
            ":CheckInTime, :CheckOutTime, :IsCopy, :GuestName, :OpratingTime)");
        q.Text(":RegisterId", RegisterId);
        q.Text(":CardNo", CardNo);
        q.Text(":RoomNo", RoomNo);
        q.Integer(":CardType", CardType);
        q.DateTime(":LastCheckInTime", LastCheckInTime);
        q.DateTime(":CheckInTime", CheckInTime);
        q.DateTime(":CheckOutTime", CheckOutTime);
        q.Boolean(":IsCopy", IsCopy);
        q.Text(":GuestName", GuestName);
        q.DateTime(":OpratingTime", OpratingTime);
        q.Execute();
    });
}

namespace {
// Whether CreateRecordManager's apartment entry succeeded (main thread only).
bool EnteredApartment = false;
}  // namespace

void CreateRecordManager() {
    // The main thread is a single-threaded apartment from here to
    // FreeRecordManager, so the card operations it runs (the test dialog)
    // use the card library in this apartment.
    EnteredApartment = com::Succeeded(com::CoInitializeEx(nullptr, com::COINIT_APARTMENTTHREADED));
    auto* manager = new TDoorlockRecordManager();
    RecordManager = manager;
    manager->Open(ExecutableDirectory() + "Client.mdb");
}

void FreeRecordManager() {
    delete RecordManager;
    RecordManager = nullptr;
    if (EnteredApartment) {
        EnteredApartment = false;
        com::CoUninitialize();
    }
}

TDoorlockRecordManager* SetRecordManager(TDoorlockRecordManager* Manager) {
    TDoorlockRecordManager* old = RecordManager;
    RecordManager = Manager;
    return old;
}

}  // namespace ostra
