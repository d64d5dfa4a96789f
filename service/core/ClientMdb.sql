-- The record database "Client.mdb" of the door-lock service (SQLite 3).
-- Made once by scripts/make-client-mdb; the service itself never creates it.
-- Date-time columns hold the day count since 1899-12-30 (time of day as the
-- fraction), 0 or null meaning no time.

-- One row per room: the begin time of the room's current guest cards.
-- RoomNo is building code, floor code and room number joined as they stand.
CREATE TABLE T_Room (
    RoomNo          TEXT NOT NULL,
    LastCheckInTime REAL
);
CREATE INDEX IX_T_Room_RoomNo ON T_Room (RoomNo);

-- Journal: one row per card issue.
CREATE TABLE T_IssueCardRecord (
    ID              INTEGER PRIMARY KEY AUTOINCREMENT,
    RegisterId      TEXT,
    CardNo          TEXT,
    RoomNo          TEXT,
    CardType        INTEGER,
    LastCheckInTime REAL,
    CheckInTime     REAL,
    CheckOutTime    REAL,
    IsCopy          INTEGER,
    GuestName       TEXT,
    OpratingTime    REAL
);
