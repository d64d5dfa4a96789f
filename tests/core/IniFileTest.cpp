#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ini/IniFile.h"
#include "service/core/SysOptionUnit.h"
#include "tests/core/CoreTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace ostra {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;
namespace fs = std::filesystem;

TEST(IniFile, ReadsIntegerForms) {
    EXPECT_EQ(IniFile::ParseInteger("8900"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("0x22C4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("0X22c4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("$22C4"), 8900);
    EXPECT_EQ(IniFile::ParseInteger("-15"), -15);
    EXPECT_EQ(IniFile::ParseInteger("+7"), 7);
    EXPECT_EQ(IniFile::ParseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(IniFile::ParseInteger("$FFFFFFFF"), -1);
    for (const char* bad :
         {"", "abc", "0x", "$", "12a", "1.5", "true", "2147483648", "0x1FFFFFFFF", "- 1"})
        EXPECT_FALSE(IniFile::ParseInteger(bad).has_value()) << bad;
}

TEST(IniFile, ReadsValuesWithoutRegardToCase) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path,
              "; settings\r\n[DOORLOCKOPTION]\r\n  delayminutes = 30 \r\nPmsServer= \"10.0.0.5\" "
              "\r\n[SysOption]\nDoorlockPortNo=abc\nWriteLog=2\nHandPortNo=$22C4\nName=房间\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("DoorlockOption", "DelayMinutes", 0), 30);
    EXPECT_EQ(ini.ReadString("doorlockoption", "PMSSERVER", "x"), "10.0.0.5");
    EXPECT_EQ(ini.ReadInteger("SysOption", "DoorlockPortNo", 8886), 8886);
    EXPECT_EQ(ini.ReadInteger("SysOption", "HandPortNo", 0), 8900);
    EXPECT_TRUE(ini.ReadBool("SysOption", "WriteLog", false));
    EXPECT_EQ(ini.ReadString("SysOption", "Name", ""), "房间");
    EXPECT_EQ(ini.ReadString("SysOption", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("NoSection", "Name", "dflt"), "dflt");
    EXPECT_EQ(IniFile(dir / "none.ini").ReadInteger("a", "b", 5), 5);
}

TEST(IniFile, CutsLongTextAt2047Characters) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path, "[S]\r\nK=" + std::string(3000, 'a') + "\r\n");
    EXPECT_EQ(IniFile(path).ReadString("S", "K", "").size(), 2047u);
}

TEST(IniFile, WritingOneKeyKeepsEverythingElse) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path,
              "; hand-written\n[SysOption]\nPassword=abc\n; keep me\nDoorlockPortNo=8886\n\n"
              "[DoorlockOption]\nComPort=3\n");
    IniFile ini(path);
    ini.WriteString("SYSOPTION", "password", "new");
    ini.WriteInteger("SysOption", "ScanPortNo", 9000);
    ini.WriteBool("DoorlockOption", "AutoReadDoorCard", true);
    ini.WriteString("Other", "Key", "v");
    EXPECT_EQ(ReadFile(path),
              "; hand-written\r\n[SysOption]\r\nPassword=new\r\n; keep me\r\n"
              "DoorlockPortNo=8886\r\nScanPortNo=9000\r\n\r\n[DoorlockOption]\r\nComPort=3\r\n"
              "AutoReadDoorCard=1\r\n[Other]\r\nKey=v\r\n");
    EXPECT_EQ(ini.ReadInteger("SysOption", "ScanPortNo", 0), 9000);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(IniFile, AByteOrderMarkIsKept) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path, "\xEF\xBB\xBF[SysOption]\r\nPassword=abc\r\n");
    IniFile ini(path);
    EXPECT_EQ(ini.ReadString("SysOption", "Password", ""), "abc");
    ini.WriteString("SysOption", "Password", "x");
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[SysOption]\r\nPassword=x\r\n");
}

TEST(IniFile, TellsWhyAnExistingFileWasNotRead) {
    TTempDir dir;
    WriteFile(dir / "Option.ini", "[S]\r\nK=v\r\n");
    fs::create_directory(dir / "Folder.ini");
    EXPECT_EQ(IniFile(dir / "Option.ini").ReadFailure(), "");
    EXPECT_EQ(IniFile(dir / "none.ini").ReadFailure(), "");
    EXPECT_EQ(IniFile(dir / "Folder.ini").ReadFailure(), std::strerror(EISDIR));
}

