// The module starts and ends of the service program.
#include "lockdriver/OptionUnit.h"
#include "lockdriver/ui/OptionFormUnit.h"
#include "service/app/ProgramUnit.h"
#include "service/core/DoorlockRecordManagerUnit.h"
#include "service/core/LogFileUnit.h"
#include "service/core/SysOptionUnit.h"

namespace ostra {

void StartModules() {
    // The settings first: LogFile.Write reads WriteLog. The log before the
    // record database, which logs its open failure.
    CreateOption();
    CreateSysOption();
    CreateLogFile();
    ReportUnreadSysOption();
    CreateRecordManager();
}

void EndModules() {
    FreeRecordManager();
    OldPortName.clear();  // the port name the option dialog saved
    FreeLogFile();
}

}  // namespace ostra
