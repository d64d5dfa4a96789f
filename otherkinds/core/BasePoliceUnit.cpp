#include "otherkinds/core/BasePoliceUnit.h"

namespace ostra {

std::atomic<TBasePolice*> Police{nullptr};

}  // namespace ostra
