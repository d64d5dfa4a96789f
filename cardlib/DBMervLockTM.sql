-- The card library's database: the card-number counter, the rooms and the
-- issued cards. Column names are those the card library's statements use;
-- types follow the SQL Server originals. Text columns are utf8mb4.
--
-- Run with the database DBMervLockTM selected (scripts/carddb does).

CREATE TABLE IF NOT EXISTS SpecRecord (
  InfoNo  INT NOT NULL PRIMARY KEY,
  StartNo INT NULL,
  CardNo  INT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE IF NOT EXISTS RoomList (
  BuildNo INT NOT NULL,
  FloorNo INT NOT NULL,
  RoomNo  VARCHAR(10) NOT NULL,
  State   VARCHAR(10) NULL,
  CardQTY INT NULL,
  SetCard VARCHAR(50) NULL,
  PRIMARY KEY (BuildNo, FloorNo, RoomNo)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- InfoNo is taken as the largest one + 1 by each insert; it is indexed but
-- not unique, so two simultaneous issues never fail on it.
CREATE TABLE IF NOT EXISTS CardRecord (
  InfoNo     INT NOT NULL,
  CardNo     VARCHAR(20) NOT NULL,
  CardType   VARCHAR(10) NULL,
  cardName   VARCHAR(50) NULL,
  Name_F     VARCHAR(100) NULL,
  PaperNo    VARCHAR(50) NULL,
  Address    VARCHAR(200) NULL,
  Remark     VARCHAR(200) NULL,
  BuildNo    INT NULL,
  FloorNo    INT NULL,
  RoomNo     VARCHAR(10) NULL,
  RoomNumber INT NULL,
  ChkOutMark VARCHAR(10) NULL,
  CardQty    INT NULL,
  Date_F     DATETIME NULL,
  ChkOutDate DATETIME NULL,
  Yajin      DECIMAL(18, 2) NULL,
  BeginDate  DATETIME NULL,
  EndDate    DATETIME NULL,
  UserName   VARCHAR(50) NULL,
  BlackList  VARCHAR(10) NULL,
  CardRand   VARCHAR(50) NULL,
  Remark1    VARCHAR(200) NULL,
  RFData     VARCHAR(200) NULL,
  KEY CardRecord_InfoNo (InfoNo),
  KEY CardRecord_CardNo (CardNo)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The statements call SQL Server's GETDATE(). DETERMINISTIC matters: declared
-- otherwise it returns NULL inside the card insert's aggregate select while
-- CardRecord is empty.
DROP FUNCTION IF EXISTS GETDATE;
CREATE FUNCTION GETDATE() RETURNS DATETIME DETERMINISTIC RETURN NOW();

-- The counter row.
INSERT IGNORE INTO SpecRecord (InfoNo, StartNo, CardNo) VALUES (1, 0, 0);
