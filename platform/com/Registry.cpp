// The class registry: a small text file of keys and values, read afresh
// whenever it has changed since the last look-up and rewritten atomically
// under a file lock on every change,
// so that several processes can register and create at the same time.
//
// File format: "[key path]" opens a key; "name=data" lines follow; the
// default value is written "@=data". Lines starting with ';' are comments.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "platform/com/Com.h"

namespace ostra::com {

namespace {

struct Key {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;
};
using Hive = std::vector<Key>;

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// "a\b\" and "\a\b" both become "a\b".
std::string Normalize(std::string_view key) {
    while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
    return std::string(key);
}

bool IsBelow(std::string_view path, std::string_view key) {
    return path.size() > key.size() + 1 && path[key.size()] == '\\' &&
           SameText(path.substr(0, key.size()), key);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool ValidKey(std::string_view key) {
    return !key.empty() && !HasLineBreak(key) && key.find(']') == std::string_view::npos &&
           key.find("\\\\") == std::string_view::npos;
}

bool ValidName(std::string_view name) {
    return !HasLineBreak(name) && name.find('=') == std::string_view::npos && name != "@" &&
           (name.empty() || (name.front() != '[' && name.front() != ';'));
}

Hive Parse(std::istream& in) {
    Hive hive;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[' && line.back() == ']') {
            hive.push_back(Key{Normalize(std::string_view(line).substr(1, line.size() - 2)), {}});
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos || hive.empty()) continue;
        std::string name = line.substr(0, eq);
        if (name == "@") name.clear();
        hive.back().values.emplace_back(std::move(name), line.substr(eq + 1));
    }
    return hive;
}

// The file's keys into hive: none for a missing file. False, with errno
// set, when the file exists but cannot be read.
bool Read(const std::string& file, Hive& hive) {
    hive.clear();
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return false;
        }
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    std::istringstream in(text);
    hive = Parse(in);
    return true;
}

// For look-ups: a file that cannot be read holds no keys.
Hive Load(const std::string& file) {
    Hive hive;
    (void)Read(file, hive);
    return hive;
}

// The parsed file of the last look-up, kept while the file stays the same
// one: every change replaces the file by a new one (a new inode, see Save),
// and an edit in place changes its times or size. Caller holds
// RegistryMutex.
const Hive& Current(const std::string& file) {
    static std::string cachedFile;
    static struct stat cachedStat {};
    static bool valid = false;
    static Hive hive;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        valid = false;
        hive.clear();
        return hive;
    }
    const bool same = valid && file == cachedFile && st.st_dev == cachedStat.st_dev &&
                      st.st_ino == cachedStat.st_ino && st.st_size == cachedStat.st_size &&
                      st.st_mtim.tv_sec == cachedStat.st_mtim.tv_sec &&
                      st.st_mtim.tv_nsec == cachedStat.st_mtim.tv_nsec &&
                      st.st_ctim.tv_sec == cachedStat.st_ctim.tv_sec &&
                      st.st_ctim.tv_nsec == cachedStat.st_ctim.tv_nsec;
    if (!same) {
        hive = Load(file);
        cachedFile = file;
        cachedStat = st;
        valid = true;
    }
    return hive;
}

// Why the last change of this thread that failed could not be written, for
// the tools that report it: "<file>: <reason>". Empty while none failed.
thread_local std::string WriteFailure;

// Notes that the registry file could not be written, with the reason errno
// holds (from the file, its folder or its lock file); false, for the caller
// to return.
bool Fails(const std::string& file) {
    WriteFailure = file + ": " + std::strerror(errno);
    return false;
}

bool MakeParents(const std::string& file) {
    for (std::size_t pos = file.find('/', 1); pos != std::string::npos;
         pos = file.find('/', pos + 1)) {
        std::string dir = file.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return Fails(file);
    }
    return true;
}

