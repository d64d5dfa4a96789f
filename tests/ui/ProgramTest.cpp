// The real OstraDoorLock as a child process, offscreen, in a folder of its
// own: it starts on the settings beside it and answers over loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/ui/UiTestSupport.h"

extern char** environ;

namespace ostra::test {
namespace {

namespace fs = std::filesystem;

uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t Port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Sends one framed request and reads until the program closes the
// connection, which it does once the request's last log entry is written.
std::string ExchangeToClose(uint16_t Port, const std::string& Request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval guard{60, 0};  // a hung program fails the test instead of blocking it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string framed = Request + std::string(1, '\0');
        send(fd, framed.data(), framed.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return reply;
}

class ChildProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ostra-program-XXXXXX";
        Dir = mkdtemp(pattern);
        // A copy, not a link: the program finds its files beside its own path.
        fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Dir / "OstraDoorLock");
    }
    void TearDown() override {
        if (Child > 0) {
            kill(Child, SIGKILL);
            waitpid(Child, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(Dir, ignored);
    }

    // StderrFile: where the program's standard error goes (empty: the test's).
    void Start(const std::string& StderrFile = "") {
        const std::string program = (Dir / "OstraDoorLock").string();
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "LANG=C.UTF-8"};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        // Started from another folder: where its files go must not depend on it.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, "/");
        if (!StderrFile.empty())
            posix_spawn_file_actions_addopen(&actions, 2, StderrFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(posix_spawn(&Child, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // Waits for the listener (or the child's end); false when it never came.
    bool WaitListening(uint16_t Port) {
        for (int i = 0; i < 600; ++i) {
            if (Accepts(Port)) return true;
            if (waitpid(Child, nullptr, WNOHANG) == Child) {
                Child = 0;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    std::string LogText() {
        std::string all;
        for (const auto& entry : fs::directory_iterator(Dir))
            if (entry.path().extension() == ".LOG") {
                std::ifstream in(entry.path(), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                all += text.str();
            }
        return all;
    }

    fs::path Dir;
    pid_t Child = 0;
};

TEST_F(ChildProgram, AnswersAReadCardRequestWith500WhileNoEncoderIsThere) {
    const uint16_t port = FreePort();
    {
        std::ofstream ini(Dir / "Option.ini", std::ios::binary);
        ini << "[SysOption]\r\nDoorlockPortNo=" << port << "\r\n";
    }
    Start();
    ASSERT_TRUE(WaitListening(port));

    const std::string expected =
        std::string(
            "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
            "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo></DoorResponse>") +
        '\0';
    EXPECT_EQ(Exchange(port, "<DoorRequest type=\"ReadCard\"/>"), expected);
    // The connection was closed after the reply; a new one is served as well.
    EXPECT_EQ(Exchange(port, "<DoorRequest type=\"ReadCard\"/>"), expected);

    // The log sits beside the program, not in the folder it was started from.
    EXPECT_NE(LogText().find("<DoorRequest type=\"ReadCard\"/>"), std::string::npos);
    EXPECT_FALSE(fs::exists(Dir / "Client.mdb"));  // never made by the service
}

TEST_F(ChildProgram, WithTheLogUnwritableRequestsAreAnsweredAndLoggedToStandardError) {
    const uint16_t port = FreePort();
    {
        std::ofstream ini(Dir / "Option.ini", std::ios::binary);
        ini << "[SysOption]\r\nDoorlockPortNo=" << port << "\r\nWriteLog=1\r\n";
    }
    // Folders hold the names of today's and tomorrow's log files: every
    // open fails, also for root.
    const TDateTime now = Now();
    fs::create_directory(Dir / (FormatDateTime("yyyymmdd", now) + ".LOG"));
    fs::create_directory(Dir / (FormatDateTime("yyyymmdd", now + 1) + ".LOG"));
    const std::string errFile = (Dir / "stderr").string();
    Start(errFile);
    ASSERT_TRUE(WaitListening(port));

    const std::string request = "<DoorRequest type=\"ReadCard\"/>";
    EXPECT_EQ(ExchangeToClose(port, request),
              "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
              "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo></DoorResponse>" +
                  std::string(1, '\0'));
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
    Child = 0;

    std::ifstream in(errFile, std::ios::binary);
    std::stringstream err;
    err << in.rdbuf();
    // The request's entries, each once, as the log file would have had them.
    const std::string text = err.str();
    const size_t received = text.find(" 收到消息: \r\n" + request + "\r\n");
    ASSERT_NE(received, std::string::npos) << text;
    EXPECT_EQ(text.find(" 收到消息: ", received + 1), std::string::npos) << text;
    for (const char* entry : {" 执行操作->\r\n", " 读卡失败\r\n", " 完成一次操作\r\n"})
        EXPECT_NE(text.find(entry, received), std::string::npos) << entry << "\n" << text;
}

}  // namespace
}  // namespace ostra::test
