// The lock object of this build: the Ostra card lock driver.
#include "lockdriver/OstraDoorLockUnit.h"
#include "service/app/ProgramUnit.h"

namespace ostra {

std::unique_ptr<TBaseDoorlock> CreateLock() {
    return std::make_unique<TOstraDoorLock>();
}

}  // namespace ostra
