#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "platform/text/CodePage.h"
#include "service/core/LogFileUnit.h"
#include "tests/core/CoreTestSupport.h"

namespace ostra {
namespace {

using test::LogEntries;
using test::ReadFile;
using test::TTempDir;

bool IsStamp(const std::string& Line) {
    if (Line.size() < 20) return false;
    const std::string pattern = "dddd-dd-dd dd:dd:dd ";
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(Line[i]))
                              : Line[i] != pattern[i])
            return false;
    }
    return true;
}

TEST(LogFile, WritesStampedLinesWithCrLf) {
    TTempDir dir;
    TSysOption option(dir / "Option.ini");
    TSysOption* old = SetSysOption(&option);
    TLogFile log(dir / "x.LOG");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.LOG"));  // nothing until the first entry
    log.Write("执行操作->");
    log.Write("");
    log.Write("收到消息: \r\n<a/>");
    const std::string all = ReadFile(dir / "x.LOG");
    std::vector<std::string> lines;
    for (size_t p = 0; p < all.size();) {
        const size_t e = all.find("\r\n", p);
        ASSERT_NE(e, std::string::npos);
        lines.push_back(all.substr(p, e - p));
        p = e + 2;
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(IsStamp(lines[0]));
    EXPECT_EQ(lines[0].substr(20), "执行操作->");
    EXPECT_EQ(lines[1].size(), 20u);
    EXPECT_TRUE(IsStamp(lines[1]));
    EXPECT_EQ(lines[2].substr(20), "收到消息: ");
    EXPECT_EQ(lines[3], "<a/>");

    // A second object on the same file appends.
    TLogFile(dir / "x.LOG").Write("again");
    EXPECT_EQ(LogEntries(dir / "x.LOG").back(), "again");
    SetSysOption(old);
}

TEST(LogFile, WriteLogOffWritesNothing) {
    TTempDir dir;
    TSysOption option(dir / "Option.ini");
    option.WriteLog = false;
    TSysOption* old = SetSysOption(&option);
    TLogFile(dir / "x.LOG").Write("text");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.LOG"));
    SetSysOption(old);
}

TEST(LogFile, IoErrorsAreSwallowedOrRaised) {
    TTempDir dir;
    TLogFile service(dir / "no-such-folder/x.LOG");
    EXPECT_NO_THROW(service.Write("lost"));
    LogWriter plugin(dir / "no-such-folder/x.LOG", {}, LogWriter::IoErrors::Raise);
    EXPECT_THROW(plugin.Write("raised"), ELogIoError);
    // A writer that is always on writes with no settings at all.
    LogWriter always(dir / "y.LOG", {}, LogWriter::IoErrors::Raise);
    always.Write("ok");
    EXPECT_EQ(LogEntries(dir / "y.LOG"), std::vector<std::string>{"ok"});
}

TEST(LogFile, AnEntryThatCannotBeWrittenGoesToStandardErrorOnce) {
    TTempDir dir;
    // A folder holding the log file's name: the open fails, also for root.
    std::filesystem::create_directory(dir / "taken.LOG");
    TLogFile service(dir / "taken.LOG");
    // Every write to /dev/full fails as on a full disk.
    const bool full = std::filesystem::is_character_file("/dev/full");
    LogWriter plugin(full ? "/dev/full" : dir / "taken.LOG", {}, LogWriter::IoErrors::Raise);
    {
        test::StderrToFile err(dir / "stderr");
        EXPECT_NO_THROW(service.Write("收到消息: \r\n<r/>"));
        EXPECT_THROW(plugin.Write("执行操作->"), ELogIoError);
    }
    // Each entry once, stamped, with CR LF, as the file would have had it.
    EXPECT_EQ(LogEntries(dir / "stderr"),
              (std::vector<std::string>{"收到消息: \r\n<r/>", "执行操作->"}));
}

TEST(LogFile, FileIsNamedByTheStartDay) {
    const std::string name = DailyLogFileName("/srv/ostra/");
    ASSERT_EQ(name.size(), std::string("/srv/ostra/").size() + 12);
    EXPECT_EQ(name.substr(0, 11), "/srv/ostra/");
    EXPECT_EQ(name.substr(11), FormatDateTime("yyyymmdd", Now()) + ".LOG");
}

TEST(LogFile, WritesTheSystemCodePage) {
    TTempDir dir;
    SetSystemCodePageForTesting("GB18030");
    LogWriter log(dir / "x.LOG", {}, LogWriter::IoErrors::Raise);
    log.Write("发卡成功");
    SetSystemCodePageForTesting("");
    EXPECT_EQ(ReadFile(dir / "x.LOG").substr(20), "\xB7\xA2\xBF\xA8\xB3\xC9\xB9\xA6\r\n");
}

TEST(LogFile, ConcurrentEntriesStandWhole) {
    TTempDir dir;
    LogWriter log(dir / "x.LOG", {}, LogWriter::IoErrors::Raise);
    constexpr int Threads = 8, PerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            const std::string text = "thread " + std::to_string(t) + " " + std::string(300, 'x');
            for (int i = 0; i < PerThread; ++i) log.Write(text);
        });
    for (auto& t : threads) t.join();
    const auto entries = LogEntries(dir / "x.LOG");
    ASSERT_EQ(entries.size(), static_cast<size_t>(Threads * PerThread));
    for (const auto& e : entries) {
        EXPECT_EQ(e.rfind("thread ", 0), 0u);
        EXPECT_EQ(e.size(), 309u);
    }
}

}  // namespace
}  // namespace ostra
