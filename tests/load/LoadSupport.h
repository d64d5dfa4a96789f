// Support for the load and fault tests: the real OstraDoorLock as a child
// process in a folder of its own, raw loopback clients, and what /proc says
// about the child (threads, descriptors, resident memory).
//
// The child runs with its descriptor limit raised to kChildFdLimit
// (setrlimit between fork and exec): the service sets no limit of its own,
// and 1,000 held connections plus the program's own files pass the usual
// soft limit of 1,024. The test process raises its own soft limit likewise.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ostra::loadtest {

namespace fs = std::filesystem;

inline constexpr rlim_t kChildFdLimit = 4096;

inline std::string EnvOr(const char* Name, const std::string& Default) {
    const char* V = std::getenv(Name);
    return V && *V ? V : Default;
}
inline std::string BinDir() {
    return EnvOr("OSTRA_BIN_DIR", ".");
}
inline std::string SourceDir() {
    return EnvOr("OSTRA_SOURCE_DIR", ".");
}

// Raises this process's soft descriptor limit towards Wanted; the limit got.
inline rlim_t RaiseFdLimit(rlim_t Wanted) {
    rlimit L{};
    ::getrlimit(RLIMIT_NOFILE, &L);
    if (L.rlim_cur < Wanted) {
        L.rlim_cur = std::min(Wanted, L.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &L);
        ::getrlimit(RLIMIT_NOFILE, &L);
    }
    return L.rlim_cur;
}

inline sockaddr_in Loopback(uint16_t Port) {
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(Port);
    return A;
}

// A free loopback port (bound and released at once).
inline uint16_t FreePort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A = Loopback(0);
    ::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A);
    socklen_t Len = sizeof A;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    ::close(Fd);
    return ntohs(A.sin_port);
}

// A connected socket, or -1.
inline int Connect(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Fd < 0) return -1;
    sockaddr_in A = Loopback(Port);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
        ::close(Fd);
        return -1;
    }
    const int One = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    return Fd;
}

// A receive limit on Fd: a reply that has not come after this long counts
// as never coming (a hang), so a broken service fails the test instead of
// blocking it.
inline void SetReceiveLimit(int Fd, int Seconds) {
    timeval T{Seconds, 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &T, sizeof T);
}

inline bool SendAll(int Fd, const std::string& Bytes) {
    std::size_t Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t N = ::send(Fd, Bytes.data() + Done, Bytes.size() - Done, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return false;
        Done += static_cast<std::size_t>(N);
    }
    return true;
}

// Reads one reply up to its 0x00 (the 0x00 dropped). Bytes read past it stay
// in Pending. Nothing when the connection ended or the receive limit passed.
inline std::optional<std::string> ReadReply(int Fd, std::string& Pending) {
    for (;;) {
        const std::size_t Zero = Pending.find('\0');
        if (Zero != std::string::npos) {
            std::string Reply = Pending.substr(0, Zero);
            Pending.erase(0, Zero + 1);
            return Reply;
        }
        char Buf[4096];
        const ssize_t N = ::recv(Fd, Buf, sizeof Buf, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return std::nullopt;
        Pending.append(Buf, static_cast<std::size_t>(N));
    }
}

// True when the peer ends the connection without sending anything more.
inline bool ClosedWithoutReply(int Fd) {
    char C;
    for (;;) {
        const ssize_t N = ::recv(Fd, &C, 1, 0);
        if (N < 0 && errno == EINTR) continue;
        if (N == 0) return true;
        if (N < 0) return errno == ECONNRESET;
        return false;
    }
}

// Closes with a reset instead of a normal end.
inline void ResetAndClose(int Fd) {
    linger L{1, 0};
    ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &L, sizeof L);
    ::close(Fd);
}

// One request on a fresh connection; its reply, or nothing.
inline std::optional<std::string> Exchange(uint16_t Port, const std::string& Request,
                                           int LimitSeconds = 60) {
    const int Fd = Connect(Port);
    if (Fd < 0) return std::nullopt;
    SetReceiveLimit(Fd, LimitSeconds);
    std::optional<std::string> Reply;
    if (SendAll(Fd, Request + std::string(1, '\0'))) {
        std::string Pending;
        Reply = ReadReply(Fd, Pending);
    }
    ::close(Fd);
    return Reply;
}

