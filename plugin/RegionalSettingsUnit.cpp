#include "plugin/RegionalSettingsUnit.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <vector>

#include "platform/text/CodePage.h"

namespace ostra::kestrane {
namespace {

// One piece of a strftime format: a field letter (Y, M, D, H, N, S, P) or a
// run of literal text (Field 0).
struct TToken {
    char Field = 0;
    std::string Literal;
};

void Tokenize(std::string_view Format, std::vector<TToken>& Tokens, int Depth = 0) {
    auto addLiteral = [&](std::string_view Text) {
        if (!Tokens.empty() && Tokens.back().Field == 0)
            Tokens.back().Literal += Text;
        else
            Tokens.push_back({0, std::string(Text)});
    };
    for (std::size_t i = 0; i < Format.size(); ++i) {
        if (Format[i] != '%') {
            addLiteral(Format.substr(i, 1));
            continue;
        }
        ++i;
        while (i < Format.size() &&
               std::string_view("-_0^#").find(Format[i]) != std::string_view::npos)
            ++i;
        while (i < Format.size() && std::isdigit(static_cast<unsigned char>(Format[i]))) ++i;
        if (i < Format.size() && (Format[i] == 'E' || Format[i] == 'O')) ++i;
        if (i >= Format.size()) break;
        const char c = Format[i];
        std::string_view expansion;
        switch (c) {
            case 'D':
                expansion = "%m/%d/%y";
                break;
            case 'F':
                expansion = "%Y-%m-%d";
                break;
            case 'T':
                expansion = "%H:%M:%S";
                break;
            case 'R':
                expansion = "%H:%M";
                break;
            case 'r':
                expansion = "%I:%M:%S %p";
                break;
            default:
                break;
        }
        if (!expansion.empty()) {
            if (Depth < 2) Tokenize(expansion, Tokens, Depth + 1);
            continue;
        }
        char field = 0;
        switch (c) {
            case 'Y':
            case 'y':
            case 'C':
            case 'G':
            case 'g':
                field = 'Y';
                break;
            case 'm':
            case 'b':
            case 'B':
            case 'h':
                field = 'M';
                break;
            case 'd':
            case 'e':
                field = 'D';
                break;
            case 'H':
            case 'k':
            case 'I':
            case 'l':
                field = 'H';
                break;
            case 'M':
                field = 'N';
                break;
            case 'S':
                field = 'S';
                break;
            case 'p':
            case 'P':
                field = 'P';
                break;
            case '%':
                addLiteral("%");
                break;
            case 'n':
            case 't':
                addLiteral(" ");
                break;
            default:
                break;  // weekday names and the like carry nothing we read
        }
        if (field) Tokens.push_back({field, {}});
    }
}

// Positions (token indexes) of the first occurrence of each of `Fields`, in
// the order they stand in the format, with the literal text after each.
struct TLayout {
    std::string Fields;              // e.g. "YMD"
    std::vector<std::string> After;  // literal after each field, up to the next field
};

TLayout Layout(const std::vector<TToken>& Tokens, std::string_view Fields) {
    TLayout result;
    for (std::size_t i = 0; i < Tokens.size(); ++i) {
        const char f = Tokens[i].Field;
        if (f == 0 || Fields.find(f) == std::string_view::npos ||
            result.Fields.find(f) != std::string::npos)
            continue;
        std::string after;
        for (std::size_t j = i + 1; j < Tokens.size() && Tokens[j].Field == 0; ++j)
            after += Tokens[j].Literal;
        result.Fields += f;
        result.After.push_back(after);
    }
    return result;
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A cursor over the text being read.
class TScanner {
  public:
    explicit TScanner(std::string_view Text) : Text(Text) {}

    bool AtEnd() const { return Pos >= Text.size(); }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Text[Pos])) ++Pos;
    }
    // Reads 1 to MaxDigits decimal figures.
    bool Number(int MaxDigits, int& Value, int* Digits = nullptr) {
        std::size_t start = Pos;
        Value = 0;
        while (!AtEnd() && std::isdigit(static_cast<unsigned char>(Text[Pos]))) {
            if (static_cast<int>(Pos - start) == MaxDigits) return false;
            Value = Value * 10 + (Text[Pos] - '0');
            ++Pos;
        }
        if (Digits) *Digits = static_cast<int>(Pos - start);
        return Pos > start;
    }
    // Matches a separator of the format: blanks in it match any run of
    // blanks (also none); the rest must stand as written.
    bool Literal(std::string_view Sep) {
        const std::size_t save = Pos;
        if (!Sep.empty() && IsBlank(Sep.front())) SkipBlanks();
        const std::string_view core = Trim(Sep);
        if (Text.substr(Pos, core.size()) != core) {
            Pos = save;
            return false;
        }
        Pos += core.size();
        if (!Sep.empty() && IsBlank(Sep.back())) SkipBlanks();
        return true;
    }
    // Matches one of the given words without regard to ASCII case.
    bool Word(std::string_view W) {
        if (W.empty() || !EqualNoCase(Text.substr(Pos, W.size()), W)) return false;
        Pos += W.size();
        return true;
    }
    std::size_t Position() const { return Pos; }
    void Rewind(std::size_t P) { Pos = P; }

  private:
    std::string_view Text;
    std::size_t Pos = 0;
};

