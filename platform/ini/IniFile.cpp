#include "platform/ini/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/text/CodePage.h"

namespace ostra {

namespace {

std::mutex WriteLock;  // serialises every IniFile write in the process

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Constants, never objects built by an initialiser: the plug-in reads its
// settings while it is being loaded, which may be before this file's
// initialisers have run.
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeBom = "\xFF\xFE";

// The code unit at index I of UTF-16LE bytes.
uint32_t UnitAt(std::string_view Le, size_t I) {
    return static_cast<unsigned char>(Le[2 * I]) |
           static_cast<uint32_t>(static_cast<unsigned char>(Le[2 * I + 1])) << 8;
}

// One line of a file. Text is what lookups and writes parse: the line in the
// system code page, its end removed. Raw, kept for a UTF-16LE file only, is
// the line as it stands in the file with its own line end, so that a line
// not written goes back unchanged; it is empty for a line a write made.
struct TLine {
    std::string Text;
    std::string Raw;
};

// A file's content, as a write puts it back together. An ordinary file is
// bytes in the system code page, written back with CR LF after every line.
// A UTF-16LE file (byte-order mark FF FE) has each line decoded and passed
// through the system code page, as the ANSI profile calls of Windows see it.
struct TIniText {
    std::string Bom;               // the byte-order mark in front, if any
    bool Utf16 = false;            // UTF-16LE
    std::string LineEnd = "\r\n";  // the end of each line a write makes
    std::string Tail;              // UTF-16LE: an odd last byte, kept at the end
    std::vector<TLine> Lines;

    // Text in the system code page as the file's bytes.
    std::string Encode(const std::string& Text) const {
        return Utf16 ? Utf8ToUtf16Le(FromSystemCodePage(Text)) : Text;
    }

