#include "otherkinds/core/BaseHandUnit.h"

namespace ostra {

std::atomic<TBaseHand*> Hand{nullptr};

}  // namespace ostra