// Replaces the file by one holding hive, with the old file's mode. A file
// this user may not write (its permission bits, a read-only file system) is
// left as it is; opening it for writing changes nothing in it.
bool Save(const std::string& file, const Hive& hive) {
    struct stat old {};
    const bool exists = stat(file.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return Fails(file);
    if (exists) {
        const int probe = open(file.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (probe < 0) return Fails(file);
        close(probe);
    }
    std::ostringstream out;
    out << "; component registry: classes, ProgIDs, type libraries, interfaces\n";
    for (const Key& k : hive) {
        out << '[' << k.path << "]\n";
        for (const auto& [name, data] : k.values)
            out << (name.empty() ? "@" : name) << '=' << data << '\n';
    }
    std::string tmp = file + ".tmp." + std::to_string(getpid());
    std::string text = out.str();
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fails(file);
    if (exists && fchmod(fd, old.st_mode & 07777) != 0) {
        Fails(file);
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            Fails(file);
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0 || rename(tmp.c_str(), file.c_str()) != 0) {
        Fails(file);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

// Runs change on the current contents under both the process lock and the
// file lock, and writes the result when change asks for it. A file that
// cannot be read fails before change sees it, as writing what change makes
// of no keys would lose the registrations it holds.
template <class F>
HRESULT Modify(F change) {
    std::lock_guard guard(RegistryMutex());
    std::string file = RegistryPath();
    if (!MakeParents(file)) return REGDB_E_WRITEREGDB;
    std::string lockName = file + ".lock";
    int lockFd = open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        Fails(file);
        return REGDB_E_WRITEREGDB;
    }
    while (flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            Fails(file);
            close(lockFd);
            return REGDB_E_WRITEREGDB;
        }
    }
    Hive hive;
    if (!Read(file, hive)) {
        Fails(file);
        close(lockFd);
        return REGDB_E_WRITEREGDB;
    }
    bool write = change(hive);
    HRESULT hr = S_OK;
    if (write && !Save(file, hive)) hr = REGDB_E_WRITEREGDB;
    close(lockFd);  // also releases the lock
    return hr;
}

Key* Find(Hive& hive, std::string_view path) {
    for (Key& k : hive)
        if (SameText(k.path, path)) return &k;
    return nullptr;
}

Key& Ensure(Hive& hive, const std::string& path) {
    // Parents first, as the platform creates every key on the way.
    for (std::size_t pos = path.find('\\'); pos != std::string::npos;
         pos = path.find('\\', pos + 1)) {
        std::string parent = path.substr(0, pos);
        if (!Find(hive, parent)) hive.push_back(Key{parent, {}});
    }
    if (Key* k = Find(hive, path)) return *k;
    hive.push_back(Key{path, {}});
    return hive.back();
}

std::string VersionKey(std::uint16_t major, std::uint16_t minor) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x.%x", major, minor);
    return buf;
}

}  // namespace

std::string RegistryWriteFailure() {
    return WriteFailure;
}

std::string RegistryPath() {
    if (const char* env = std::getenv("OSTRA_COM_REGISTRY"); env && *env) return env;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::string(xdg) + "/ostra/com-registry.ini";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/ostra/com-registry.ini";
}

HRESULT RegSetValue(std::string_view key, std::string_view name, std::string_view data) {
    std::string path = Normalize(key);
    if (!ValidKey(path) || !ValidName(name) || HasLineBreak(data)) return E_INVALIDARG;
    return Modify([&](Hive& hive) {
        Key& k = Ensure(hive, path);
        for (auto& [n, d] : k.values)
            if (SameText(n, name)) {
                d = std::string(data);
                return true;
            }
        k.values.emplace_back(std::string(name), std::string(data));
        return true;
    });
}

HRESULT RegCreateKey(std::string_view key) {
    std::string path = Normalize(key);
    if (!ValidKey(path)) return E_INVALIDARG;
    return Modify([&](Hive& hive) {
        Ensure(hive, path);
        return true;
    });
}

