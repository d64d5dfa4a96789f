#include "service/core/LogFileUnit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/datetime/DateTime.h"
#include "platform/text/CodePage.h"
#include "service/core/ExecutablePath.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

namespace {

std::mutex EntryLock;  // one entry at a time, across every writer of the process

// Appends Entry to FileName with one write; the text of the failure, or empty.
// A write that fails part-way (disk full, file-size limit) takes its bytes
// back: the file is cut to its size before the entry, so no torn line is left
// for the next entry to run into. The size is taken under EntryLock, which
// holds off every other writer of this process; no other process writes the
// file. Should the file still end in a torn line (the cut failed, or it was
// torn before), the entry starts with CR LF so that it stands on its own line.
std::string Append(const std::string& FileName, const std::string& Entry) {
    // Read access only to look at the last byte: a file we may only write to
    // is appended to without the look.
    int fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES)
        fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::string bytes;
    char last = '\n';
    if (regular && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        bytes = "\r\n";
    bytes += Entry;
    std::string error;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    // Should the cut fail, the next entry's look at the last byte starts it
    // on a line of its own.
    if (!error.empty() && done > 0 && regular) (void)!::ftruncate(fd, st.st_size);
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    return error;
}

// An entry that could not go to its file goes to standard error instead, as
// it stands (after the line saying why, when there is one), with one write,
// so that a service manager keeps it. A failure here is dropped.
void ToStandardError(const std::string& Bytes) {
    size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::write(STDERR_FILENO, Bytes.data() + done, Bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

LogWriter* LogFile = nullptr;

LogWriter::LogWriter(std::string FileName, std::function<bool()> Enabled, IoErrors OnIoError)
    : FileName_(std::move(FileName)), Enabled_(std::move(Enabled)), OnIoError_(OnIoError) {}

void LogWriter::Write(std::string_view Text) {
    if (Enabled_ && !Enabled_()) return;
    const std::string text = ToSystemCodePage(Text);
    std::string error;
    {
        // The stamp is taken under the lock, so entries stand in time order.
        std::lock_guard<std::mutex> g(EntryLock);
        std::string bytes = FormatDateTime("yyyy-mm-dd hh:nn:ss ", Now());
        bytes += text;
        bytes += "\r\n";
        error = Append(FileName_, bytes);
        if (error.empty()) {
            SaidWhy_ = false;
        } else {
            // The first entry to miss its file says why, on a line of its own.
            if (!SaidWhy_)
                bytes = "log file " + FileName_ + " cannot be written (" + error +
                        "); its entries go to standard error\n" + bytes;
            SaidWhy_ = true;
            ToStandardError(bytes);
        }
    }
    if (!error.empty() && OnIoError_ == IoErrors::Raise)
        throw ELogIoError("I/O error: " + error + " (" + FileName_ + ")");
}

TLogFile::TLogFile(std::string FileName)
    : LogWriter(
          std::move(FileName), [] { return SysOption == nullptr || SysOption->WriteLog; },
          IoErrors::Swallow) {}

std::string DailyLogFileName(const std::string& Directory) {
    return Directory + FormatDateTime("yyyymmdd", Now()) + ".LOG";
}

void CreateLogFile() {
    LogFile = new TLogFile(DailyLogFileName(ExecutableDirectory()));
}

void FreeLogFile() {
    delete LogFile;
    LogFile = nullptr;
}

LogWriter* SetLogFile(LogWriter* Log) {
    LogWriter* old = LogFile;
    LogFile = Log;
    return old;
}

void LogWrite(std::string_view Text) {
    if (LogWriter* log = LogFile) log->Write(Text);
}

}  // namespace ostra
