// The registry file, type-library registration and the registration tool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "platform/com/Com.h"
#include "tests/com/ComTestSupport.h"

using namespace ostra::com;
using ostra::com::test::TempRegistry;

namespace {

class Registry : public ::testing::Test {
  protected:
    TempRegistry reg_;
};

TEST_F(Registry, ValuesRoundTripWithoutCase) {
    std::string data;
    EXPECT_EQ(RegGetValue("CLSID\\{X}", "", &data), REGDB_E_KEYMISSING);
    ASSERT_EQ(RegSetValue("CLSID\\{X}\\InprocServer32", "", "/opt/a.so"), S_OK);
    ASSERT_EQ(RegSetValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Apartment"), S_OK);
    ASSERT_EQ(RegGetValue("clsid\\{x}\\inprocserver32", "", &data), S_OK);
    EXPECT_EQ(data, "/opt/a.so");
    ASSERT_EQ(RegSetValue("CLSID\\{X}\\InprocServer32", "threadingmodel", "Both"), S_OK);
    ASSERT_EQ(RegGetValue("CLSID\\{X}\\InprocServer32", "ThreadingModel", &data), S_OK);
    EXPECT_EQ(data, "Both");
    // Values may hold '=' and the default value is kept apart from a name.
    ASSERT_EQ(RegSetValue("K", "", "a=b;c"), S_OK);
    ASSERT_EQ(RegGetValue("K", "", &data), S_OK);
    EXPECT_EQ(data, "a=b;c");
    EXPECT_EQ(RegGetValue("K", "other", &data), REGDB_E_KEYMISSING);
}

TEST_F(Registry, KeysAreCreatedWithTheirParentsAndDeletedAsTrees) {
    ASSERT_EQ(RegSetValue("A\\B\\C", "v", "1"), S_OK);
    ASSERT_EQ(RegSetValue("A\\D", "", "2"), S_OK);
    ASSERT_EQ(RegCreateKey("E"), S_OK);
    EXPECT_TRUE(RegKeyExists("a\\b"));
    EXPECT_TRUE(RegKeyExists("E"));
    EXPECT_FALSE(RegKeyExists("A\\B\\C\\D"));
    EXPECT_EQ(RegEnumKeys("A"), (std::vector<std::string>{"B", "D"}));
    EXPECT_EQ(RegEnumKeys(""), (std::vector<std::string>{"A", "E"}));
    ASSERT_EQ(RegDeleteTree("a\\B"), S_OK);
    EXPECT_FALSE(RegKeyExists("A\\B\\C"));
    EXPECT_TRUE(RegKeyExists("A\\D"));
    EXPECT_EQ(RegDeleteTree("Nothing\\Here"), S_OK);
}

TEST_F(Registry, RejectsTextsThatWouldBreakTheFile) {
    EXPECT_EQ(RegSetValue("K\nL", "", "x"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("K]", "", "x"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("K", "a=b", "x"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("K", "@", "x"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("K", "[x", "x"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("K", "", "two\nlines"), E_INVALIDARG);
    EXPECT_EQ(RegSetValue("", "", "x"), E_INVALIDARG);
    EXPECT_FALSE(RegKeyExists("K"));
}

TEST_F(Registry, LocationFollowsTheEnvironment) {
    EXPECT_EQ(RegistryPath(), reg_.file());
    unsetenv("OSTRA_COM_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/tmp/xdg-for-test", 1);
    EXPECT_EQ(RegistryPath(), "/tmp/xdg-for-test/ostra/com-registry.ini");
    unsetenv("XDG_CONFIG_HOME");
    setenv("OSTRA_COM_REGISTRY", reg_.file().c_str(), 1);
}

TEST_F(Registry, CreatesMissingFolders) {
    std::string nested = reg_.dir() + "/deeper/still/reg.ini";
    setenv("OSTRA_COM_REGISTRY", nested.c_str(), 1);
    EXPECT_EQ(RegSetValue("K", "", "v"), S_OK);
    std::string data;
    EXPECT_EQ(RegGetValue("K", "", &data), S_OK);
    setenv("OSTRA_COM_REGISTRY", reg_.file().c_str(), 1);
}

TEST_F(Registry, SeveralProcessesWritingAtOnceLoseNothing) {
    constexpr int kProcesses = 6, kValues = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int v = 0; v < kValues; ++v)
                if (Failed(RegSetValue("P" + std::to_string(p), "v" + std::to_string(v),
                                       std::to_string(p * 100 + v))))
                    ++bad;
            _exit(bad);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int p = 0; p < kProcesses; ++p)
        for (int v = 0; v < kValues; ++v) {
            std::string data;
            ASSERT_EQ(RegGetValue("P" + std::to_string(p), "v" + std::to_string(v), &data), S_OK);
            EXPECT_EQ(data, std::to_string(p * 100 + v));
        }
}

constexpr FuncDesc kNoFuncs[] = {{1, "M", {}}};
constexpr InterfaceDesc kDual{
    "_Thing", *ParseGuid("{5C4230D0-3D61-43DD-BE4A-5E837BF5CB08}"), 1, 0, 0x11D0, kNoFuncs};
constexpr const InterfaceDesc* kItfs[] = {&kDual};
constexpr TypeLibDesc kLib{
    "Thing", *ParseGuid("{455E7F42-AC4B-44A9-99E4-58054606EEFF}"), 16, 0, 0x0409, kItfs, {}};

TEST_F(Registry, TypeLibraryEntriesAsThePlatformWritesThem) {
    ASSERT_EQ(RegisterTypeLib(kLib, "/opt/lib/libThing.so"), S_OK);
    const std::string lib = "TypeLib\\{455E7F42-AC4B-44A9-99E4-58054606EEFF}\\10.0";
    std::string data;
    ASSERT_EQ(RegGetValue(lib, "", &data), S_OK);
    EXPECT_EQ(data, "Thing");
    ASSERT_EQ(RegGetValue(lib + "\\0\\win32", "", &data), S_OK);
    EXPECT_EQ(data, "/opt/lib/libThing.so");
    ASSERT_EQ(RegGetValue(lib + "\\HELPDIR", "", &data), S_OK);
    EXPECT_EQ(data, "/opt/lib");
    const std::string itf = "Interface\\{5C4230D0-3D61-43DD-BE4A-5E837BF5CB08}";
    ASSERT_EQ(RegGetValue(itf + "\\ProxyStubClsid32", "", &data), S_OK);
    EXPECT_EQ(data, "{00020424-0000-0000-C000-000000000046}");
    ASSERT_EQ(RegGetValue(itf + "\\TypeLib", "Version", &data), S_OK);
    EXPECT_EQ(data, "10.0");

    ASSERT_EQ(UnRegisterTypeLib(kLib), S_OK);
    EXPECT_FALSE(RegKeyExists("TypeLib\\{455E7F42-AC4B-44A9-99E4-58054606EEFF}"));
    EXPECT_FALSE(RegKeyExists(itf));
}

class RegSvrTool : public ::testing::Test {
  protected:
    int Run(const std::vector<std::string>& args) {
        return ostra::com::test::RunRegSvr(args, reg_.dir());
    }

    // Runs the tool as a user bound by permission bits (the support's
    // RunAsBoundUser). Its exit code; nothing, with the reason in why_, when
    // no user here is bound by them or that user cannot reach the folders.
    // The registry's folder is to be open to everyone.
    std::optional<int> RunAsUser(const std::vector<std::string>& args) {
        std::filesystem::remove(reg_.dir() + "/tool.log");
        const ostra::testsupport::TBoundUserRun run = ostra::testsupport::RunAsBoundUser(
            reg_.dir(), [&] { return Run(args); },
            {ostra::com::test::BinDir() + "/ostra-regsvr", ostra::com::test::ProbePath()});
        why_ = run.Why;
        return run.Code;
    }
    std::string Said() {
        std::ifstream log(reg_.dir() + "/tool.log");
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    }

    TempRegistry reg_;
    std::string why_;
};

TEST_F(RegSvrTool, RegistersAndUnregistersAServer) {
    ASSERT_EQ(Run({"-s", ostra::com::test::ProbePath()}), 0);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("OstraTest.Probe", &clsid), S_OK);
    EXPECT_EQ(GuidToString(clsid), "{0B7C3F2E-5D41-4C7B-9E3A-6A1F2B3C4D52}");
    EXPECT_EQ(CLSIDFromProgID("ostratest.probe", &clsid), S_OK);
    const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
    std::string data;
    ASSERT_EQ(RegGetValue(key, "", &data), S_OK);
    char real[PATH_MAX];
    ASSERT_NE(realpath(ostra::com::test::ProbePath().c_str(), real), nullptr);
    EXPECT_EQ(data, real);
    ASSERT_EQ(RegGetValue(key, "ThreadingModel", &data), S_OK);
    EXPECT_EQ(data, "Apartment");
    EXPECT_TRUE(RegKeyExists("TypeLib\\{0B7C3F2E-5D41-4C7B-9E3A-6A1F2B3C4D50}\\10.0\\0\\win32"));

    ASSERT_EQ(Run({"-u", "-s", ostra::com::test::ProbePath()}), 0);
    EXPECT_EQ(CLSIDFromProgID("OstraTest.Probe", &clsid), CO_E_CLASSSTRING);
    // Only the shared roots stay, empty, as on the platform.
    EXPECT_FALSE(RegKeyExists("OstraTest.Probe"));
    for (const char* root : {"CLSID", "Interface", "TypeLib"})
        EXPECT_EQ(RegEnumKeys(root), std::vector<std::string>{}) << root;
}

TEST_F(RegSvrTool, ReportsWhatWentWrong) {
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Run({"-x", "a.so"}), 1);
    EXPECT_EQ(Run({reg_.dir() + "/missing.so"}), 3);
    // The runtime itself is a library without the entry points.
    EXPECT_EQ(Run({ostra::com::test::BinDir() + "/libostracom.so"}), 4);
}

// A registry file that cannot be written is named, with the system's reason
// (a plain file stands where its folder should be, which stops root too).
TEST_F(RegSvrTool, NamesTheRegistryFileItCannotWrite) {
    const std::string blocker = reg_.dir() + "/not-a-folder";
    std::ofstream(blocker) << "x";
    const std::string file = blocker + "/registry.ini";
    setenv("OSTRA_COM_REGISTRY", file.c_str(), 1);
    EXPECT_EQ(Run({"-s", ostra::com::test::ProbePath()}), 5);
    std::ifstream log(reg_.dir() + "/tool.log");
    const std::string said((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find("The registry could not be written: " + file + ": Not a directory\n"),
              std::string::npos)
        << said;
}

// A registry file this user may not write (mode 0444), or may not read, is
// left as it is, inode, mode and bytes, and the tool names it with the
// system's reason. The user registers first, so the file is its own.
TEST_F(RegSvrTool, LeavesARegistryFileItMayNotWriteOrReadAsItIs) {
    namespace fs = std::filesystem;
    fs::permissions(reg_.dir(), fs::perms::all);
    const std::string probe = ostra::com::test::ProbePath(), file = reg_.file();
    const auto registered = RunAsUser({"-s", probe});
    if (!registered) GTEST_SKIP() << why_;
    ASSERT_EQ(*registered, 0) << Said();
    auto status = [&] {
        struct stat st {};
        ::stat(file.c_str(), &st);
        return st;
    };
    auto bytes = [&] {
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string before = bytes();
    const ino_t inode = status().st_ino;
    const std::string refused =
        "The registry could not be written: " + file + ": " + std::strerror(EACCES) + "\n";
    for (const mode_t mode : {mode_t{0444}, mode_t{0200}}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"-u", "-s", probe}, {"-s", probe}}) {
            ASSERT_EQ(::chmod(file.c_str(), mode), 0);
            EXPECT_EQ(RunAsUser(args), 5) << std::oct << mode << " " << args[0];
            EXPECT_NE(Said().find(refused), std::string::npos) << Said();
            EXPECT_EQ(status().st_ino, inode);
            EXPECT_EQ(status().st_mode & 07777, mode);
            ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
            EXPECT_EQ(bytes(), before) << std::oct << mode << " " << args[0];
        }
    }
    // A file the user may write again is replaced with its mode kept.
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    EXPECT_EQ(RunAsUser({"-u", "-s", probe}), 0) << Said();
    EXPECT_EQ(status().st_mode & 07777, 0640u);
    EXPECT_NE(bytes(), before);
}

TEST_F(Registry, ProgIdLookUpRefusesWhatIsNotAClass) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID("No.Such", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID("A\\CLSID", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(RegSetValue("Bad.Class\\CLSID", "", "not-a-guid"), S_OK);
    EXPECT_EQ(CLSIDFromProgID("Bad.Class", &clsid), CO_E_CLASSSTRING);
}

}  // namespace
