// The lock object of this build.
#include "service/app/ProgramUnit.h"

namespace ostra {

std::unique_ptr<TBaseDoorlock> CreateLock() { return std::make_unique<TBaseDoorlock>(); }

}  // namespace ostra
