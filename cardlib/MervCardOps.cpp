#include "cardlib/MervCardOps.h"

#include <cstdlib>

#include "cardlib/CardBlock.h"
#include "cardlib/CardLibError.h"

namespace ostra::cardlib {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Removes the blanks (spaces only) around a text; tabs and other control
// characters stay and make the room text invalid.
std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

int Number(const std::string& text, size_t at, size_t count) {
    return std::atoi(text.substr(at, count).c_str());
}

// A field taken as text with "0" put in front and read as a whole number.
int32_t FieldNumber(const std::optional<std::string>& field) {
    std::string text = "0" + field.value_or("");
    int64_t v = 0;
    for (char c : text) {
        if (!IsDigit(c)) throw CardLibError("'" + text + "' is not a valid integer value");
        v = v * 10 + (c - '0');
        if (v > INT32_MAX) throw CardLibError("'" + text + "' is not a valid integer value");
    }
    return static_cast<int32_t>(v);
}

// A decimal text of the room's building or floor, as the readCard text holds it.
int16_t SmallNumber(const std::string& text) {
    if (text.empty()) throw CardLibError("'' is not a valid integer value");
    int v = 0;
    for (char c : text) {
        if (!IsDigit(c)) throw CardLibError("'" + text + "' is not a valid integer value");
        v = v * 10 + (c - '0');
    }
    return static_cast<int16_t>(v);
}

bool SiteCodeUsable(const std::string& siteCode) {
    if (siteCode.size() < 5) return false;
    for (size_t i = 0; i < 5; ++i)
        if (static_cast<unsigned char>(siteCode[i]) >= 0x80) return false;
    return true;
}

// Raises the counter and reads it back in one transaction, so that two
// issues at the same moment, from any number of connections, never get the
// same counter value. Returns the hexadecimal form and n.
std::string AllocateCardNumber(DbConnection& db, int32_t& n) {
    std::unique_ptr<Recordset> rs;
    db.BeginTrans();
    try {
        db.Execute("Update SpecRecord Set CardNo = CardNo + 1 Where InfoNo= 1");
        rs = db.Query("SELECT StartNo, CardNo FROM SpecRecord Where InfoNo= 1");
        db.CommitTrans();
    } catch (...) {
        db.RollbackTrans();
        throw;
    }
    bool haveRow = !rs->Eof() && !rs->Bof();
    if (!haveRow) return AllocatedHexNumber(false, std::nullopt, std::nullopt, n);
    rs->MoveFirst();
    return AllocatedHexNumber(true, rs->Field("CardNo"), rs->Field("StartNo"), n);
}

int16_t Issue(ModuleState& state, EncoderDriver& driver, const WriteCardArgs& args,
              const std::string& endText, const std::string& room, std::string& cardNo) {
    // An end time the card cannot hold (a month 13, a 25th hour, a year past
    // 2099) is refused before anything is booked.
    if (!EndDateIsRealTime(endText)) return kBadEndDate;
    if (!SiteCodeUsable(state.SiteCode))
        throw CardLibError(std::string("The ") + kSiteCodeKey + " of " + kSettingFileName +
                           " must begin with 5 single-byte characters");
    DbConnection& db = *state.Database;

    int32_t n = 0;
    std::string hex = AllocateCardNumber(db, n);
    cardNo = hex;

    std::string decimal = CardNumberDecimal(n);
    std::string bldg = std::to_string(args.BldgNo);
    std::string floor = std::to_string(args.FloorNo);
    std::string status;
    RunSql(db,
           "Update RoomList Set State='1', CardQTY = Case When(CardQTY) IS Null Then 1 Else "
           "CardQTY + 1 END , SetCard = '' Where BuildNo= " +
               bldg + " AND FloorNo = " + floor + " AND RoomNo = '" + room + "'",
           status);
    RunSql(db,
           "Insert Into CardRecord (InfoNo, CardNo, CardType, cardName, Name_F, PaperNo, Address, "
           "Remark, BuildNo, FloorNo, RoomNo, RoomNumber, ChkOutMark, CardQty, Date_F, ChkOutDate, "
           "Yajin, BeginDate, EndDate, UserName, BlackList, CardRand, Remark1, RFData) SELECT Case "
           "When MAX(InfoNo) IS Null Then 1 Else MAX(InfoNo)+1 END, '" +
               decimal + "', '1', '宾客卡', '" + SqlQuoted(args.HoderName) + "', '', '', '', " +
               bldg + ", " + floor + ", '" + room + "', 0, '', 0, GETDATE(), '1900-01-01', 0, " +
               "GETDATE()," + EndTimeSqlText(endText) + ", '000', '', '','','' From CardRecord ",
           status);

    CardBlock block =
        BuildIssuedBlock({state.SiteCode, hex, endText, room, args.FloorNo, args.BldgNo});
    state.LastCardResult = WriteCardBlock(driver, block);
    return state.LastCardResult == 1 ? 0 : kBlockWriteFailed;
}

int16_t Cancel(ModuleState& state, EncoderDriver& driver) {
    std::string card, roomText, endText;
    state.LastCardResult = ReadCard(state, driver, card, roomText, endText);
    if (state.LastCardResult < 0) return state.LastCardResult;
    if (card.empty()) return kNotAGuestCard;

    int16_t building = SmallNumber(roomText.substr(0, 2));
    int16_t floor = SmallNumber(roomText.size() >= 5 ? roomText.substr(3, 2) : std::string());
    std::string room = roomText.size() >= 4 ? roomText.substr(roomText.size() - 4) : roomText;

    DbConnection& db = *state.Database;
    std::string status;
    RunSql(db,
           "Update RoomList Set State='', CardQTY = CardQTY-1, SetCard = '' Where BuildNo= " +
               std::to_string(building) + " AND FloorNo = " + std::to_string(floor) +
               " AND RoomNo = '" + room + "' AND CardQTY>1",
           status);
    RunSql(db,
           "UPDATE CardRecord SET CardRecord.ChkOutMark = '#1', ChkOutDate = GETDATE() WHERE "
           "CardNo='" +
               SqlQuoted(card) + "'",
           status);

    state.LastCardResult = WriteCardBlock(driver, CancelledBlock());
    return state.LastCardResult == 1 ? 0 : kBlockWriteFailed;
}

}  // namespace

