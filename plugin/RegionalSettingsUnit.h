// The user's regional date and time settings, as the library reads request
// dates and the test dialog's texts with them.
//
// The library fixes no date or time format of its own: a date-time text is
// read in the date order and with the date and time separators of the
// locale's LC_TIME short date and time formats (nl_langinfo D_FMT, T_FMT),
// taken once when the library is loaded, converted from the locale's
// character set to UTF-8, the encoding of the request texts. Under sv_SE, for
// example, the date reads "2008-05-01" and the time "14:00:00"; under en_US
// the date reads "05/01/2008"; under zh_CN.GB18030 "2008年05月01日" and
// "14时00分00秒".
//
// Reading is lenient within that form: one- or two-figure month, day, hour,
// minute and second fields, a year of one to four figures (one or two
// figures within fifty years of the current year), the seconds may be left
// out, a text with only a date reads as midnight, and a 12-hour marker
// (the locale's AM/PM texts or "AM"/"PM" in any case) may follow the time.
//
// Threads: `TRegionalSettings` is a value; reading with a const one is safe
// from any thread at once.
#pragma once

#include <string>
#include <string_view>

#include "platform/datetime/DateTime.h"

namespace ostra::kestrane {

enum class TDateOrder { MDY, DMY, YMD };

struct TRegionalSettings {
    TDateOrder DateOrder = TDateOrder::MDY;
    // The literal text between the first and second and between the second
    // and third date fields, and after the last one (often empty).
    std::string DateSeparator = "/";
    std::string DateSeparator2 = "/";
    std::string DateTerminator;
    // Between hours and minutes, between minutes and seconds, after seconds.
    std::string TimeSeparator = ":";
    std::string TimeSeparator2 = ":";
    std::string TimeTerminator;
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
};

// The settings described by a strftime-style short date format and time
// format, e.g. ("%Y-%m-%d", "%H:%M:%S") or ("%m/%d/%y", "%r").
TRegionalSettings RegionalSettingsFromFormats(std::string_view DateFormat,
                                              std::string_view TimeFormat,
                                              std::string_view AMString = "AM",
                                              std::string_view PMString = "PM");

// The settings of the LC_TIME locale that the process environment names
// (LC_ALL, LC_TIME, LANG); the C locale's when that locale is not installed.
TRegionalSettings ReadUserRegionalSettings();

// The settings the library found when it was loaded. Set at load, before
// any thread of the library exists, and read-only afterwards; tests may set
// their own while no thread of the library runs.
extern TRegionalSettings UserRegionalSettings;

// Reads a date, optionally followed by blanks and a time, with `Settings`.
// Throws EConvertError("'<text>' is not a valid date and time").
TDateTime StrToDateTime(std::string_view Text,
                        const TRegionalSettings& Settings = UserRegionalSettings);

}  // namespace ostra::kestrane
