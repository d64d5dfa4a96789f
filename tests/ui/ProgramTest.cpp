// The real OstraDoorLock as a child process, offscreen, in a folder of its
// own: it starts on the settings beside it and answers over loopback.
#include <filesystem>
#include <fstream>
#include <memory>

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

    void Start() {
        testsupport::TChildOptions options;
        options.Set = {"QT_QPA_PLATFORM=offscreen", "LANG=C.UTF-8"};
        // Started from another folder: where its files go must not depend on it.
        options.WorkDir = "/";
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

}  // namespace
}  // namespace ostra::test
