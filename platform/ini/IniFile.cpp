#include "platform/ini/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
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

const std::string Utf8Bom = "\xEF\xBB\xBF";

enum class FileRead { Read, Missing, Failed };

// The file's lines (bytes in the system code page, line ends removed). A
// UTF-8 byte-order mark that an editor put in front is set apart in Bom.
// Missing: no file by that name; Failed: the file exists but could not be
// read whole.
FileRead ReadLines(const std::string& FileName, std::vector<std::string>& Lines,
                   std::string* Bom = nullptr) {
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    std::string all;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return FileRead::Failed;
        }
        if (n == 0) break;
        all.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t start = 0;
    if (all.compare(0, Utf8Bom.size(), Utf8Bom) == 0) {
        start = Utf8Bom.size();
        if (Bom) *Bom = Utf8Bom;
    }
    while (start < all.size()) {
        size_t nl = all.find('\n', start);
        std::string line =
            all.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Lines.push_back(std::move(line));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
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

// Replaces FileName by Content: temporary file beside it, then rename.
bool ReplaceFile(const std::string& FileName, const std::string& Content) {
    std::string tmpl = FileName + ".XXXXXX";
    std::vector<char> path(tmpl.begin(), tmpl.end());
    path.push_back('\0');
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return false;
    struct stat st {};
    mode_t mode = 0644;
    if (::stat(FileName.c_str(), &st) == 0) mode = st.st_mode & 07777;
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
    std::vector<std::string> lines;
    if (ReadLines(FileName_, lines) != FileRead::Read) return std::nullopt;
    const std::string section = ToSystemCodePage(Section);
    const std::string key = ToSystemCodePage(Key);
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string name, value;
        if (SectionOf(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && KeyOf(line, name, value) && SameName(name, key))
            return FromSystemCodePage(Unquote(value));
    }
    return std::nullopt;
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
    std::vector<std::string> lines;
    std::string bom;
    switch (ReadLines(*target, lines, &bom)) {
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
        if (SectionOf(lines[i], name)) {
            if (sectionLine != lines.size()) {
                sectionEnd = i;
                break;
            }
            if (SameName(name, section)) sectionLine = i;
            continue;
        }
        if (sectionLine != lines.size() && keyLine == lines.size() && KeyOf(lines[i], name, v) &&
            SameName(name, key))
            keyLine = i;
    }
    if (keyLine != lines.size()) {
        std::string name, v;
        KeyOf(lines[keyLine], name, v);
        lines[keyLine] = name + "=" + value;
    } else if (sectionLine != lines.size()) {
        // After the section's last non-blank line.
        size_t at = sectionEnd;
        while (at > sectionLine + 1 && Trim(lines[at - 1]).empty()) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), key + "=" + value);
    } else {
        lines.push_back("[" + section + "]");
        lines.push_back(key + "=" + value);
    }
    std::string content = bom;
    for (const std::string& l : lines) content += l + "\r\n";
    if (!ReplaceFile(*target, content)) throw failed;
}

void IniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void IniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
    WriteString(Section, Key, Value ? "1" : "0");
}

}  // namespace ostra
