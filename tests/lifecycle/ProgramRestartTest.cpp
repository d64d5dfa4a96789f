// The programs come back after a stop and stay reachable: a restart at once
// on the same port listens and answers although the connections of the run
// before still wait in TIME_WAIT; a port that is really in use still fails,
// and says so on stderr and in the log; a thousand idle clients do not lock
// everyone else out under the usual soft open-files limit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/text/CodePage.h"
#include "tests/lifecycle/ChildProgram.h"

namespace ostra::lifecycletest {
namespace {

const std::string ReadFailed = DoorReply("500", "读卡失败", 0);

// OstraDoorLock in Folder on Port, with no card library registered: every
// ReadCard is answered "500" at once, which is all these cases need.
std::unique_ptr<ChildProgram> Service(const fs::path& Folder, uint16_t Port) {
    auto Child = std::make_unique<ChildProgram>(Folder, "OstraDoorLock");
    WriteFile(Folder / "Option.ini",
              "[SysOption]\r\nDoorlockPortNo=" + std::to_string(Port) + "\r\nWriteLog=1\r\n");
    Child->Set("OSTRA_COM_REGISTRY=" + (Folder / "registry.ini").string());
    Child->Set("LYCOMM_STATE_DIR=" + (Folder / "lycomm").string());
    return Child;
}

std::string ListeningLine(uint16_t Port) {
    return "OstraDoorLock: listening on port " + std::to_string(Port) +
           " (all local IPv4 addresses)\n";
}

TEST(ServiceRestart, StoppedAndStartedAtOnceItListensAndAnswers) {
    TTempDir Dir("ostra-lifecycle");
    const uint16_t Port = FreePort();
    auto Child = Service(Dir.Path(), Port);
    Child->Start();
    ASSERT_TRUE(Child->WaitForOutput(ListeningLine(Port))) << Child->Errors();
    for (int I = 0; I < 5; ++I) ASSERT_EQ(ExchangeUntilClosed(Port, ReadCardRequest()), ReadFailed);
    // The service ended those connections itself: its side waits.
    ASSERT_TRUE(Eventually([&] { return TimeWaitOnPort(Port); }));
    ASSERT_EQ(Child->StopWith(SIGTERM), 0);

    ASSERT_TRUE(TimeWaitOnPort(Port));
    Child->Start();
    ASSERT_TRUE(Child->WaitForOutput(ListeningLine(Port))) << Child->Errors();
    EXPECT_EQ(ExchangeUntilClosed(Port, ReadCardRequest()), ReadFailed);
    EXPECT_EQ(Child->Errors().find("cannot listen"), std::string::npos) << Child->Errors();
    EXPECT_EQ(Child->StopWith(SIGTERM), 0);
}

TEST(ServiceRestart, APortInUseStillFailsAndSaysSoOnStderrAndInTheLog) {
    TTempDir Dir("ostra-lifecycle");
    // Another program listens on the port (without asking for address reuse).
    TBusyPort Other;
    ASSERT_TRUE(Other.Listening);
    const uint16_t Port = Other.Port;

    auto Child = Service(Dir.Path(), Port);
    Child->Start();
    const std::string Why = "Could not bind socket. Address and port are already in use.";
    EXPECT_TRUE(Child->WaitForErrors("OstraDoorLock: cannot listen on port " +
                                     std::to_string(Port) + ": " + Why + "\n"))
        << Child->Errors();
    EXPECT_NE(
        FromSystemCodePage(Child->Log())
            .find("接口监听服务器启动失败，端口 " + std::to_string(Port) + ": " + Why + "\r\n"),
        std::string::npos)
        << Child->Log();
    EXPECT_EQ(Child->Output().find("listening"), std::string::npos);
    // The error box waits for an operator nobody is; a stop signal still
    // ends the program in order.
    EXPECT_EQ(Child->StopWith(SIGTERM), 0);
}

// A port number outside 0..65535 is reported the same way as a port that
// cannot be bound: on stderr and in the log, not only in the error box.
TEST(ServiceRestart, APortOutOfRangeSaysSoOnStderrAndInTheLog) {
    for (const int Port : {70000, -5}) {
        TTempDir Dir("ostra-lifecycle");
        auto Child = Service(Dir.Path(), 1);
        WriteFile(Dir.Path() / "Option.ini",
                  "[SysOption]\r\nDoorlockPortNo=" + std::to_string(Port) + "\r\nWriteLog=1\r\n");
        Child->Start();
        const std::string Why = "Invalid port number " + std::to_string(Port);
        EXPECT_TRUE(Child->WaitForErrors("OstraDoorLock: cannot listen on port " +
                                         std::to_string(Port) + ": " + Why + "\n"))
            << Child->Errors();
        EXPECT_TRUE(Eventually([&] {
            return FromSystemCodePage(Child->Log())
                       .find("接口监听服务器启动失败，端口 " + std::to_string(Port) + ": " + Why +
                             "\r\n") != std::string::npos;
        })) << Child->Log();
        EXPECT_EQ(Child->StopWith(SIGTERM), 0);
    }
}

TEST(PluginHostRestart, StoppedAndStartedAtOnceItListensAndAnswers) {
    TTempDir Dir("ostra-lifecycle");
    const uint16_t Port = FreePort();
    ChildProgram Host(Dir.Path(), "KestraneHost", {"libKestrane.so"});
    // The sanitizers' dlopen does not search the program's own run path.
    Host.Set("LD_LIBRARY_PATH=" + Dir.Path().string());
    WriteFile(Dir.Path() / "Option.ini", "[SysOptions]\r\nPortNo=" + std::to_string(Port) + "\r\n");
    const std::string ReadOk = DoorReply("200", "读卡成功", 4321);  // the host's lock
    Host.Start();
    ASSERT_TRUE(Host.WaitUntilListening(Port)) << Host.Errors();
    for (int I = 0; I < 5; ++I) ASSERT_EQ(ExchangeUntilClosed(Port, ReadCardRequest()), ReadOk);
    ASSERT_TRUE(Eventually([&] { return TimeWaitOnPort(Port); }));
    ASSERT_EQ(Host.StopWith(SIGTERM), 0);

    ASSERT_TRUE(TimeWaitOnPort(Port));
    Host.Start();
    ASSERT_TRUE(Host.WaitUntilListening(Port)) << Host.Errors();
    EXPECT_EQ(ExchangeUntilClosed(Port, ReadCardRequest()), ReadOk);
    EXPECT_EQ(Host.Errors().find("cannot listen"), std::string::npos) << Host.Errors();
    EXPECT_EQ(Host.StopWith(SIGTERM), 0);
}

// Started with the usual soft limit of 1,024 open files and a higher hard
// limit, the service holds 1,100 idle connections and still answers a
// client.
TEST(OpenFilesLimit, ElevenHundredIdleClientsLeaveRoomForOneMore) {
    constexpr int Idle = 1100;
    rlimit Own{};
    ::getrlimit(RLIMIT_NOFILE, &Own);
    if (Own.rlim_max < 2 * Idle + 200)
        GTEST_SKIP() << "the hard open-files limit " << Own.rlim_max << " leaves no room for "
                     << Idle << " connections on both ends";
    ASSERT_GE(RaiseFdLimit(Idle + 200), static_cast<rlim_t>(Idle + 200));

    TTempDir Dir("ostra-lifecycle");
    const uint16_t Port = FreePort();
    auto Child = Service(Dir.Path(), Port);
    Child->Start(1024);
    ASSERT_TRUE(Child->WaitForOutput(ListeningLine(Port))) << Child->Errors();

    // Each connection taken in by the service holds a descriptor of its own.
    const std::string Fds = "/proc/" + std::to_string(Child->Pid()) + "/fd";
    auto Descriptors = [&] {
        std::size_t N = 0;
        std::error_code Ec;
        for (auto It = fs::directory_iterator(Fds, Ec); !Ec && It != fs::directory_iterator();
             It.increment(Ec))
            ++N;
        return N;
    };
    const std::size_t Base = Descriptors();
    std::vector<int> Held;
    for (int I = 0; I < Idle; ++I) {
        // In steps the listen queue can take: a connect that finds it full
        // would wait a second for the system to try again.
        if (I % 8 == 0) {
            ASSERT_TRUE(Eventually([&] { return Descriptors() >= Base + I; })) << I;
        }
        const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(Fd, 0);
        // A connect the service never takes ends after this, not after the
        // system's minutes of retries.
        timeval Limit{60, 0};
        ::setsockopt(Fd, SOL_SOCKET, SO_SNDTIMEO, &Limit, sizeof Limit);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        A.sin_port = htons(Port);
        ASSERT_EQ(::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A), 0) << I;
        Held.push_back(Fd);
    }
    ASSERT_TRUE(Eventually([&] { return Descriptors() >= Base + Idle; }));
    EXPECT_EQ(ExchangeUntilClosed(Port, ReadCardRequest()), ReadFailed);
    for (int Fd : Held) ::close(Fd);
    EXPECT_EQ(Child->StopWith(SIGTERM), 0);
}

}  // namespace
}  // namespace ostra::lifecycletest
