// The host's lock object as the library reaches it.
//
// Threads: written only by ShowMainAppWin on the host's user-interface
// thread, before the window and its listener exist; read by the connection
// threads (the request handler) and the user-interface thread (the Option
// command, the test dialog). Atomic, so a connection thread always sees a
// whole pointer; the library never frees the object.
#pragma once

#include <atomic>

#include "plugin/PluginDoorlockUnit.h"

namespace ostra::kestrane {

// Null at load; a later call that passes no lock keeps the earlier one.
extern std::atomic<TBaseDoorlock*> Doorlock;

}  // namespace ostra::kestrane