TEST(IniFile, FailedWriteNamesTheFile) {
    TTempDir dir;
    IniFile ini(dir / "missing-folder/Option.ini");
    try {
        ini.WriteString("S", "K", "v");
        FAIL();
    } catch (const EIniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + (dir / "missing-folder/Option.ini"));
    }
}

// Path's own status (a link is not followed).
struct stat Status(const std::string& Path) {
    struct stat st {};
    ::lstat(Path.c_str(), &st);
    return st;
}
mode_t Mode(const std::string& Path) {
    return Status(Path).st_mode & 07777;
}
ino_t Inode(const std::string& Path) {
    return Status(Path).st_ino;
}

// The names in a folder, sorted.
std::vector<std::string> Names(const std::string& Folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes where permission bits and owners matter. Root ignores those bits,
// so a write runs in a child process which, when this runs as root, first
// drops to user and group 65534. The test's folder is open to everyone so
// that user reaches it.
class IniFileWrite : public ::testing::Test {
  protected:
    void SetUp() override { fs::permissions(Dir.Path(), fs::perms::all); }

    // Folders a test locked, opened again so that the temporary folder can go.
    void TearDown() override {
        for (const auto& e : fs::recursive_directory_iterator(Dir.Path()))
            if (e.is_directory() && !e.is_symlink())
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add);
    }

    // Writes [S] K=v into Path as that user: "written", "refused" (the write
    // error naming Path) or "other error". Nothing, with the reason in Why,
    // when no user here is bound by permission bits.
    std::optional<std::string> WriteAsUser(const std::string& Path) {
        const testsupport::TBoundUserRun run = testsupport::RunAsBoundUser(Dir.Dir(), [&] {
            try {
                IniFile(Path).WriteString("S", "K", "v");
                return 0;
            } catch (const EIniWriteError& e) {
                return e.what() == "Unable to write to " + Path ? 1 : 2;
            } catch (...) {
                return 2;
            }
        });
        Why = run.Why;
        if (!run.Code) return std::nullopt;
        return *run.Code == 0 ? "written" : *run.Code == 1 ? "refused" : "other error";
    }

    const std::string Before = "[SysOption]\r\nDoorlockPortNo=9000\r\nPolicePortNo=7000\r\n";
    TTempDir Dir;
    std::string Why;
};

TEST_F(IniFileWrite, AnUnreadableFileFailsAndStaysAsItWas) {
    const std::string path = Dir / "Option.ini";
    WriteFile(path, Before);
    fs::permissions(path, fs::perms::none);
    const auto outcome = WriteAsUser(path);
    if (!outcome) GTEST_SKIP() << Why;
    EXPECT_EQ(*outcome, "refused");
    EXPECT_EQ(Mode(path), 0000u);
    fs::permissions(path, fs::perms::owner_read);
    EXPECT_EQ(ReadFile(path), Before);
    EXPECT_EQ(Names(Dir.Path()), std::vector<std::string>{"Option.ini"});
}

TEST_F(IniFileWrite, AReadOnlyFileFailsAndStaysAsItWas) {
    const std::string path = Dir / "Option.ini";
    WriteFile(path, Before);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const ino_t inode = Inode(path);
    const auto outcome = WriteAsUser(path);
    if (!outcome) GTEST_SKIP() << Why;
    EXPECT_EQ(*outcome, "refused");
    EXPECT_EQ(Inode(path), inode);
    EXPECT_EQ(Mode(path), 0444u);
    EXPECT_EQ(ReadFile(path), Before);
    EXPECT_EQ(Names(Dir.Path()), std::vector<std::string>{"Option.ini"});
}

