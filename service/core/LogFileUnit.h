// Log files: one entry per event, "yyyy-mm-dd hh:nn:ss " (local time) then the
// text and CR LF, appended to one file; the file is opened and closed for
// every entry and nothing is buffered. The text goes to the file in the
// system code page (platform/text/CodePage.h). A text holding CR LF pairs
// makes an entry of several lines, only the first of which has the prefix.
//
// LogWriter is the reusable writer: its file, a "write enabled" predicate
// asked before every entry, and what to do with an input/output error
// (swallow it, or raise ELogIoError to the caller). Either way an entry that
// could not be written to the file (disk full, folder not writable) is lost
// from the file whole: a write that fails part-way is cut off again, and an
// entry after a torn line starts with CR LF. The entry goes to standard error
// instead, once, with the same bytes. The first entry to do so since the file
// was last written is preceded by one line (LF-ended) naming the file and the
// system's reason.
// TLogFile is the service's log: enabled while SysOption->WriteLog is set,
// I/O errors swallowed. The plug-in makes its own LogWriter: always enabled,
// errors raised.
//
// Threads: Write is called from the main thread, every connection thread and
// the card auto-read thread at once. Entries are serialised by one lock
// shared by every writer in the process and each is written with one append,
// so every entry stands whole on its own lines (on standard error too).
// SaidWhy_ is read and set by Write under that lock, from any of those
// threads; nothing else changes after construction.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostra {

// An input/output error while opening, writing or closing a log file.
class ELogIoError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class LogWriter {
  public:
    enum class IoErrors { Swallow, Raise };

    // Empty Enabled means always enabled.
    LogWriter(std::string FileName, std::function<bool()> Enabled, IoErrors OnIoError);
    virtual ~LogWriter() = default;
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    const std::string& FileName() const { return FileName_; }

    // Appends one entry (creating the file when missing) unless disabled.
    // On an I/O error the entry goes to standard error; then, with
    // IoErrors::Raise, ELogIoError is thrown.
    virtual void Write(std::string_view Text);

  private:
    const std::string FileName_;
    const std::function<bool()> Enabled_;
    const IoErrors OnIoError_;
    // Guarded by the entry lock: standard error has been told why this file
    // cannot be written, and no entry has reached the file since.
    bool SaidWhy_ = false;
};

// The service's log file. Writes only while SysOption->WriteLog is set (or
// while SysOption is unset, as its default is on); I/O errors are swallowed.
class TLogFile : public LogWriter {
  public:
    explicit TLogFile(std::string FileName);  // keeps the path, touches no file
};

// The file name of a log started now in Directory (with trailing "/"):
// Directory + local date "yyyymmdd" + ".LOG".
std::string DailyLogFileName(const std::string& Directory);

// The one service log. Unset until CreateLogFile. Tests may replace it
// (SetLogFile) while no other thread uses it.
extern LogWriter* LogFile;

// Module start (after CreateSysOption): LogFile := TLogFile(
// DailyLogFileName(ExecutableDirectory())). The day is fixed here for the run.
void CreateLogFile();
// Module end: frees LogFile and unsets it. Only once no thread can write any more.
void FreeLogFile();
// Replaces the global; returns the previous object (the caller owns both).
LogWriter* SetLogFile(LogWriter* Log);

// LogFile->Write(Text) when LogFile is set; nothing otherwise.
void LogWrite(std::string_view Text);

}  // namespace ostra
