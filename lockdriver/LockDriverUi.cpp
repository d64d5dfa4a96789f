#include "lockdriver/LockDriverUi.h"

#include <atomic>

namespace ostra {

namespace {
std::atomic<ILockDriverUi*> InstalledUi{nullptr};
}  // namespace

ILockDriverUi* LockDriverUi() {
    return InstalledUi.load();
}

ILockDriverUi* SetLockDriverUi(ILockDriverUi* Ui) {
    return InstalledUi.exchange(Ui);
}

}  // namespace ostra
