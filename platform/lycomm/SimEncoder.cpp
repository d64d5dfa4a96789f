#include "platform/lycomm/SimEncoder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace ostra::lycomm {
namespace fs = std::filesystem;

namespace {

constexpr size_t kFileSize = 4 + kBlockSize;

// Closes a descriptor (and so drops its flock) when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_;
};

bool ReadAll(int fd, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, data + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int Lock(int fd, int op) {
    int rc;
    do {
        rc = ::flock(fd, op);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

std::string StateDir() {
    if (const char* dir = std::getenv("LYCOMM_STATE_DIR"); dir && *dir) return dir;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/ostra/lycomm";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/ostra/lycomm";
    return "/tmp/ostra-lycomm-" + std::to_string(::getuid());
}

std::string PortDir(int port) {
    return StateDir() + "/port" + std::to_string(port);
}

std::string CardPath(int port) {
    return PortDir(port) + "/card";
}

bool IsAttached(int port) {
    std::error_code ec;
    return fs::is_directory(PortDir(port), ec);
}

void SimulateDelay() {
    long ms = 30;
    if (const char* env = std::getenv("LYCOMM_DELAY_MS"); env && *env) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end && *end == '\0' && v >= 0 && v <= 60000) ms = v;
    }
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The byte held by a fault file of the port's folder, if there is one.
static std::optional<uint8_t> FaultByte(int port, const char* name) {
    Fd fd(::open((PortDir(port) + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return std::nullopt;
    char text[16] = {};
    ssize_t n = ::read(fd.get(), text, sizeof text - 1);
    if (n <= 0) return std::nullopt;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || v < 0 || v > 255) return std::nullopt;
    return static_cast<uint8_t>(v);
}

static std::string WriteFault(const std::string& path, std::optional<int> value) {
    std::error_code ec;
    if (!value) {
        fs::remove(path, ec);
        return {};
    }
    if (*value < 0 || *value > 255) return "a result byte must lie in 0 to 255";
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::string text = std::to_string(*value) + "\n";
    if (!fd.ok() ||
        !WriteAll(fd.get(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0))
        return "cannot write " + path;
    return {};
}

uint8_t OpenResult(int port) {
    if (!IsAttached(port)) return 0;
    return FaultByte(port, "open-result").value_or(1);
}

uint8_t ReadCard(int port, const Password& password, Block& block) {
    Fd fd(::open(CardPath(port).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return kNoCard;
    if (Lock(fd.get(), LOCK_SH) != 0) return kIoError;
    uint8_t data[kFileSize];
    if (!ReadAll(fd.get(), data, kFileSize)) return kIoError;
    if (std::memcmp(data, password.data(), 4) != 0) return kBadPassword;
    std::memcpy(block.data(), data + 4, kBlockSize);
    return kOk;
}

uint8_t WriteCard(int port, const Password& password, const Block& block) {
    if (std::optional<uint8_t> fault = FaultByte(port, "write-result")) return *fault;
    Fd fd(::open(CardPath(port).c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.ok()) return kNoCard;
    if (Lock(fd.get(), LOCK_EX) != 0) return kIoError;
    uint8_t stored[4];
    if (!ReadAll(fd.get(), stored, 4)) return kIoError;
    if (std::memcmp(stored, password.data(), 4) != 0) return kBadPassword;
    if (!WriteAll(fd.get(), block.data(), kBlockSize, 4)) return kIoError;
    return kOk;
}

std::string Attach(int port, std::optional<int> openResult, std::optional<int> writeResult) {
    std::error_code ec;
    fs::create_directories(PortDir(port), ec);
    if (ec) return "cannot create " + PortDir(port) + ": " + ec.message();
    std::string error = WriteFault(PortDir(port) + "/open-result", openResult);
    if (error.empty()) error = WriteFault(PortDir(port) + "/write-result", writeResult);
    return error;
}

std::string Detach(int port) {
    std::error_code ec;
    fs::remove_all(PortDir(port), ec);
    if (ec) return "cannot remove " + PortDir(port) + ": " + ec.message();
    return {};
}

std::string LayBlankCard(int port, const Password& password) {
    if (!IsAttached(port)) return "no encoder is attached to port " + std::to_string(port);
    // Written aside and renamed into place, so a reader never sees half a card.
    std::string path = CardPath(port);
    std::string temp = path + ".new." + std::to_string(::getpid());
    uint8_t data[kFileSize];
    std::memcpy(data, password.data(), 4);
    std::memset(data + 4, 0xFF, kBlockSize);
    {
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd.ok() || !WriteAll(fd.get(), data, kFileSize, 0)) {
            ::unlink(temp.c_str());
            return "cannot write " + temp;
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return "cannot lay the card: " + std::string(std::strerror(errno));
    }
    return {};
}

std::string TakeCard(int port) {
    if (::unlink(CardPath(port).c_str()) != 0 && errno != ENOENT)
        return "cannot take the card: " + std::string(std::strerror(errno));
    return {};
}

std::optional<std::pair<Password, Block>> PeekCard(int port) {
    Fd fd(::open(CardPath(port).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok() || Lock(fd.get(), LOCK_SH) != 0) return std::nullopt;
    uint8_t data[kFileSize];
    if (!ReadAll(fd.get(), data, kFileSize)) return std::nullopt;
    std::pair<Password, Block> card;
    std::memcpy(card.first.data(), data, 4);
    std::memcpy(card.second.data(), data + 4, kBlockSize);
    return card;
}

}  // namespace ostra::lycomm
