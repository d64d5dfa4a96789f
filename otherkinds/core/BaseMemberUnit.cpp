#include "otherkinds/core/BaseMemberUnit.h"

namespace ostra {

std::atomic<TBaseMember*> Member{nullptr};

bool TBaseMember::WriteCard(const std::string&, const std::string&, const std::string&,
                            const std::string&, int) {
    return false;
}

bool TBaseMember::ReadCard(bool, std::string&, std::string&, std::string&, std::string&,
                           std::string&, int) {
    return false;
}

}  // namespace ostra
