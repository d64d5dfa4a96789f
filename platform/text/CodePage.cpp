#include "platform/text/CodePage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <mutex>

namespace ostra {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// The code page in force, found from the locale on first use. Held in a
// function-local static so that static initialisers of other modules (the
// plug-in's load-time settings and log) can already convert text.
struct CodePageState {
    std::mutex Lock;  // guards Name and Known
    std::string Name;
    bool Known = false;
};

CodePageState& State() {
    static CodePageState state;
    return state;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string LocaleCodeSet() {
    // A private locale object: the process's global locale stays untouched.
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return "UTF-8";
    std::string set = nl_langinfo_l(CODESET, loc);
    freelocale(loc);
    const std::string up = Upper(set);
    // The plain C/POSIX locale names ASCII; its text is taken as UTF-8.
    if (up.empty() || up == "ANSI_X3.4-1968" || up == "ASCII" || up == "US-ASCII" || up == "UTF8" ||
        up == "UTF-8")
        return "UTF-8";
    return set;
}

std::string CodePage() {
    CodePageState& st = State();
    std::lock_guard<std::mutex> g(st.Lock);
    if (!st.Known) {
        st.Name = LocaleCodeSet();
        st.Known = true;
    }
    return st.Name;
}

bool IsUtf8Name(const std::string& name) {
    const std::string up = Upper(name);
    return up == "UTF-8" || up == "UTF8";
}

// Length of the well-formed UTF-8 sequence at S[i], or 0.
size_t Utf8SequenceLength(std::string_view S, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(S[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > S.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

// How much of the input a sequence that does not convert takes with it.
enum class Skip { Byte, Utf8Sequence, Utf16Unit };

// Converts with iconv; an input sequence that cannot be converted or does
// not decode is replaced by Replacement and skipped.
std::string Convert(std::string_view In, const std::string& From, const std::string& To,
                    std::string_view Replacement, Skip Skipped) {
    iconv_t cd = iconv_open(To.c_str(), From.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(In);
    std::string out;
    out.reserve(In.size() * 2);
    char buf[4096];
    size_t pos = 0;
    while (pos < In.size()) {
        char* inp = const_cast<char*>(In.data() + pos);
        size_t inLeft = In.size() - pos;
        char* outp = buf;
        size_t outLeft = sizeof buf;
        const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        const int err = errno;
        out.append(buf, static_cast<size_t>(outp - buf));
        pos = In.size() - inLeft;
        if (r != static_cast<size_t>(-1)) break;
        if (err == E2BIG) continue;
        // EILSEQ or EINVAL: replace one character (or one byte) and go on.
        out.append(Replacement);
        size_t skip = Skipped == Skip::Utf16Unit ? 2 : 1;
        if (Skipped == Skip::Utf8Sequence) {
            const size_t n = Utf8SequenceLength(In, pos);
            if (n > 0) skip = n;
        }
        pos = std::min(In.size(), pos + skip);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state.
    char* outp = buf;
    size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &outp, &outLeft);
    out.append(buf, static_cast<size_t>(outp - buf));
    iconv_close(cd);
    return out;
}

}  // namespace

bool IsValidUtf8(std::string_view Bytes) {
    size_t i = 0;
    while (i < Bytes.size()) {
        const size_t n = Utf8SequenceLength(Bytes, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string DecodeUtf8(std::string_view Bytes) {
    std::string text;
    text.reserve(Bytes.size());
    size_t i = 0;
    while (i < Bytes.size()) {
        const size_t n = Utf8SequenceLength(Bytes, i);
        if (n == 0) {
            text += kReplacementCharacter;
            ++i;
        } else {
            text.append(Bytes.substr(i, n));
            i += n;
        }
    }
    return text;
}

std::string SystemCodePage() {
    return CodePage();
}

bool SystemCodePageIsUtf8() {
    return IsUtf8Name(CodePage());
}

std::string ToSystemCodePage(std::string_view Text) {
    const std::string cp = CodePage();
    if (IsUtf8Name(cp)) return std::string(Text);
    return Convert(Text, "UTF-8", cp, "?", Skip::Utf8Sequence);
}

std::string FromSystemCodePage(std::string_view Bytes) {
    const std::string cp = CodePage();
    if (IsUtf8Name(cp)) return std::string(Bytes);
    return Convert(Bytes, cp, "UTF-8", kReplacementCharacter, Skip::Byte);
}

std::string CodeSetToUtf8(std::string_view Bytes, const std::string& CodeSet) {
    const std::string up = Upper(CodeSet);
    if (up.empty() || IsUtf8Name(up) || up == "ANSI_X3.4-1968" || up == "ASCII" || up == "US-ASCII")
        return std::string(Bytes);
    return Convert(Bytes, CodeSet, "UTF-8", kReplacementCharacter, Skip::Byte);
}

std::string Utf16LeToUtf8(std::string_view Bytes) {
    return Convert(Bytes, "UTF-16LE", "UTF-8", kReplacementCharacter, Skip::Utf16Unit);
}

std::string Utf8ToUtf16Le(std::string_view Text) {
    // Well-formed UTF-8 always converts; nothing is replaced on the way.
    return Convert(DecodeUtf8(Text), "UTF-8", "UTF-16LE", "", Skip::Utf8Sequence);
}

void SetSystemCodePageForTesting(const std::string& CodePage) {
    CodePageState& st = State();
    std::lock_guard<std::mutex> g(st.Lock);
    if (CodePage.empty()) {
        st.Known = false;
    } else {
        st.Name = CodePage;
        st.Known = true;
    }
}

}  // namespace ostra
