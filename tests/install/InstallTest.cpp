// The build installed into a temporary prefix: no installed file names the
// build tree, and the installed programs run from there on their own
// libraries. Installing only reads the build tree (apart from the
// install_manifest.txt that cmake writes there), so the other tests running
// at the same time are not disturbed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace ostra {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& Path) {
    std::string Out = "'";
    for (char C : Path.string()) Out += C == '\'' ? std::string("'\\''") : std::string(1, C);
    return Out + "'";
}

// Runs a shell command; its output (stdout and stderr) and exit status.
std::string RunCommand(const std::string& Command, int& Status) {
    std::string Output;
    FILE* Pipe = ::popen((Command + " 2>&1").c_str(), "r");
    if (!Pipe) {
        Status = -1;
        return Output;
    }
    char Buffer[4096];
    size_t N;
    while ((N = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Output.append(Buffer, N);
    const int Raw = ::pclose(Pipe);
    Status = WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1;
    return Output;
}

std::string ReadBytes(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

bool EndsWith(const std::string& Text, const std::string& End) {
    return Text.size() >= End.size() &&
           Text.compare(Text.size() - End.size(), End.size(), End) == 0;
}

// The texts in Bytes that name something in the build tree. Left out: the
// names of generated sources (moc and form headers), which the sanitizers
// keep for their reports in a sanitizer build; nothing runs from them.
std::vector<std::string> BuildTreeNames(const std::string& Bytes, const std::string& Build) {
    std::vector<std::string> Names;
    for (size_t At = Bytes.find(Build); At != std::string::npos; At = Bytes.find(Build, At + 1)) {
        const size_t End = Bytes.find('\0', At);
        const std::string Name = Bytes.substr(At, End == std::string::npos ? End : End - At);
        if (!EndsWith(Name, ".cpp") && !EndsWith(Name, ".h")) Names.push_back(Name);
    }
    return Names;
}

uint16_t FreePort() {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    ::bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
    socklen_t Length = sizeof Address;
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
    ::close(Fd);
    return ntohs(Address.sin_port);
}

int Connect(uint16_t Port) {
    const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons(Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0) return Fd;
    ::close(Fd);
    return -1;
}

// One NUL-framed request; the reply up to and including its 0x00.
std::string Exchange(uint16_t Port, const std::string& Request) {
    const int Fd = Connect(Port);
    if (Fd < 0) return {};
    const std::string Framed = Request + '\0';
    std::string Reply;
    if (::send(Fd, Framed.data(), Framed.size(), MSG_NOSIGNAL) == ssize_t(Framed.size())) {
        char C;
        while (::recv(Fd, &C, 1, 0) == 1) {
            Reply += C;
            if (C == '\0') break;
        }
    }
    ::close(Fd);
    return Reply;
}

class InstalledTree : public ::testing::Test {
  protected:
    void SetUp() override {
        char Pattern[] = "/tmp/ostra-install-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Root = Pattern;
        Prefix = Root / "prefix";
        Service = Prefix / "lib" / "ostra-doorlock";
        // The programs' per-user state stays in this test's folder, and
        // nothing but their own run paths leads them to their libraries.
        ::setenv("OSTRA_COM_REGISTRY", (Root / "com-registry.ini").c_str(), 1);
        ::setenv("LYCOMM_STATE_DIR", (Root / "lycomm").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::unsetenv("LD_LIBRARY_PATH");
    }
    void TearDown() override {
        if (Child > 0) {
            ::kill(Child, SIGKILL);
            ::waitpid(Child, nullptr, 0);
        }
        std::error_code Ignored;
        fs::remove_all(Root, Ignored);
    }

    std::string Tool(const std::string& Name, const std::string& Args, int& Status) {
        return RunCommand(Quoted(Prefix / "bin" / Name) + " " + Args, Status);
    }

    // Starts the program through its link in bin/, from another folder.
    void Start() {
        const std::string Program = (Prefix / "bin" / "OstraDoorLock").string();
        char* Argv[] = {const_cast<char*>(Program.c_str()), nullptr};
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_addchdir_np(&Actions, "/");
        ASSERT_EQ(::posix_spawn(&Child, Program.c_str(), &Actions, nullptr, Argv, environ), 0);
        posix_spawn_file_actions_destroy(&Actions);
    }

    bool WaitListening(uint16_t Port) {
        for (int I = 0; I < 600; ++I) {
            if (const int Fd = Connect(Port); Fd >= 0) {
                ::close(Fd);
                return true;
            }
            if (::waitpid(Child, nullptr, WNOHANG) == Child) {
                Child = 0;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    fs::path Root, Prefix, Service;
    pid_t Child = 0;
};

TEST_F(InstalledTree, ProgramRunsFromThePrefixOnItsOwnLibrariesAndAnswers) {
    const std::string Build = OSTRA_TEST_BUILD_DIR;
    int Status = -1;
    std::string Output = RunCommand(
        Quoted(OSTRA_TEST_CMAKE) + " --install " + Quoted(Build) + " --prefix " + Quoted(Prefix),
        Status);
    ASSERT_EQ(Status, 0) << Output;

    // The samples sit beside the program; the live settings are the user's.
    EXPECT_TRUE(fs::is_regular_file(Service / "Option.ini.sample"));
    EXPECT_TRUE(fs::is_regular_file(Service / "Setting.ini.sample"));
    EXPECT_FALSE(fs::exists(Service / "Option.ini"));
    EXPECT_FALSE(fs::exists(Service / "Setting.ini"));

    for (const auto& Entry : fs::recursive_directory_iterator(Prefix))
        if (Entry.is_regular_file() && !Entry.is_symlink())
            for (const std::string& Name : BuildTreeNames(ReadBytes(Entry.path()), Build))
                ADD_FAILURE() << Entry.path() << " names the build tree: " << Name;

    // The card library registered from its installed place, an encoder with
    // a blank card, and the record database made by the installed script.
    Output = Tool("ostra-regsvr", "-s " + Quoted(Service / "libPendrix.so"), Status);
    ASSERT_EQ(Status, 0) << Output;
    Output = Tool("lycomm-card", "attach COM1", Status);
    ASSERT_EQ(Status, 0) << Output;
    Output = Tool("lycomm-card", "lay COM1", Status);
    ASSERT_EQ(Status, 0) << Output;
    Output = RunCommand(
        Quoted(Service / "scripts" / "make-client-mdb") + " " + Quoted(Service / "Client.mdb"),
        Status);
    ASSERT_EQ(Status, 0) << Output;
    EXPECT_GT(fs::file_size(Service / "Client.mdb"), 0u);

    const uint16_t Port = FreePort();
    std::ofstream(Service / "Option.ini", std::ios::binary)
        << "[SysOption]\r\nDoorlockPortNo=" << Port << "\r\n";
    Start();
    ASSERT_TRUE(WaitListening(Port));

    EXPECT_EQ(Exchange(Port, "<DoorRequest type=\"ReadCard\"/>"),
              std::string("<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
                          "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo>"
                          "</DoorResponse>") +
                  '\0');

    // The log is in the program's own folder; the card library read the
    // blank card (-700: no guest card) through the encoder driver beside it.
    std::string Log;
    for (const auto& Entry : fs::directory_iterator(Service))
        if (Entry.path().extension() == ".LOG") Log += ReadBytes(Entry.path());
    EXPECT_NE(Log.find("读卡失败，返回：r=-700"), std::string::npos) << Log;
}

}  // namespace
}  // namespace ostra
