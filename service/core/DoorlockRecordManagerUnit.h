// The record database "Client.mdb" beside the program (an SQLite 3 file):
// table T_Room (RoomNo, LastCheckInTime) holds each room's begin time of its
// current guest cards; table T_IssueCardRecord is a journal with one row per
// card issue. The schema is service/core/ClientMdb.sql; scripts/make-client-mdb
// makes the file. The service never creates the file or its tables: it opens
// an existing file read-write.
//
// Date-time values are stored as the double day count; 0 means no time.
// No operation lets an error reach its caller: the database's own message is
// written to the log, with no words added, and the operation returns
// normally (GetLastCheckInTime with 0).
//
// Threads: the operations are called from every door-lock connection thread
// and from the main thread (the test dialog) at once. One lock is held for
// the whole of each operation, so two operations never overlap. Open runs on
// the main thread at start-up, before other threads exist.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/datetime/DateTime.h"

struct sqlite3;

namespace ostra {

class TDoorlockRecordManager {
  public:
    TDoorlockRecordManager();  // opens nothing
    virtual ~TDoorlockRecordManager();
    TDoorlockRecordManager(const TDoorlockRecordManager&) = delete;
    TDoorlockRecordManager& operator=(const TDoorlockRecordManager&) = delete;

    // Opens DatabasePath read-write without creating it and checks that it
    // reads as a database. A failure is logged (the database's message) and
    // leaves the manager without a connection: every later operation then
    // logs that message again and does nothing.
    void Open(const std::string& DatabasePath);
    bool IsOpen() const;
    std::string DatabasePath() const;

    // The room's stored begin time; 0 when it has no row, the value is null
    // or anything fails.
    virtual TDateTime GetLastCheckInTime(const std::string& RoomNo);
    // Sets the time of every row of the room; adds the room (InsertRoom) when
    // no row was changed.
    virtual void UpdateLastCheckInTime(const std::string& RoomNo, TDateTime LastCheckInTime);
    // Adds one room row, then logs "新建房间" followed directly by RoomNo.
    virtual void InsertRoom(const std::string& RoomNo, TDateTime LastCheckInTime);
    // Adds one journal row. Logs nothing on success.
    virtual void InsertIssueCardRecord(const std::string& RegisterId, const std::string& CardNo,
                                       const std::string& RoomNo, int32_t CardType,
                                       TDateTime LastCheckInTime, TDateTime CheckInTime,
                                       TDateTime CheckOutTime, bool IsCopy,
                                       const std::string& GuestName, TDateTime OpratingTime);

  private:
    // Without the lock held.
    void InsertRoomLocked(const std::string& RoomNo, TDateTime LastCheckInTime);

    mutable std::mutex Lock_;  // held for the whole of every operation
    sqlite3* Db_ = nullptr;
    std::string DatabasePath_;
    std::string OpenError_;  // the message of a failed Open
};

// The one record database. Unset until CreateRecordManager. Callers test it
// and treat an unset manager as one whose operations did nothing
// (GetLastCheckInTime 0). Tests may replace it (SetRecordManager) while no
// other thread uses it.
extern TDoorlockRecordManager* RecordManager;

// Module start (after CreateLogFile), on the main thread: enters the main
// thread into a single-threaded COM apartment (result not looked at), then
// RecordManager := a new manager, opened on ExecutableDirectory() +
// "Client.mdb"; a failure is only logged.
void CreateRecordManager();
// Module end, on the main thread: frees RecordManager and unsets it, then
// leaves the apartment when CreateRecordManager entered it. Only once no
// thread uses the manager.
void FreeRecordManager();
// Replaces the global; returns the previous object (the caller owns both).
TDoorlockRecordManager* SetRecordManager(TDoorlockRecordManager* Manager);

}  // namespace ostra