    std::string Content() const {
        std::string out = Bom;
        for (size_t i = 0; i < Lines.size(); ++i) {
            const std::string& raw = Lines[i].Raw;
            if (raw.empty()) {
                out += Encode(Lines[i].Text + LineEnd);
                continue;
            }
            out += raw;
            // The file's last line may lack its end; a line after it needs one.
            const uint32_t last = UnitAt(raw, raw.size() / 2 - 1);
            if (i + 1 < Lines.size() && last != '\n') out += Encode(last == '\r' ? "\n" : LineEnd);
        }
        return out + Tail;
    }
};

void SplitLines(std::string_view All, TIniText& Text) {
    size_t start = 0;
    while (start < All.size()) {
        const size_t nl = All.find('\n', start);
        std::string line(
            All.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Text.Lines.push_back({std::move(line), {}});
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
}

// The same split at the level of UTF-16 code units (LF, with a CR before it).
// The first line end found becomes the end of lines a write makes.
void SplitUtf16LeLines(std::string_view Le, TIniText& Text) {
    const size_t units = Le.size() / 2;
    Text.Tail = std::string(Le.substr(2 * units));
    bool endSeen = false;
    size_t start = 0;
    while (start < units) {
        size_t nl = start;
        while (nl < units && UnitAt(Le, nl) != '\n') ++nl;
        size_t end = nl;
        if (end > start && UnitAt(Le, end - 1) == '\r') --end;
        if (nl < units && !endSeen) {
            Text.LineEnd = end < nl ? "\r\n" : "\n";
            endSeen = true;
        }
        const size_t next = nl < units ? nl + 1 : units;
        Text.Lines.push_back(
            {ToSystemCodePage(Utf16LeToUtf8(Le.substr(2 * start, 2 * (end - start)))),
             std::string(Le.substr(2 * start, 2 * (next - start)))});
        start = next;
    }
}

enum class FileRead { Read, Missing, Failed };

// The file's content. A byte-order mark that an editor put in front is set
// apart in Text.Bom. Missing: no file by that name; Failed: the file exists
// but could not be read whole, with errno in Error.
FileRead ReadText(const std::string& FileName, TIniText& Text, int* Error = nullptr) {
    int err = 0;
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    std::string all;
    if (fd < 0) {
        err = errno;
    } else {
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) err = errno;
            if (n <= 0) break;
            all.append(buf, static_cast<size_t>(n));
        }
        ::close(fd);
    }
    if (err != 0) {
        if (Error) *Error = err;
        return fd < 0 && err == ENOENT ? FileRead::Missing : FileRead::Failed;
    }
    if (all.compare(0, Utf16LeBom.size(), Utf16LeBom) == 0) {
        Text.Bom = Utf16LeBom;
        Text.Utf16 = true;
        SplitUtf16LeLines(std::string_view(all).substr(Utf16LeBom.size()), Text);
        return FileRead::Read;
    }
    size_t start = 0;
    if (all.compare(0, Utf8Bom.size(), Utf8Bom) == 0) {
        start = Utf8Bom.size();
        Text.Bom = Utf8Bom;
    }
    SplitLines(std::string_view(all).substr(start), Text);
    return FileRead::Read;
}

// The file a write replaces: FileName with each symbolic link in its last
// part followed (a relative link from the link's own folder), so that the
// link stays and the file it leads to gets the new content. A link to
// nothing gives where it points. Nothing when the links go round.
std::optional<std::string> WriteTarget(std::string FileName) {
    for (int links = 0; links < 40; ++links) {
        struct stat st {};
        if (::lstat(FileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return FileName;
        std::error_code ec;
        const std::filesystem::path to = std::filesystem::read_symlink(FileName, ec);
        if (ec) return std::nullopt;
        FileName = (std::filesystem::path(FileName).parent_path() / to).string();
    }
    return std::nullopt;
}

// Whether this process may write the existing file (its permission bits,
// a read-only file system). Opening it for writing changes nothing in it.
bool MayWrite(const std::string& FileName) {
    const int fd = ::open(FileName.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// The section name of a header line "[name]", or nothing.
bool SectionOf(const std::string& Line, std::string& Name) {
    const std::string t = Trim(Line);
    if (t.empty() || t[0] != '[') return false;
    const size_t close = t.find(']');
    Name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key and raw value of a line "key=value"; false for comments and other lines.
bool KeyOf(const std::string& Line, std::string& Key, std::string& Value) {
    const std::string t = Trim(Line);
    if (t.empty() || t[0] == ';') return false;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    Key = Trim(t.substr(0, eq));
    Value = Trim(t.substr(eq + 1));
    return true;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// Cuts Text to at most Max characters (UTF-8 code points).
std::string Truncate(const std::string& Text, size_t Max) {
    size_t chars = 0;
    for (size_t i = 0; i < Text.size(); ++i) {
        if ((static_cast<unsigned char>(Text[i]) & 0xC0) != 0x80) {
            if (chars == Max) return Text.substr(0, i);
            ++chars;
        }
    }
    return Text;
}

bool WriteAll(int Fd, const std::string& Data) {
    size_t done = 0;
    while (done < Data.size()) {
        const ssize_t n = ::write(Fd, Data.data() + done, Data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces FileName by Content: temporary file beside it, then rename. The
// new file gets the old one's owner and group where this process may give
// them (root), else at least the group where it may, and then its mode, as
// a change of owner can clear the set-id bits.
bool ReplaceFile(const std::string& FileName, const std::string& Content) {
    std::string tmpl = FileName + ".XXXXXX";
    std::vector<char> path(tmpl.begin(), tmpl.end());
    path.push_back('\0');
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return false;
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(FileName.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        if (::fchown(fd, st.st_uid, st.st_gid) != 0)
            (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    }
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, Content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(path.data(), FileName.c_str()) == 0;
    if (!ok) ::unlink(path.data());
    return ok;
}

}  // namespace

IniFile::IniFile(std::string FileName) : FileName_(std::move(FileName)) {}

std::optional<std::string> IniFile::Lookup(const std::string& Section,
                                           const std::string& Key) const {
    TIniText text;
    if (ReadText(FileName_, text) != FileRead::Read) return std::nullopt;
    const std::string section = ToSystemCodePage(Section);
    const std::string key = ToSystemCodePage(Key);
    bool inSection = false;
    for (const TLine& line : text.Lines) {
        std::string name, value;
        if (SectionOf(line.Text, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && KeyOf(line.Text, name, value) && SameName(name, key))
            return FromSystemCodePage(Unquote(value));
    }
    return std::nullopt;
}

std::string IniFile::ReadFailure() const {
    TIniText text;
    int error = 0;
    if (ReadText(FileName_, text, &error) != FileRead::Failed) return {};
    return std::strerror(error);
}

std::string IniFile::ReadString(const std::string& Section, const std::string& Key,
                                const std::string& Default) const {
    const auto v = Lookup(Section, Key);
    return Truncate(v ? *v : Default, MaxValueLength);
}

std::optional<int32_t> IniFile::ParseInteger(const std::string& Text) {
    const std::string s = Trim(Text);
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (s.size() - i >= 3 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return std::nullopt;
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int d;
        if (std::isdigit(c))
            d = c - '0';
        else if (base == 16 && std::isxdigit(c))
            d = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 10) {
        if (negative ? v > 0x80000000ull : v > 0x7FFFFFFFull) return std::nullopt;
        const int64_t sv = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
        return static_cast<int32_t>(sv);
    }
    // Hexadecimal takes all 32 bits ("$FFFFFFFF" is -1).
    uint32_t u = static_cast<uint32_t>(v);
    if (negative) u = 0u - u;
    return static_cast<int32_t>(u);
}

int32_t IniFile::ReadInteger(const std::string& Section, const std::string& Key,
                             int32_t Default) const {
    const auto v = Lookup(Section, Key);
    if (!v) return Default;
    return ParseInteger(Truncate(*v, MaxValueLength)).value_or(Default);
}

bool IniFile::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
    return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& Section, const std::string& Key,
                          const std::string& Value) {
    std::lock_guard<std::mutex> g(WriteLock);
    const EIniWriteError failed("Unable to write to " + FileName_);
    // An existing file that cannot be read, or may not be written, is left
    // as it is: replacing it would lose its other keys or its protection.
    const std::optional<std::string> target = WriteTarget(FileName_);
    if (!target) throw failed;
    TIniText text;
    std::vector<TLine>& lines = text.Lines;
    switch (ReadText(*target, text)) {
        case FileRead::Read:
            if (!MayWrite(*target)) throw failed;
            break;
        case FileRead::Missing:
            break;
        case FileRead::Failed:
            throw failed;
    }
    const std::string section = ToSystemCodePage(Section);
    const std::string key = ToSystemCodePage(Key);
    std::string value;
    for (char c : ToSystemCodePage(Value))
        if (c != '\r' && c != '\n') value += c;  // a line end would break the file

    // The first section of that name, and the key within it.
    size_t sectionLine = lines.size(), sectionEnd = lines.size(), keyLine = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name, v;
        if (SectionOf(lines[i].Text, name)) {
            if (sectionLine != lines.size()) {
                sectionEnd = i;
                break;
            }
            if (SameName(name, section)) sectionLine = i;
            continue;
        }
        if (sectionLine != lines.size() && keyLine == lines.size() &&
            KeyOf(lines[i].Text, name, v) && SameName(name, key))
            keyLine = i;
    }
    if (keyLine != lines.size()) {
        std::string name, v;
        KeyOf(lines[keyLine].Text, name, v);
        lines[keyLine] = {name + "=" + value, {}};
    } else if (sectionLine != lines.size()) {
        // After the section's last non-blank line.
        size_t at = sectionEnd;
        while (at > sectionLine + 1 && Trim(lines[at - 1].Text).empty()) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), {key + "=" + value, {}});
    } else {
        lines.push_back({"[" + section + "]", {}});
        lines.push_back({key + "=" + value, {}});
    }
    if (!ReplaceFile(*target, text.Content())) throw failed;
}

void IniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void IniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
    WriteString(Section, Key, Value ? "1" : "0");
}

}  // namespace ostra
