#include "platform/datetime/DateTime.h"

#include <time.h>

#include <cctype>
#include <cmath>
#include <cstdio>

namespace ostra {

namespace {

constexpr int64_t MSecsPerDay = 86400000;
// Days from 0001-01-01 (day 1) to 1899-12-30.
constexpr int64_t DateDelta = 693594;

bool IsLeapYear(int Year) {
    return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0);
}

int DaysInMonth(int Year, int Month) {
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return Month == 2 && IsLeapYear(Year) ? 29 : Days[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Value) {
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
        Day > DaysInMonth(Year, Month))
        return false;
    int64_t days = Day;
    for (int m = 1; m < Month; ++m) days += DaysInMonth(Year, m);
    const int64_t y = Year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    Value = static_cast<double>(days - DateDelta);
    return true;
}

bool TryEncodeTime(int Hour, int Minute, int Second, int MilliSecond, TDateTime& Value) {
    if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 ||
        MilliSecond < 0 || MilliSecond > 999)
        return false;
    const int64_t ms = ((Hour * 60LL + Minute) * 60 + Second) * 1000 + MilliSecond;
    Value = static_cast<double>(ms) / MSecsPerDay;
    return true;
}

// Day number counted from 0001-01-01 = 1 to year, month, day.
void DecodeDays(int64_t Days, int& Year, int& Month, int& Day) {
    if (Days <= 0) {
        Year = Month = Day = 0;
        return;
    }
    int64_t d = Days - 1;
    int64_t y = 1;
    const int64_t d400 = 146097, d100 = 36524, d4 = 1461;
    y += (d / d400) * 400;
    d %= d400;
    int64_t i = d / d100;
    if (i == 4) i = 3;
    y += i * 100;
    d -= i * d100;
    y += (d / d4) * 4;
    d %= d4;
    i = d / 365;
    if (i == 4) i = 3;
    y += i;
    d -= i * 365;
    Year = static_cast<int>(y);
    Month = 1;
    while (d >= DaysInMonth(Year, Month)) {
        d -= DaysInMonth(Year, Month);
        ++Month;
    }
    Day = static_cast<int>(d) + 1;
}

std::string Pad(int Value, int Width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", Width, Value);
    return buf;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads an unsigned number of 1..MaxDigits figures at Pos.
bool ScanNumber(std::string_view S, size_t& Pos, int MaxDigits, int& Value) {
    size_t start = Pos;
    int v = 0;
    while (Pos < S.size() && std::isdigit(static_cast<unsigned char>(S[Pos]))) {
        if (static_cast<int>(Pos - start) >= MaxDigits) return false;
        v = v * 10 + (S[Pos] - '0');
        ++Pos;
    }
    if (Pos == start) return false;
    Value = v;
    return true;
}

bool ScanChar(std::string_view S, size_t& Pos, char C) {
    if (Pos < S.size() && S[Pos] == C) {
        ++Pos;
        return true;
    }
    return false;
}

void SkipBlanks(std::string_view S, size_t& Pos) {
    while (Pos < S.size() && IsBlank(S[Pos])) ++Pos;
}

bool ScanDate(std::string_view S, size_t& Pos, TDateTime& Value) {
    size_t p = Pos;
    SkipBlanks(S, p);
    int y, m, d;
    if (!ScanNumber(S, p, 4, y) || !ScanChar(S, p, '-') || !ScanNumber(S, p, 2, m) ||
        !ScanChar(S, p, '-') || !ScanNumber(S, p, 2, d))
        return false;
    if (!TryEncodeDate(y, m, d, Value)) return false;
    Pos = p;
    return true;
}

bool ScanTime(std::string_view S, size_t& Pos, TDateTime& Value) {
    size_t p = Pos;
    SkipBlanks(S, p);
    int h, n, s = 0;
    if (!ScanNumber(S, p, 2, h) || !ScanChar(S, p, ':') || !ScanNumber(S, p, 2, n)) return false;
    if (ScanChar(S, p, ':') && !ScanNumber(S, p, 2, s)) return false;
    if (!TryEncodeTime(h, n, s, 0, Value)) return false;
    Pos = p;
    return true;
}

bool AtEnd(std::string_view S, size_t Pos) {
    SkipBlanks(S, Pos);
    return Pos == S.size();
}

}  // namespace

TDateTime EncodeDate(int Year, int Month, int Day) {
    TDateTime v;
    if (!TryEncodeDate(Year, Month, Day, v)) throw EConvertError("Invalid argument to date encode");
    return v;
}

TDateTime EncodeTime(int Hour, int Minute, int Second, int MilliSecond) {
    TDateTime v;
    if (!TryEncodeTime(Hour, Minute, Second, MilliSecond, v))
        throw EConvertError("Invalid argument to time encode");
    return v;
}

bool TryEncodeDateTime(const DateTimeParts& P, TDateTime& Value) {
    TDateTime d, t;
    if (!TryEncodeDate(P.Year, P.Month, P.Day, d) ||
        !TryEncodeTime(P.Hour, P.Minute, P.Second, P.MilliSecond, t))
        return false;
    Value = d >= 0 ? d + t : d - t;
    return true;
}

