#include "service/core/InterfaceKind.h"

#include "service/core/KeepClientConnection.h"

namespace ostra {

std::atomic<int> InterfaceKind{0};
std::atomic<bool> KeepClientConnection{false};

}  // namespace ostra