TEST_F(IniFileWrite, ALinkIsWrittenThrough) {
    fs::create_directory(Dir / "conf");
    fs::create_directory(Dir / "app");
    const std::string target = Dir / "conf/settings.ini";
    WriteFile(target, Before);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("../conf/settings.ini", Dir / "app/Option.ini");
    fs::create_symlink(Dir / "app/Option.ini", Dir / "app/Chain.ini");

    IniFile(Dir / "app/Option.ini").WriteInteger("SysOption", "ScanPortNo", 8881);
    IniFile(Dir / "app/Chain.ini").WriteString("DoorlockOption", "PmsServer", "pms");

    EXPECT_EQ(fs::read_symlink(Dir / "app/Option.ini"), "../conf/settings.ini");
    EXPECT_EQ(fs::read_symlink(Dir / "app/Chain.ini"), Dir / "app/Option.ini");
    EXPECT_EQ(ReadFile(target),
              Before + "ScanPortNo=8881\r\n[DoorlockOption]\r\nPmsServer=pms\r\n");
    EXPECT_EQ(Mode(target), 0640u);
    EXPECT_EQ(Names(Dir / "conf"), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(Names(Dir / "app"), (std::vector<std::string>{"Chain.ini", "Option.ini"}));
}

TEST_F(IniFileWrite, AFolderThatCannotBeWrittenFails) {
    fs::create_directory(Dir / "locked");
    fs::create_directory(Dir / "app");
    fs::permissions(Dir / "app", fs::perms::all);
    const std::string target = Dir / "locked/settings.ini";
    WriteFile(target, Before);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::group_write | fs::perms::others_read |
                                fs::perms::others_write);
    fs::create_symlink(target, Dir / "app/Option.ini");
    fs::permissions(Dir / "locked", fs::perms::owner_read | fs::perms::owner_exec |
                                        fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);

    // A new file there.
    const auto outcome = WriteAsUser(Dir / "locked/Option.ini");
    if (!outcome) GTEST_SKIP() << Why;
    EXPECT_EQ(*outcome, "refused");
    // A link to a file there, the file itself writable: the link's own
    // folder is no place for the target's replacement.
    EXPECT_EQ(WriteAsUser(Dir / "app/Option.ini").value_or(Why), "refused");
    EXPECT_TRUE(fs::is_symlink(Dir / "app/Option.ini"));
    EXPECT_EQ(ReadFile(target), Before);
    EXPECT_EQ(Names(Dir / "locked"), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(Names(Dir / "app"), std::vector<std::string>{"Option.ini"});
}

TEST_F(IniFileWrite, RootKeepsTheOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    const std::string path = Dir / "Option.ini";
    WriteFile(path, Before);
    if (::chown(path.c_str(), 65534, 65533) != 0)
        GTEST_SKIP() << "root here cannot give a file to uid 65534: " << std::strerror(errno);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    IniFile(path).WriteInteger("SysOption", "ScanPortNo", 8881);
    EXPECT_EQ(Status(path).st_uid, 65534u);
    EXPECT_EQ(Status(path).st_gid, 65533u);
    EXPECT_EQ(Mode(path), 0640u);
    EXPECT_EQ(ReadFile(path), Before + "ScanPortNo=8881\r\n");
}

// UTF-16LE text, as bytes.
std::string Le(std::u16string_view Text) {
    std::string bytes;
    for (const char16_t u : Text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

TEST(IniFileUtf16, ReadsKeysAsInAnyOtherFile) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    WriteFile(path, "\xFF\xFE" + Le(u"; 设置\r\n[SYSOPTION]\r\n  Password = 密码 \r\n"
                                    u"PmsServer=\"10.0.0.5\"\r\n[DoorlockOption]\r\n"
                                    u"DelayMinutes=$1E\r\n"));
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadString("SysOption", "password", ""), "密码");
    EXPECT_EQ(ini.ReadString("sysoption", "PmsServer", ""), "10.0.0.5");
    EXPECT_EQ(ini.ReadInteger("DoorlockOption", "DelayMinutes", 0), 30);
    EXPECT_EQ(ini.ReadString("DoorlockOption", "Password", "dflt"), "dflt");
}

TEST(IniFileUtf16, AWriteKeepsEveryOtherLineByteForByte) {
    TTempDir dir;
    const std::string path = dir / "Option.ini";
    // A comment with a character beyond the BMP, one with a lone surrogate,
    // LF among CR LF, a last line without its end and an odd last byte.
    const std::u16string rest = u"\r\n[Other]\n;\xD800\nA=1";
    WriteFile(path,
              "\xFF\xFE" + Le(u"; key \U0001F511\r\n[SysOption]\r\nPassword=abc\r\n" + rest) + "Z");
    IniFile ini(path);
    ini.WriteString("sysoption", "PASSWORD", "密码");
    ini.WriteInteger("SysOption", "ScanPortNo", 9000);
    ini.WriteString("New", "Key", "\U0001F511");
    EXPECT_EQ(ReadFile(path), "\xFF\xFE" +
                                  Le(u"; key \U0001F511\r\n[SysOption]\r\nPassword=密码\r\n"
                                     u"ScanPortNo=9000\r\n" +
                                     rest + u"\r\n[New]\r\nKey=\U0001F511\r\n") +
                                  "Z");
    EXPECT_EQ(ini.ReadString("SysOption", "Password", ""), "密码");
    EXPECT_EQ(ini.ReadInteger("SysOption", "ScanPortNo", 0), 9000);
    EXPECT_EQ(ini.ReadInteger("Other", "A", 0), 1);
    EXPECT_EQ(ini.ReadString("New", "Key", ""), "\U0001F511");

    // A file of LF line ends gets LF.
    WriteFile(path, "\xFF\xFE" + Le(u"[S]\nA=1\n"));
    ini.WriteString("S", "B", "2");
    EXPECT_EQ(ReadFile(path), "\xFF\xFE" + Le(u"[S]\nA=1\nB=2\n"));
}

TEST(SysOption, DefaultsWithoutAFile) {
    TTempDir dir;
    TSysOption o(dir / "Option.ini");
    o.Load();
    EXPECT_EQ(o.DoorlockPortNo, 8886);
    EXPECT_EQ(o.HandPortNo, 8886);
    EXPECT_EQ(o.PolicePortNo, 8885);
    EXPECT_EQ(o.MemberPortNo, 8883);
    EXPECT_EQ(o.ScanPortNo, 8881);
    EXPECT_EQ(o.Password, "movrel");
    EXPECT_TRUE(o.WriteLog);
    EXPECT_FALSE(o.UseNativeDoorlockDb);
    EXPECT_FALSE(o.SaveDoorlockRecord);
    EXPECT_FALSE(o.AutoReadDoorCard);
    EXPECT_EQ(o.DelayMinutes, 0);
    EXPECT_EQ(o.DelayMinutes2, 0);
    EXPECT_EQ(o.PmsServer, "127.0.0.1");
    EXPECT_EQ(o.PmsServerPort, 9873);
    EXPECT_FALSE(std::filesystem::exists(dir / "Option.ini"));
}

TEST(SysOption, LoadsStoredValues) {
    TTempDir dir;
    WriteFile(dir / "Option.ini",
              "[SysOption]\r\nDoorlockPortNo=0x22C4\r\nWriteLog=true\r\nPassword=secret\r\n"
              "[DOORLOCKOPTION]\r\nDelayMinutes=-15\r\nUseNativeDoorlockDb=1\r\n"
              "PmsServer=pms.local\r\nPmsServerPort=$10\r\n");
    TSysOption o(dir / "Option.ini");
    o.Load();
    EXPECT_EQ(o.DoorlockPortNo, 8900);
    EXPECT_TRUE(o.WriteLog);  // "true" is no number: the default, on
    EXPECT_EQ(o.Password, "secret");
    EXPECT_EQ(o.DelayMinutes, -15);
    EXPECT_TRUE(o.UseNativeDoorlockDb);
    EXPECT_EQ(o.PmsServer, "pms.local");
    EXPECT_EQ(o.PmsServerPort, 16);

    WriteFile(dir / "Option.ini", "[SysOption]\r\nWriteLog=0\r\n");
    o.Load();
    EXPECT_FALSE(o.WriteLog);
}

TEST(SysOption, SaveWritesAllFourteenKeysInOrder) {
    TTempDir dir;
    WriteFile(dir / "Option.ini",
              "[SysOption]\r\nPolicePortNo=7001\r\n[DoorlockOption]\r\nPort=4\r\n");
    TSysOption o(dir / "Option.ini");
    o.Load();
    o.Password = "neu";
    o.Save();
    EXPECT_EQ(ReadFile(dir / "Option.ini"),
              "[SysOption]\r\nPolicePortNo=7001\r\nPassword=neu\r\nDoorlockPortNo=8886\r\n"
              "HandPortNo=8886\r\nMemberPortNo=8883\r\nScanPortNo=8881\r\nWriteLog=1\r\n"
              "[DoorlockOption]\r\nPort=4\r\nDelayMinutes=0\r\nDelayMinutes2=0\r\n"
              "UseNativeDoorlockDb=0\r\nSaveDoorlockRecord=0\r\nAutoReadDoorCard=0\r\n"
              "PmsServer=127.0.0.1\r\nPmsServerPort=9873\r\n");
    TSysOption again(dir / "Option.ini");
    again.Load();
    EXPECT_EQ(again.Password, "neu");
    EXPECT_EQ(again.PolicePortNo, 7001);
}

TEST(SysOption, SaveFailureRaises) {
    TTempDir dir;
    TSysOption o(dir / "gone/Option.ini");
    EXPECT_THROW(o.Save(), EIniWriteError);
}

}  // namespace
}  // namespace ostra