inline std::string ReadCardRequest() {
    return "<DoorRequest type=\"ReadCard\"/>";
}

// An IssueCard request; Keep, when given, is the keep-connection child.
inline std::string IssueRequest(const std::string& Room, std::optional<int> Keep = std::nullopt) {
    std::string R =
        "<DoorRequest type=\"IssueCard\"><RequestID/><RegisterId>R1</RegisterId>"
        "<BuildingCode>1</BuildingCode><FloorCode>1</FloorCode><RoomNo>" +
        Room +
        "</RoomNo><GuestName>Guest</GuestName><CheckInDate>2026-05-01</CheckInDate>"
        "<CheckInTime>14:00:00</CheckInTime><CheckOutDate>2030-05-03</CheckOutDate>"
        "<CheckOutTime>11:50:00</CheckOutTime><IsCopy>0</IsCopy>";
    if (Keep) R += "<KeepConnection>" + std::to_string(*Keep) + "</KeepConnection>";
    return R + "</DoorRequest>";
}

inline std::string DoorReply(const std::string& Code, const std::string& Message, int64_t CardNo) {
    return "<DoorResponse><RequestID></RequestID><ResultCode>" + Code +
           "</ResultCode><ResultMessage>" + Message + "</ResultMessage><CardNo>" +
           std::to_string(CardNo) + "</CardNo></DoorResponse>";
}

// The card number of a reply, or -1.
inline int64_t CardNoOf(const std::string& Reply) {
    const std::size_t S = Reply.find("<CardNo>");
    const std::size_t E = Reply.find("</CardNo>");
    if (S == std::string::npos || E == std::string::npos || E <= S + 8) return -1;
    try {
        return std::stoll(Reply.substr(S + 8, E - S - 8));
    } catch (const std::exception&) {
        return -1;
    }
}

// Runs a command line through the shell; its standard output.
inline std::string Shell(const std::string& Command, int* Status = nullptr) {
    std::string Out;
    FILE* P = ::popen(Command.c_str(), "r");
    if (!P) return Out;
    char Buf[4096];
    std::size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
    const int Rc = ::pclose(P);
    if (Status) *Status = Rc;
    return Out;
}

