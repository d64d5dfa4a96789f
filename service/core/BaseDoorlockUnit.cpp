#include "service/core/BaseDoorlockUnit.h"

namespace ostra {

std::atomic<TBaseDoorlock*> Doorlock{nullptr};

bool TBaseDoorlock::WriteCard(std::string, std::string, std::string, std::string, std::string,
                              TDateTime, TDateTime, TDateTime, TDateTime, bool, int64_t&) {
    return false;
}

bool TBaseDoorlock::ReadCard(int64_t&) {
    return false;
}

}  // namespace ostra