[[noreturn]] void Invalid(std::string_view Text) {
    throw EConvertError("'" + std::string(Text) + "' is not a valid date and time");
}

}  // namespace

// Initialised before the library's load reads the locale into it.
TRegionalSettings UserRegionalSettings __attribute__((init_priority(1000)));

TRegionalSettings RegionalSettingsFromFormats(std::string_view DateFormat,
                                              std::string_view TimeFormat,
                                              std::string_view AMString,
                                              std::string_view PMString) {
    TRegionalSettings s;
    std::vector<TToken> tokens;
    Tokenize(DateFormat, tokens);
    const TLayout date = Layout(tokens, "YMD");
    if (date.Fields.size() == 3) {
        if (date.Fields[0] == 'Y')
            s.DateOrder = TDateOrder::YMD;
        else if (date.Fields[0] == 'D')
            s.DateOrder = TDateOrder::DMY;
        else
            s.DateOrder = TDateOrder::MDY;
        s.DateSeparator = date.After[0];
        s.DateSeparator2 = date.After[1];
        s.DateTerminator = date.After[2];
    }
    tokens.clear();
    Tokenize(TimeFormat, tokens);
    const TLayout time = Layout(tokens, "HNS");
    if (time.Fields.size() >= 2 && time.Fields[0] == 'H' && time.Fields[1] == 'N') {
        s.TimeSeparator = time.After[0];
        if (time.Fields.size() == 3 && time.Fields[2] == 'S') {
            s.TimeSeparator2 = time.After[1];
            s.TimeTerminator = time.After[2];
        } else {
            s.TimeSeparator2 = s.TimeSeparator;
            s.TimeTerminator = time.After[1];
        }
    }
    if (!Trim(AMString).empty()) s.TimeAMString = std::string(Trim(AMString));
    if (!Trim(PMString).empty()) s.TimePMString = std::string(Trim(PMString));
    return s;
}

TRegionalSettings ReadUserRegionalSettings() {
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    if (!loc) return TRegionalSettings{};
    // The locale's texts are in its own character set (GB18030 under
    // zh_CN.GB18030, say); the request texts they are compared with are UTF-8.
    const std::string codeSet = nl_langinfo_l(_NL_TIME_CODESET, loc);
    const auto text = [&](nl_item Item) {
        return CodeSetToUtf8(nl_langinfo_l(Item, loc), codeSet);
    };
    TRegionalSettings s =
        RegionalSettingsFromFormats(text(D_FMT), text(T_FMT), text(AM_STR), text(PM_STR));
    freelocale(loc);
    return s;
}

TDateTime StrToDateTime(std::string_view Text, const TRegionalSettings& Settings) {
    TScanner scan(Trim(Text));
    int f[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    // The year field takes up to four figures, the others two.
    int yearIndex = Settings.DateOrder == TDateOrder::YMD ? 0 : 2;
    for (int i = 0; i < 3; ++i) {
        if (i == 1 && !scan.Literal(Settings.DateSeparator)) Invalid(Text);
        if (i == 2 && !scan.Literal(Settings.DateSeparator2)) Invalid(Text);
        if (!scan.Number(i == yearIndex ? 4 : 2, f[i], &digits[i])) Invalid(Text);
    }
    scan.Literal(Settings.DateTerminator);

    DateTimeParts parts;
    switch (Settings.DateOrder) {
        case TDateOrder::YMD:
            parts.Year = f[0], parts.Month = f[1], parts.Day = f[2];
            break;
        case TDateOrder::DMY:
            parts.Day = f[0], parts.Month = f[1], parts.Year = f[2];
            break;
        case TDateOrder::MDY:
            parts.Month = f[0], parts.Day = f[1], parts.Year = f[2];
            break;
    }
    if (digits[yearIndex] <= 2) {
        // The century that puts the year within fifty years of the current one.
        const int base = DecodeDateTime(Now()).Year - 50;
        parts.Year += base / 100 * 100;
        if (parts.Year < base) parts.Year += 100;
    }
    parts.Hour = parts.Minute = parts.Second = 0;

    scan.SkipBlanks();
    if (!scan.AtEnd()) {
        if (!scan.Number(2, parts.Hour)) Invalid(Text);
        if (!scan.Literal(Settings.TimeSeparator)) Invalid(Text);
        if (!scan.Number(2, parts.Minute)) Invalid(Text);
        const std::size_t beforeSeconds = scan.Position();
        if (!(scan.Literal(Settings.TimeSeparator2) && scan.Number(2, parts.Second))) {
            scan.Rewind(beforeSeconds);
            parts.Second = 0;
        }
        scan.Literal(Settings.TimeTerminator);
        scan.SkipBlanks();
        int half = 0;  // 1 AM, 2 PM
        if (scan.Word(Settings.TimeAMString) || scan.Word("AM"))
            half = 1;
        else if (scan.Word(Settings.TimePMString) || scan.Word("PM"))
            half = 2;
        if (half) {
            if (parts.Hour > 12) Invalid(Text);
            if (half == 1 && parts.Hour == 12) parts.Hour = 0;
            if (half == 2 && parts.Hour < 12) parts.Hour += 12;
        }
        scan.SkipBlanks();
        if (!scan.AtEnd()) Invalid(Text);
    }
    TDateTime value = 0;
    if (!TryEncodeDateTime(parts, value)) Invalid(Text);
    return value;
}

}  // namespace ostra::kestrane