HRESULT RegGetValue(std::string_view key, std::string_view name, std::string* data) {
    if (data == nullptr) return E_POINTER;
    std::string path = Normalize(key);
    std::lock_guard guard(RegistryMutex());
    const Hive& hive = Current(RegistryPath());
    for (const Key& k : hive) {
        if (!SameText(k.path, path)) continue;
        for (const auto& [n, d] : k.values)
            if (SameText(n, name)) {
                *data = d;
                return S_OK;
            }
        break;
    }
    return REGDB_E_KEYMISSING;
}

bool RegKeyExists(std::string_view key) {
    std::string path = Normalize(key);
    if (path.empty()) return true;
    std::lock_guard guard(RegistryMutex());
    for (const Key& k : Load(RegistryPath()))
        if (SameText(k.path, path) || IsBelow(k.path, path)) return true;
    return false;
}

std::vector<std::string> RegEnumKeys(std::string_view key) {
    std::string path = Normalize(key);
    std::vector<std::string> names;
    std::lock_guard guard(RegistryMutex());
    for (const Key& k : Load(RegistryPath())) {
        std::string_view rest;
        if (path.empty())
            rest = k.path;
        else if (IsBelow(k.path, path))
            rest = std::string_view(k.path).substr(path.size() + 1);
        else
            continue;
        std::string child(rest.substr(0, rest.find('\\')));
        bool seen = false;
        for (const std::string& n : names) seen = seen || SameText(n, child);
        if (!seen) names.push_back(child);
    }
    return names;
}

HRESULT RegDeleteTree(std::string_view key) {
    std::string path = Normalize(key);
    if (!ValidKey(path)) return E_INVALIDARG;
    return Modify([&](Hive& hive) {
        std::size_t before = hive.size();
        std::erase_if(
            hive, [&](const Key& k) { return SameText(k.path, path) || IsBelow(k.path, path); });
        return hive.size() != before;
    });
}

HRESULT RegisterTypeLib(const TypeLibDesc& lib, std::string_view path) {
    if (path.empty() || HasLineBreak(path)) return E_INVALIDARG;
    const std::string libid = GuidToString(lib.libid);
    const std::string version = VersionKey(lib.majorVersion, lib.minorVersion);
    const std::string base = "TypeLib\\" + libid + "\\" + version;
    std::string file(path);
    std::string folder =
        file.substr(0, file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/'));
    HRESULT hr = S_OK;
    auto set = [&](const std::string& key, std::string_view name, std::string_view data) {
        if (Succeeded(hr)) hr = RegSetValue(key, name, data);
    };
    set(base, "", lib.name);
    set(base + "\\0\\win32", "", file);
    set(base + "\\FLAGS", "", "0");
    set(base + "\\HELPDIR", "", folder);
    const std::string marshaller = GuidToString(CLSID_PSOAInterface);
    for (const InterfaceDesc* itf : lib.interfaces) {
        if (itf == nullptr) continue;
        if ((itf->typeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) == 0) continue;
        const std::string key = "Interface\\" + GuidToString(itf->iid);
        set(key, "", itf->name);
        set(key + "\\ProxyStubClsid", "", marshaller);
        set(key + "\\ProxyStubClsid32", "", marshaller);
        set(key + "\\TypeLib", "", libid);
        set(key + "\\TypeLib", "Version", version);
    }
    return Failed(hr) ? TYPE_E_REGISTRYACCESS : S_OK;
}

HRESULT UnRegisterTypeLib(const TypeLibDesc& lib) {
    const std::string libKey = "TypeLib\\" + GuidToString(lib.libid);
    const std::string version = VersionKey(lib.majorVersion, lib.minorVersion);
    HRESULT hr = RegDeleteTree(libKey + "\\" + version);
    if (Succeeded(hr) && RegKeyExists(libKey) && RegEnumKeys(libKey).empty())
        hr = RegDeleteTree(libKey);
    for (const InterfaceDesc* itf : lib.interfaces)
        if (itf != nullptr && Succeeded(hr))
            hr = RegDeleteTree("Interface\\" + GuidToString(itf->iid));
    return Failed(hr) ? TYPE_E_REGISTRYACCESS : S_OK;
}

}  // namespace ostra::com
