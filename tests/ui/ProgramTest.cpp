// The real OstraDoorLock as a child process, offscreen, in a folder of its
// own: it starts on the settings beside it and answers over loopback.
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/datetime/DateTime.h"
#include "tests/support/ChildProcess.h"
#include "tests/ui/UiTestSupport.h"

namespace ostra::test {
namespace {

namespace fs = std::filesystem;

class ChildProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        // A copy, not a link: the program finds its files beside its own path.
        fs::copy_file(fs::path(BinDir()) / "OstraDoorLock", Dir / "OstraDoorLock");
    }

    // StderrFile: where the program's standard error goes (empty: the test's).
    void Start(const std::string& StderrFile = "") {
        testsupport::TChildOptions options;
        options.Set = {"QT_QPA_PLATFORM=offscreen", "LANG=C.UTF-8"};
        // Started from another folder: where its files go must not depend on it.
        options.WorkDir = "/";
        options.StderrFile = StderrFile;
        Child =
            std::make_unique<testsupport::TChildProcess>((Dir / "OstraDoorLock").string(), options);
    }

    // Waits for the listener (or the child's end); false when it never came.
    bool WaitListening(uint16_t Port) { return testsupport::WaitUntilListening(Port, *Child); }

    std::string LogText() {
        std::string all;
        for (const auto& entry : fs::directory_iterator(Dir))
            if (entry.path().extension() == ".LOG") all += testsupport::ReadFile(entry.path());
        return all;
    }

    TTempDir Temp{"ostra-program"};
    const fs::path Dir = Temp.Path();
    std::unique_ptr<testsupport::TChildProcess> Child;
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
        "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
        "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo></DoorResponse>";
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

    // Read to the close: the program closes once the request's last entry is written.
    const std::string request = "<DoorRequest type=\"ReadCard\"/>";
    EXPECT_EQ(testsupport::ExchangeToEnd(port, request + std::string(1, '\0')).Reply,
              "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
              "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo></DoorResponse>" +
                  std::string(1, '\0'));
    Child->Kill();

    // The request's entries, each once, as the log file would have had them.
    const std::string text = testsupport::ReadFile(errFile);
    const size_t received = text.find(" 收到消息: \r\n" + request + "\r\n");
    ASSERT_NE(received, std::string::npos) << text;
    EXPECT_EQ(text.find(" 收到消息: ", received + 1), std::string::npos) << text;
    for (const char* entry : {" 执行操作->\r\n", " 读卡失败\r\n", " 完成一次操作\r\n"})
        EXPECT_NE(text.find(entry, received), std::string::npos) << entry << "\n" << text;
}

}  // namespace
}  // namespace ostra::test
