// The module starts and ends of the service program.
#include "service/app/ProgramUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

void StartModules() {
    // SysOption first: LogFile.Write reads WriteLog. The log before the record
    // database, which logs its open failure.
    CreateSysOption();
    CreateLogFile();
    CreateRecordManager();
}

void EndModules() {
    FreeRecordManager();
    FreeLogFile();
}

}  // namespace ostra
