// A real host process (KestraneHost) that loads libKestrane.so, driven over
// its standard input and read from its standard output. Each host runs from
// a private directory holding a copy of the program, so that "Option.ini"
// and the log file sit beside its executable.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/PluginTestSupport.h"

extern char** environ;

namespace ostra::kestrane::testing {

// A port that is free now (the system's choice for a socket bound to 0).
inline uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Connects to 127.0.0.1:Port; -1 when nothing listens there.
inline int Connect(uint16_t Port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(Port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends Bytes and returns everything received until the server closes.
inline std::string Exchange(uint16_t Port, const std::string& Bytes) {
    const int fd = Connect(Port);
    if (fd < 0) return "<no listener>";
    ::send(fd, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return all;
}

// Where the test programs, KestraneHost and libKestrane.so are built: the
// folder of this test program (OSTRA_BIN_DIR names the same folder).
inline std::string BinDir() {
    if (const char* dir = std::getenv("OSTRA_BIN_DIR"); dir && *dir) return dir;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

class THostProcess {
  public:
    // Generous: only a hung host makes a wait run out.
    static constexpr std::chrono::seconds Patience{60};

    // TimeLocale: the host's LC_TIME, one of the locales made for the tests.
    THostProcess(const std::string& Dir, std::vector<std::string> Args,
                 const std::string& TimeLocale = "sv_SE.UTF-8") {
        ::signal(SIGPIPE, SIG_IGN);  // a host that died must fail the test, not end it
        const std::string bin = BinDir();
        const std::string exe = Dir + "KestraneHost";
        std::filesystem::copy_file(bin + "/KestraneHost", exe,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(exe, std::filesystem::perms::owner_all);

        // The environment: the caller's, with the locale for dates (by
        // default the year-first sv_SE; LC_ALL would override it) from the
        // test locales, offscreen Qt, and the library's folder.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("LC_ALL=", 0) == 0 || v.rfind("LC_TIME=", 0) == 0 ||
                v.rfind("LOCPATH=", 0) == 0 || v.rfind("LD_LIBRARY_PATH=", 0) == 0 ||
                v.rfind("QT_QPA_PLATFORM=", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("LC_TIME=" + TimeLocale);
        env.push_back("LOCPATH=" + TestLocaleDir());
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("LD_LIBRARY_PATH=" + bin);

        int in[2], out[2];
        ::pipe2(in, O_CLOEXEC);
        ::pipe2(out, O_CLOEXEC);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addchdir_np(&actions, Dir.c_str());
        std::vector<std::string> argv = {exe, "--commands"};
        argv.insert(argv.end(), Args.begin(), Args.end());
        std::vector<char*> cargv, cenv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        for (std::string& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);
        ::posix_spawn(&Pid, exe.c_str(), &actions, nullptr, cargv.data(), cenv.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        Input = in[1];
        Output = out[0];
        Reader = std::thread([this] { ReadOutput(); });
    }

    ~THostProcess() {
        if (Pid > 0) {
            Send("quit");
            Finish();
        }
        if (Reader.joinable()) Reader.join();
        if (Output >= 0) ::close(Output);
    }

    void Send(const std::string& Command) {
        const std::string line = Command + "\n";
        if (Input >= 0) (void)!::write(Input, line.data(), line.size());
    }

    // The next line (after those already taken) that starts with Prefix;
    // lines before it are skipped. Empty when none comes.
    std::string WaitFor(const std::string& Prefix) {
        std::unique_lock<std::mutex> g(Lock);
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        for (;;) {
            while (Cursor < Lines.size()) {
                const std::string& line = Lines[Cursor++];
                if (line.rfind(Prefix, 0) == 0) return line;
            }
            if (Ended || Changed.wait_until(g, deadline) == std::cv_status::timeout) {
                if (Cursor >= Lines.size()) return "";
            }
        }
    }

    // Every line received so far.
    std::vector<std::string> AllLines() {
        std::lock_guard<std::mutex> g(Lock);
        return Lines;
    }

    // Sends "ping" and waits for the answer: every command before it is done.
    bool Sync() { return Send("ping"), WaitFor("pong") == "pong"; }

    // Closes the input and waits for the exit; the exit code (-1 when the
    // host had to be killed or died of a signal).
    int Finish() {
        if (Input >= 0) ::close(Input);
        Input = -1;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        while (::waitpid(Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, &status, 0);
                Pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    void ReadOutput() {
        std::string pending;
        char buffer[4096];
        for (ssize_t n; (n = ::read(Output, buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, static_cast<size_t>(n));
            std::lock_guard<std::mutex> g(Lock);
            for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
                Lines.push_back(pending.substr(0, eol));
                pending.erase(0, eol + 1);
            }
            Changed.notify_all();
        }
        std::lock_guard<std::mutex> g(Lock);
        Ended = true;
        Changed.notify_all();
    }

    pid_t Pid = -1;
    int Input = -1, Output = -1;
    std::thread Reader;
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Lines;
    size_t Cursor = 0;
    bool Ended = false;
};

}  // namespace ostra::kestrane::testing
