// The service's settings file, when it exists but cannot be read: the
// service runs on the defaults and says why, once on stderr and in the log.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/CoreTestSupport.h"

namespace ostra::test {
namespace {

TEST(UnreadSysOption, RunsOnTheDefaultsAndSaysWhy) {
    ServiceGlobals g;
    const std::string err = g.Dir / "stderr.txt";
    // A folder by the file's name cannot be read, by root neither.
    std::filesystem::create_directory(g.Option.FileName);
    g.Option.Load();
    EXPECT_EQ(g.Option.Password, "movrel");
    EXPECT_EQ(g.Option.DoorlockPortNo, 8886);
    {
        StderrToFile capture(err);
        ReportUnreadSysOption();
    }
    const std::string text =
        "cannot read " + g.Option.FileName + " (Is a directory); the defaults are in force";
    EXPECT_EQ(ReadFile(err), "OstraDoorLock: " + text + "\n");
    EXPECT_EQ(g.Entries(), std::vector<std::string>{text});

    // A file that is read, or none at all, is not worth a word.
    std::filesystem::remove(g.Option.FileName);
    {
        StderrToFile capture(err);
        ReportUnreadSysOption();
        WriteFile(g.Option.FileName, "[SysOption]\r\nPassword=x\r\n");
        ReportUnreadSysOption();
    }
    EXPECT_EQ(ReadFile(err), "");
    EXPECT_EQ(g.Entries().size(), 1u);
}

}  // namespace
}  // namespace ostra::test