TDateTime EncodeDateTime(const DateTimeParts& Parts) {
    TDateTime v;
    if (!TryEncodeDateTime(Parts, v)) throw EConvertError("Invalid argument to date encode");
    return v;
}

DateTimeParts DecodeDateTime(TDateTime Value) {
    DateTimeParts r;
    if (!std::isfinite(Value) || std::fabs(Value) > 3.0e6) {
        r.Year = r.Month = r.Day = 0;
        return r;
    }
    const int64_t total = std::llround(Value * static_cast<double>(MSecsPerDay));
    const int64_t days = total / MSecsPerDay;  // truncates toward zero
    int64_t time = std::llabs(total) % MSecsPerDay;
    DecodeDays(days + DateDelta, r.Year, r.Month, r.Day);
    r.MilliSecond = static_cast<int>(time % 1000);
    time /= 1000;
    r.Second = static_cast<int>(time % 60);
    time /= 60;
    r.Minute = static_cast<int>(time % 60);
    r.Hour = static_cast<int>(time / 60);
    return r;
}

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    DateTimeParts p;
    p.Year = local.tm_year + 1900;
    p.Month = local.tm_mon + 1;
    p.Day = local.tm_mday;
    p.Hour = local.tm_hour;
    p.Minute = local.tm_min;
    p.Second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second reads as :59
    p.MilliSecond = static_cast<int>(ts.tv_nsec / 1000000);
    return EncodeDateTime(p);
}

TDateTime Date() {
    return std::trunc(Now());
}

std::string FormatDateTime(std::string_view Format, TDateTime Value) {
    const DateTimeParts p = DecodeDateTime(Value);
    std::string out;
    bool afterHour = false;
    size_t i = 0;
    auto run = [&](char lower) {
        size_t n = 0;
        while (i + n < Format.size() &&
               std::tolower(static_cast<unsigned char>(Format[i + n])) == lower)
            ++n;
        return n;
    };
    while (i < Format.size()) {
        const char c = Format[i];
        const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t n;
        switch (lc) {
            case '"':
            case '\'': {
                size_t end = Format.find(c, i + 1);
                if (end == std::string_view::npos) end = Format.size();
                out.append(Format.substr(i + 1, end - i - 1));
                i = end < Format.size() ? end + 1 : end;
                continue;
            }
            case 'y':
                n = run('y');
                out += n <= 2 ? Pad(p.Year % 100, 2) : Pad(p.Year, 4);
                i += n;
                afterHour = false;
                continue;
            case 'm':
                n = run('m');
                if (afterHour) {
                    out += n >= 2 ? Pad(p.Minute, 2) : std::to_string(p.Minute);
                } else {
                    out += n >= 2 ? Pad(p.Month, 2) : std::to_string(p.Month);
                }
                i += n;
                afterHour = false;
                continue;
            case 'd':
                n = run('d');
                out += n >= 2 ? Pad(p.Day, 2) : std::to_string(p.Day);
                i += n;
                afterHour = false;
                continue;
            case 'h':
                n = run('h');
                out += n >= 2 ? Pad(p.Hour, 2) : std::to_string(p.Hour);
                i += n;
                afterHour = true;
                continue;
            case 'n':
                n = run('n');
                out += n >= 2 ? Pad(p.Minute, 2) : std::to_string(p.Minute);
                i += n;
                afterHour = false;
                continue;
            case 's':
                n = run('s');
                out += n >= 2 ? Pad(p.Second, 2) : std::to_string(p.Second);
                i += n;
                afterHour = false;
                continue;
            case 'z':
                n = run('z');
                out += n >= 3 ? Pad(p.MilliSecond, 3) : std::to_string(p.MilliSecond);
                i += n;
                afterHour = false;
                continue;
            default:
                out += c;
                ++i;
        }
    }
    return out;
}

std::string DateTimeToStr(TDateTime Value) {
    const DateTimeParts p = DecodeDateTime(Value);
    if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.MilliSecond == 0)
        return FormatDateTime("yyyy-mm-dd", Value);
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", Value);
}

bool TryStrToDateTime(std::string_view Text, TDateTime& Value) {
    size_t pos = 0;
    TDateTime date = 0, time = 0;
    if (ScanDate(Text, pos, date)) {
        if (AtEnd(Text, pos)) {
            Value = date;
            return true;
        }
        if (!IsBlank(Text[pos])) return false;
        if (ScanTime(Text, pos, time) && AtEnd(Text, pos)) {
            Value = date >= 0 ? date + time : date - time;
            return true;
        }
        return false;
    }
    pos = 0;
    if (ScanTime(Text, pos, time) && AtEnd(Text, pos)) {
        Value = time;
        return true;
    }
    return false;
}

TDateTime StrToDateTime(std::string_view Text) {
    TDateTime v;
    if (!TryStrToDateTime(Text, v))
        throw EConvertError("'" + std::string(Text) + "' is not a valid date and time");
    return v;
}

}  // namespace ostra
