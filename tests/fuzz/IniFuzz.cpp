// INI files as an editor (or a damaged disk) may leave them.
//
// The input is the whole file. The service's and the card library's
// settings are loaded from it; every value read is at most 2047 characters
// (255 for the card library) and every number reads back as itself. Then one key is added and one existing key is changed: each
// write must read back, and every other section and key of the file must
// read exactly as before. An INI write that loses a neighbour's setting
// loses the operator's configuration.
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cardlib/CardSettings.h"
#include "platform/ini/IniFile.h"
#include "service/core/SysOptionUnit.h"
#include "tests/fuzz/FuzzEntries.h"

namespace ostra::fuzz {

namespace {

const std::string kAbsent = "\x01(absent)";

std::string Folder() {
    static const std::string dir = [] {
        std::string tmpl = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        tmpl += "/ostra-fuzz-ini-XXXXXX";
        const char* made = ::mkdtemp(tmpl.data());
        if (!made) throw PropertyViolation("no temporary folder for the INI file");
        // Each run leaves its file removed; the folder goes when the process ends.
        static std::string folder = made;
        std::atexit([] { ::rmdir(folder.c_str()); });
        return folder + "/";
    }();
    return dir;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool PlainName(const std::string& s) {
    if (s.empty() || s.size() > 40) return false;
    for (unsigned char c : s)
        if (!std::isalnum(c) && c != '_') return false;
    return true;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

using Pair = std::pair<std::string, std::string>;

// The (section, key) pairs a reader could look for, found loosely.
std::vector<Pair> NamesIn(const std::string& Text) {
    std::vector<Pair> pairs = {{"SysOption", "Password"},
                               {"SysOption", "DoorlockPortNo"},
                               {"DoorlockOption", "PmsServer"},
                               {"DoorlockOption", "PortName"},
                               {"Setting", "SQLServer"}};
    std::string section;
    size_t pos = 0;
    while (pos < Text.size() && pairs.size() < 64) {
        size_t nl = Text.find('\n', pos);
        if (nl == std::string::npos) nl = Text.size();
        std::string line = Trim(Text.substr(pos, nl - pos));
        if (!line.empty() && line.back() == '\r') line = Trim(line.substr(0, line.size() - 1));
        pos = nl + 1;
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            section = Trim(line.substr(1, close == std::string::npos ? std::string::npos
                                                                     : close - 1));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq != std::string::npos) pairs.emplace_back(section, Trim(line.substr(0, eq)));
    }
    return pairs;
}

void CheckUnchanged(const IniFile& Ini, const std::vector<Pair>& Pairs,
                    const std::vector<std::string>& Before, const Pair& Written,
                    const char* What) {
    for (size_t i = 0; i < Pairs.size(); ++i) {
        if (SameName(Pairs[i].first, Written.first) && SameName(Pairs[i].second, Written.second))
            continue;
        Expect(Ini.ReadString(Pairs[i].first, Pairs[i].second, kAbsent) == Before[i],
               std::string(What) + " changed [" + Pairs[i].first + "] " + Pairs[i].second);
    }
}

}  // namespace

void IniReader(const uint8_t* Data, size_t Size) {
    const std::string text(reinterpret_cast<const char*>(Data), Size);
    // The card library reads "Setting.ini"; the service reads any path.
    const std::string path = Folder() + cardlib::kSettingFileName;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }

    TSysOption settings(path);
    settings.Load();
    Expect(settings.Password.size() <= 4 * IniFile::MaxValueLength, "password longer than 2047");

    const cardlib::CardSettings card = cardlib::IniCardSettings(Folder()).Read();
    Expect(card.SqlServer.size() <= cardlib::kMaxSettingLength &&
               card.SiteCode.size() <= cardlib::kMaxSettingLength,
           "a card library setting longer than its buffer");

    IniFile ini(path);
    const std::vector<Pair> pairs = NamesIn(text);
    std::vector<std::string> before;
    for (const Pair& p : pairs) {
        before.push_back(ini.ReadString(p.first, p.second, kAbsent));
        const std::string& v = before.back();
        Expect(v.size() <= 4 * IniFile::MaxValueLength, "value longer than 2047 characters");
        if (const auto n = IniFile::ParseInteger(v))
            Expect(IniFile::ParseInteger(std::to_string(*n)) == n, "number does not read back");
        const int32_t n = ini.ReadInteger(p.first, p.second, 12345);
        Expect(n == IniFile::ParseInteger(v).value_or(12345) || v == kAbsent,
               "ReadInteger disagrees with the text read");
    }

    // The section the writes go to: the file's first plain one, else SysOption.
    std::string section = "SysOption";
    std::string existingKey;
    for (size_t i = 5; i < pairs.size(); ++i)
        if (PlainName(pairs[i].first)) {
            section = pairs[i].first;
            for (size_t k = i; k < pairs.size(); ++k)
                if (SameName(pairs[k].first, section) && PlainName(pairs[k].second) &&
                    before[k] != kAbsent) {
                    existingKey = pairs[k].second;
                    break;
                }
            break;
        }

    const Pair added{section, "FuzzAddedKey"};
    bool addedWritten = false;
    if (ini.ReadString(added.first, added.second, kAbsent) == kAbsent) {
        addedWritten = true;
        ini.WriteString(added.first, added.second, "added value");
        Expect(ini.ReadString(added.first, added.second, kAbsent) == "added value",
               "an added key does not read back");
        CheckUnchanged(ini, pairs, before, added, "adding a key");
        // From here on the added key is part of what must stay.
    }
    if (!existingKey.empty()) {
        std::vector<std::string> now;
        for (const Pair& p : pairs) now.push_back(ini.ReadString(p.first, p.second, kAbsent));
        const Pair changed{section, existingKey};
        ini.WriteString(changed.first, changed.second, "changed value");
        Expect(ini.ReadString(changed.first, changed.second, kAbsent) == "changed value",
               "a changed key does not read back");
        CheckUnchanged(ini, pairs, now, changed, "changing a key");
        if (addedWritten && !SameName(existingKey, added.second))
            Expect(ini.ReadString(added.first, added.second, kAbsent) == "added value",
                   "changing a key lost the added one");
    }
    ::unlink(path.c_str());
}

}  // namespace ostra::fuzz
