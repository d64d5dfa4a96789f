// The library's log file: "yyyymmdd.LOG" beside the host's executable, named
// by the day the library was loaded. Unlike the service's log it is always
// written, and an input/output error while opening, writing or closing the
// file is not swallowed: the entry goes to standard error and ELogIoError
// reaches the caller, which abandons the request it is handling.
//
// Threads: `LogFile` is set when the library is loaded and unset when it is
// unloaded, while no thread of the library runs; in between the connection
// threads call `LogFile->Write` at once (LogWriter serialises the entries).
#pragma once

#include <string>

#include "service/core/LogFileUnit.h"

namespace ostra::kestrane {

class TLogFile : public LogWriter {
  public:
    // Keeps the name; touches no file.
    explicit TLogFile(std::string FileName);
};

// The library's one log. Unset outside a load; tests may set their own.
extern LogWriter* LogFile;

}  // namespace ostra::kestrane
