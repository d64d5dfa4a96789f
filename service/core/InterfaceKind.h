// The interface kind of this run: 1 door lock, 2 police registration,
// 3 member card, 4 hand card. 0 until the program's entry sets it, once,
// before the main window and the listener exist; read from any thread after.
#pragma once

#include <atomic>

namespace ostra {

enum : int {
    KindDoorlock = 1,
    KindPolice = 2,
    KindMember = 3,
    KindHand = 4,
};

extern std::atomic<int> InterfaceKind;

}  // namespace ostra