// A running OstraDoorLock in Folder. The card library, the encoders and the
// card database are those of the environment the test process set up
// (OSTRA_COM_REGISTRY, LYCOMM_STATE_DIR, ODBCSYSINI).
class ServiceProcess {
  public:
    ServiceProcess(const fs::path& Dir, const std::string& DoorlockOption) : Folder(Dir) {
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        std::error_code Ec;
        fs::create_hard_link(fs::path(BinDir()) / "OstraDoorLock", Folder / "OstraDoorLock", Ec);
        if (Ec) fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Folder / "OstraDoorLock");
        Port = FreePort();
        std::ofstream(Folder / "Option.ini", std::ios::binary)
            << "[DoorlockOption]\r\n"
            << DoorlockOption << "[SysOption]\r\nDoorlockPortNo=" << Port << "\r\nWriteLog=1\r\n";
        Pid = ::fork();
        if (Pid == 0) {
            rlimit L{kChildFdLimit, kChildFdLimit};
            rlimit Old{};
            ::getrlimit(RLIMIT_NOFILE, &Old);
            if (Old.rlim_max < kChildFdLimit) L = {Old.rlim_max, Old.rlim_max};
            ::setrlimit(RLIMIT_NOFILE, &L);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            // Memory is measured in the child: a small quarantine keeps the
            // sanitizer's own hold on freed memory out of the figures.
            setenv("ASAN_OPTIONS",
                   "detect_leaks=0:quarantine_size_mb=8:allocator_release_to_os_interval_ms=0", 1);
            const std::string Program = (Folder / "OstraDoorLock").string();
            ::execl(Program.c_str(), Program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~ServiceProcess() { Kill(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    void Kill() {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
            Pid = -1;
        }
    }

    // Waits until the listener answers (false when the program ended first).
    bool WaitUntilListening() {
        for (int Attempt = 0; Attempt < 1200; ++Attempt) {
            if (!Running()) return false;
            const int Fd = Connect(Port);
            if (Fd >= 0) {
                ::close(Fd);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool Running() {
        if (Pid <= 0) return false;
        if (::waitpid(Pid, nullptr, WNOHANG) == Pid) {
            Pid = -1;
            return false;
        }
        return true;
    }

    std::optional<std::string> Send(const std::string& Request, int LimitSeconds = 60) {
        return Exchange(Port, Request, LimitSeconds);
    }

    std::size_t Threads() const { return Count("/task"); }
    std::size_t Descriptors() const { return Count("/fd"); }
    // Resident memory in KiB, the sanitizer's shadow memory left out: under
    // AddressSanitizer the shadow of every thread stack that ever ran stays
    // resident, which says nothing about the program's own memory. On
    // x86-64 the shadow lies in [0x7fff8000, 0x10007fff8000); a program
    // built without the sanitizer maps nothing there.
    long RssKib() const {
        std::ifstream In("/proc/" + std::to_string(Pid) + "/smaps");
        std::string Line;
        long Total = 0;
        bool Shadow = false;
        while (std::getline(In, Line)) {
            const std::size_t Dash = Line.find('-');
            if (Dash != std::string::npos && Dash < Line.find(' ') &&
                Line.find_first_not_of("0123456789abcdef") == Dash) {
                const unsigned long long Start = std::stoull(Line.substr(0, Dash), nullptr, 16);
                Shadow = Start >= 0x7fff8000ULL && Start < 0x10007fff8000ULL;
            } else if (Line.rfind("Rss:", 0) == 0 && !Shadow) {
                Total += std::stol(Line.substr(4));
            }
        }
        return Total;
    }

    // Polls until Done() holds, for at most a generous safety limit (a
    // service that never gets there fails; it is not a timing condition).
    template <class Pred>
    static bool Eventually(Pred Done, int Seconds = 60) {
        const auto Until = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
        while (!Done()) {
            if (std::chrono::steady_clock::now() > Until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    // The log file of the run (the one ".LOG" file in the folder), if any.
    std::optional<fs::path> LogPath() const {
        for (const auto& E : fs::directory_iterator(Folder))
            if (E.path().extension() == ".LOG") return E.path();
        return std::nullopt;
    }

    fs::path Folder;
    uint16_t Port = 0;
    pid_t Pid = -1;

  private:
    std::size_t Count(const std::string& Sub) const {
        std::size_t N = 0;
        std::error_code Ec;
        for (auto It = fs::directory_iterator("/proc/" + std::to_string(Pid) + Sub, Ec);
             !Ec && It != fs::directory_iterator(); It.increment(Ec))
            ++N;
        return N;
    }
};

// A private card road: a temp folder with a copy of the card library and the
// encoder driver, registered in a private registry, private simulated
// encoders without delay, and "Setting.ini" naming Server.
class PrivateRoad {
  public:
    PrivateRoad() {
        std::string Pattern = (fs::temp_directory_path() / "ostra-load-XXXXXX").string();
        Root = ::mkdtemp(Pattern.data());
        fs::create_directories(Root / "lib");
        for (const char* Lib : {"libPendrix.so", "liblyComm.so"})
            fs::copy_file(fs::path(BinDir()) / Lib, Root / "lib" / Lib);
        setenv("OSTRA_COM_REGISTRY", (Root / "registry.ini").c_str(), 1);
        setenv("LYCOMM_STATE_DIR", (Root / "lycomm").c_str(), 1);
        setenv("LYCOMM_DELAY_MS", "0", 1);
        SetSqlServer("127.0.0.1;PORT=1");
        int Status = -1;
        Shell("'" + BinDir() + "/ostra-regsvr' -s '" + (Root / "lib" / "libPendrix.so").string() +
                  "' >/dev/null 2>&1",
              &Status);
        Registered = Status == 0;
    }
    ~PrivateRoad() {
        std::error_code Ec;
        fs::remove_all(Root, Ec);
    }
    PrivateRoad(const PrivateRoad&) = delete;
    PrivateRoad& operator=(const PrivateRoad&) = delete;

    void SetSqlServer(const std::string& Server) {
        std::ofstream(Root / "lib" / "Setting.ini", std::ios::binary)
            << "[Setting]\r\nSQLServer=" << Server << "\r\nSiteCode=12345\r\n";
    }

    fs::path Root;
    bool Registered = false;
};

}  // namespace ostra::loadtest
