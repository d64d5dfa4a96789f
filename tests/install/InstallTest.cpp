// The build installed into a temporary prefix: no installed file names the
// build tree, and the installed programs run from there on their own
// libraries. Installing only reads the build tree (apart from the
// install_manifest.txt that cmake writes there), so the other tests running
// at the same time are not disturbed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/Folders.h"
#include "tests/support/FrontDesk.h"

namespace ostra {
namespace {

namespace fs = std::filesystem;

using testsupport::Quoted;
using testsupport::ReadFile;
using testsupport::Shell;

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

class InstalledTree : public ::testing::Test {
  protected:
    void SetUp() override {
        // The programs' per-user state stays in this test's folder, and
        // nothing but their own run paths leads them to their libraries.
        ::setenv("OSTRA_COM_REGISTRY", (Root / "com-registry.ini").c_str(), 1);
        ::setenv("LYCOMM_STATE_DIR", (Root / "lycomm").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::unsetenv("LD_LIBRARY_PATH");
    }

    // A shell command with its standard error; its output.
    std::string RunCommand(const std::string& Command, int& Status) {
        return Shell(Command + " 2>&1", &Status);
    }
    std::string Tool(const std::string& Name, const std::string& Args, int& Status) {
        return RunCommand(Quoted(Prefix / "bin" / Name) + " " + Args, Status);
    }

    // Starts the program through its link in bin/, from another folder.
    void Start() {
        testsupport::TChildOptions Options;
        Options.WorkDir = "/";
        Child = std::make_unique<testsupport::TChildProcess>(
            (Prefix / "bin" / "OstraDoorLock").string(), Options);
    }
    bool WaitListening(uint16_t Port) { return testsupport::WaitUntilListening(Port, *Child); }

    testsupport::TTempDir Temp{"ostra-install"};
    const fs::path Root = Temp.Path();
    const fs::path Prefix = Root / "prefix";
    const fs::path Service = Prefix / "lib" / "ostra-doorlock";
    std::unique_ptr<testsupport::TChildProcess> Child;
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
            for (const std::string& Name : BuildTreeNames(ReadFile(Entry.path()), Build))
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

    const uint16_t Port = testsupport::FreePort();
    std::ofstream(Service / "Option.ini", std::ios::binary)
        << "[SysOption]\r\nDoorlockPortNo=" << Port << "\r\n";
    Start();
    ASSERT_TRUE(WaitListening(Port));

    EXPECT_EQ(testsupport::Exchange(Port, "<DoorRequest type=\"ReadCard\"/>"),
              "<DoorResponse><RequestID></RequestID><ResultCode>500</ResultCode>"
              "<ResultMessage>读卡失败</ResultMessage><CardNo>0</CardNo>"
              "</DoorResponse>");

    // The log is in the program's own folder; the card library read the
    // blank card (-700: no guest card) through the encoder driver beside it.
    std::string Log;
    for (const auto& Entry : fs::directory_iterator(Service))
        if (Entry.path().extension() == ".LOG") Log += ReadFile(Entry.path());
    EXPECT_NE(Log.find("读卡失败，返回：r=-700"), std::string::npos) << Log;
}

}  // namespace
}  // namespace ostra
