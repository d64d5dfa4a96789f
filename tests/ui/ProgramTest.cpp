// The real OstraDoorLock as a child process, offscreen, in a folder of its
// own: it starts on the settings beside it and answers over loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
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

    void Start() {
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

}  // namespace
}  // namespace ostra::test
