#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
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

// Files of this process may grow to Bytes while it lives; a write beyond
// fails with EFBIG (SIGXFSZ ignored) after writing what fits.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t Bytes) {
        Handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &Saved_);
        rlimit limit = Saved_;
        limit.rlim_cur = Bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Saved_);
        std::signal(SIGXFSZ, Handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit Saved_{};
    void (*Handler_)(int) = SIG_DFL;
};

TEST(LogFile, AnEntryThatDoesNotFitIsTakenBackWhole) {
    TTempDir dir;
    TLogFile service(dir / "x.LOG");
    LogWriter plugin(dir / "x.LOG", {}, LogWriter::IoErrors::Raise);
    service.Write("first");
    const std::string before = ReadFile(dir / "x.LOG");
    {
        test::StderrToFile err("/dev/null");
        FileSizeLimit limit(before.size() + 10);
        EXPECT_NO_THROW(service.Write(std::string(100, 'a')));
        EXPECT_EQ(ReadFile(dir / "x.LOG"), before);
        EXPECT_THROW(plugin.Write(std::string(100, 'b')), ELogIoError);
        EXPECT_EQ(ReadFile(dir / "x.LOG"), before);
    }
    service.Write("second");
    const std::string after = ReadFile(dir / "x.LOG");
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_TRUE(IsStamp(after.substr(before.size())));
    EXPECT_EQ(LogEntries(dir / "x.LOG"), (std::vector<std::string>{"first", "second"}));
}

TEST(LogFile, AnEntryAfterATornLineStartsOnItsOwnLine) {
    TTempDir dir;
    test::WriteFile(dir / "x.LOG", "2026-12-09 0");
    LogWriter log(dir / "x.LOG", {}, LogWriter::IoErrors::Raise);
    log.Write("next");
    const std::string all = ReadFile(dir / "x.LOG");
    ASSERT_EQ(all.size(), 12u + 2 + 20 + 6);
    EXPECT_EQ(all.substr(0, 14), "2026-12-09 0\r\n");
    EXPECT_TRUE(IsStamp(all.substr(14)));
    EXPECT_EQ(all.substr(34), "next\r\n");
}

TEST(LogFile, StandardErrorIsToldWhyOnceUntilTheFileIsWrittenAgain) {
    TTempDir dir;
    const std::string path = dir / "x.LOG";
    TLogFile log(path);
    const std::string err = dir / "stderr";
    {
        test::StderrToFile capture(err);
        log.Write("one");
        // A folder in the file's place: the open fails, also for root.
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
        log.Write("two");
        log.Write("three");
        std::filesystem::remove(path);
        log.Write("four");
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
        log.Write("five");
    }
    const std::string why = "log file " + path + " cannot be written (" + std::strerror(EISDIR) +
                            "); its entries go to standard error\n";
    std::string told;  // standard error, the stamps taken off
    const std::string all = ReadFile(err);
    for (size_t p = 0, e; p < all.size(); p = e) {
        e = std::min(all.find('\n', p), all.size() - 1) + 1;
        const std::string line = all.substr(p, e - p);
        told += IsStamp(line) ? line.substr(20) : line;
    }
    EXPECT_EQ(told, why + "two\r\nthree\r\n" + why + "five\r\n");
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