void InitializeInstance(ModuleState& state) {
    state.PortState = -1;
}

int16_t OpenPort(ModuleState& state, EncoderDriver& driver, int64_t port) {
    int64_t v = port + 1;
    if (v < 0 || v > 255) throw CardLibError("Overflow.", kOverflowCode);
    uint8_t result = driver.CreateCard(static_cast<uint8_t>(v));
    state.PortState = result;
    return result == 1 ? static_cast<int16_t>(v) : kPortNotOpened;
}

int16_t ClosePort(ModuleState& state, EncoderDriver& driver) {
    try {
        if (state.PortState == 1) driver.DestroyCard();
    } catch (...) {
        // Closing never fails: a missing driver leaves nothing to close.
    }
    return 0;
}

int16_t ReadCard(ModuleState& state, EncoderDriver& driver, std::string& cardNo,
                 std::string& roomNo, std::string& endDate) {
    CardBlock block{};
    if (state.PortState <= 0) return 0;
    int16_t r = ReadCardBlock(driver, block);
    state.LastCardResult = r;
    if (r != 0) return kBlockReadFailed;
    int16_t kind = CardKindResult(block[0]);
    if (kind != 0) return kind;
    DecodedCard card = DecodeGuestBlock(block);
    cardNo = card.cardNo;
    roomNo = card.roomNo;
    endDate = card.endDate;
    return 0;
}

int16_t WriteCard(ModuleState& state, EncoderDriver& driver, CardSettingsSource& settings,
                  const WriteCardArgs& args, std::string& cardNo) {
    CardSettings s = settings.Read();
    state.ServerAddress = s.SqlServer;
    state.SiteCode = s.SiteCode;

    if (!EndDateDigitsValid(args.EndDate)) return kBadEndDate;
    if (args.BldgNo < 1 || args.BldgNo > 99) return kBadBuilding;
    if (args.FloorNo < 1 || args.FloorNo > 99) return kBadFloor;
    std::string room = NormaliseRoom(args.Rooms);
    for (char c : room)
        if (!IsDigit(c) && !(c >= 'A' && c <= 'F')) return kBadRoom;
    if (!OpenDatabase(state.Database, state.ServerAddress)) return kDatabaseUnavailable;

    std::string endText = args.EndDate.substr(0, 12);
    if (room == "0000") return Cancel(state, driver);
    return Issue(state, driver, args, endText, room, cardNo);
}

std::string NormaliseRoom(const std::string& rooms) {
    std::string r = "0000" + Trim(rooms);
    return r.substr(r.size() - 4);
}

bool EndDateDigitsValid(const std::string& endDate) {
    if (endDate.size() < 12) return false;
    for (size_t i = 0; i < 12; ++i)
        if (!IsDigit(endDate[i])) return false;
    return endDate.compare(0, 8, "20000101") >= 0;
}

bool EndDateIsRealTime(const std::string& e) {
    int year = Number(e, 0, 4), month = Number(e, 4, 2), day = Number(e, 6, 2);
    int hour = Number(e, 8, 2), minute = Number(e, 10, 2);
    if (year < 2000 || year > 2099 || month < 1 || month > 12 || hour > 23 || minute > 59)
        return false;
    static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    int days = month == 2 && !leap ? 28 : kDays[month - 1];
    return day >= 1 && day <= days;
}

std::string EndTimeSqlText(const std::string& e) {
    return "'" + e.substr(0, 4) + "/" + e.substr(4, 2) + "/" + e.substr(6, 2) + " " +
           e.substr(8, 2) + ":" + e.substr(10, 2) + ":00'";
}

std::string SqlQuoted(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out;
}

std::string AllocatedHexNumber(bool haveRow, const std::optional<std::string>& counterAfter,
                               const std::optional<std::string>& startNo, int32_t& n) {
    n = 1;
    if (!haveRow) return "000001";
    // The counter was raised by one before it was read back; a NULL counter
    // stays NULL and counts as 0.
    int64_t c = counterAfter ? static_cast<int64_t>(FieldNumber(counterAfter)) - 1 : 0;
    int64_t s = FieldNumber(startNo);
    if (c < s) c = s;
    int64_t next = c + 1;
    if (next < 1 || next > kMaxCardNumber) return "000001";
    n = static_cast<int32_t>(next);
    return CardNumberHex(n);
}

}  // namespace ostra::cardlib
