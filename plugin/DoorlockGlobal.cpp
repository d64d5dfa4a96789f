#include "plugin/DoorlockGlobal.h"

namespace ostra::kestrane {

std::atomic<TBaseDoorlock*> Doorlock{nullptr};

}  // namespace ostra::kestrane
