#include "plugin/LogFileUnit.h"

#include <utility>

namespace ostra::kestrane {

TLogFile::TLogFile(std::string FileName)
    : LogWriter(std::move(FileName), {}, LogWriter::IoErrors::Raise) {}

LogWriter* LogFile = nullptr;

}  // namespace ostra::kestrane
