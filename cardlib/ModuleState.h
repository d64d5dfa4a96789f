// The card library's module state: one copy per COM apartment.
//
// Threads: a copy is made, used and destroyed on its apartment's thread only
// (the component runtime calls every instance on the thread of its apartment);
// nothing in it is shared between apartments, so nothing guards it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cardlib/CardDatabase.h"

namespace ostra::cardlib {

struct ModuleState {
    // -1: no instance opened the port since the last creation; 1: encoder
    // open; 0 and 2..255: the driver's failure byte.
    int16_t PortState = 0;
    std::string ServerAddress;
    std::unique_ptr<DbConnection> Database;
    std::string SiteCode;
    int16_t LastCardResult = 0;
};

}  // namespace ostra::cardlib
