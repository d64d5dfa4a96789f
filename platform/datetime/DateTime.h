// Date-time values as the whole system keeps them: a double count of days
// since 1899-12-30, the time of day as the fraction, in local time; 0 means
// "no time". Encoding, decoding, the local clock, minute shifts and the
// text forms ("yyyy-mm-dd hh:nn:ss", "yyyymmdd" and the like).
//
// Threads: every function here is pure or reads only the system clock and
// the time-zone database; all may be called from any thread at once.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostra {

// A date-time: a count of days since 1899-12-30, the time of day as the fraction.
using TDateTime = double;

// Raised when a text does not read as a date-time or a date part is out of
// range. The message is the text shown to whoever catches it.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The broken-down form of a date-time (local, no time zone of its own).
struct DateTimeParts {
    int Year = 1899;      // 1..9999
    int Month = 12;       // 1..12
    int Day = 30;         // 1..31
    int Hour = 0;         // 0..23
    int Minute = 0;       // 0..59
    int Second = 0;       // 0..59
    int MilliSecond = 0;  // 0..999
};

// Date part only. Throws EConvertError for a date that does not exist.
TDateTime EncodeDate(int Year, int Month, int Day);
// Time part only (fraction of a day). Throws EConvertError when out of range.
TDateTime EncodeTime(int Hour, int Minute, int Second, int MilliSecond = 0);
// The whole value; a date before 1899-12-30 carries its time subtracted, as
// the date-time form requires. Throws EConvertError when out of range.
TDateTime EncodeDateTime(const DateTimeParts& Parts);
bool TryEncodeDateTime(const DateTimeParts& Parts, TDateTime& Value);
// Breaks a value down, rounded to the millisecond.
DateTimeParts DecodeDateTime(TDateTime Value);

// The current local date and time, to the millisecond. Read afresh each call.
TDateTime Now();
// The current local date (time of day 0).
TDateTime Date();

// Adds N minutes (negative N subtracts) as (t * 1440 + N) / 1440 in floating point.
inline TDateTime IncMinute(TDateTime Value, int64_t N) {
    return (Value * 1440.0 + static_cast<double>(N)) / 1440.0;
}

// Formats with the classic picture letters, matched without case:
//   yyyy, yy   year (4 figures, 2 figures)
//   mm, m      month; minutes when it follows an hour (h/hh) picture
//   dd, d      day
//   hh, h      hour, 24-hour clock
//   nn, n      minute
//   ss, s      second
//   zzz, z     millisecond
//   "..." or '...'  literal text
// Every other character is copied as it stands.
// E.g. FormatDateTime("yyyy-mm-dd hh:nn:ss ", t) for the log prefix,
// FormatDateTime("yyyymmdd", t) for the log's file name.
std::string FormatDateTime(std::string_view Format, TDateTime Value);

// The service's date-time text: "yyyy-MM-dd hh:mm:ss", the time left out when
// it is exactly midnight (so a bare date shows as "yyyy-MM-dd").
std::string DateTimeToStr(TDateTime Value);

// Reads a date-time text in the service's formats: a date "yyyy-MM-dd"
// (separator "-"), optionally followed by blanks and a time "hh:mm:ss"
// (separator ":", 24-hour clock; the seconds may be left out). One- and
// two-figure month, day, hour, minute and second fields are accepted; the
// year has one to four figures and is taken as written. A text that holds
// only a time reads as that time on day 0. Leading and trailing blanks are
// ignored. Anything else fails:
//   StrToDateTime throws EConvertError("'<text>' is not a valid date and time");
//   TryStrToDateTime returns false and leaves Value untouched.
TDateTime StrToDateTime(std::string_view Text);
bool TryStrToDateTime(std::string_view Text, TDateTime& Value);

}  // namespace ostra
