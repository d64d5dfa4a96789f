#include "service/ui/RequestGate.h"

namespace ostra {

TRequestGate::Pass::Pass(TRequestGate& Gate) : Gate_(Gate) {
    std::lock_guard<std::mutex> lock(Gate_.Mutex_);
    Admitted_ = !Gate_.Closed_;
    if (Admitted_) ++Gate_.Running_;
}

TRequestGate::Pass::~Pass() {
    if (!Admitted_) return;
    std::lock_guard<std::mutex> lock(Gate_.Mutex_);
    if (--Gate_.Running_ == 0) Gate_.Idle_.notify_all();
}

bool TRequestGate::CloseAndWait(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(Mutex_);
    Closed_ = true;
    return Idle_.wait_for(lock, Timeout, [this] { return Running_ == 0; });
}

void TRequestGate::Reopen() {
    std::lock_guard<std::mutex> lock(Mutex_);
    Closed_ = false;
}

std::size_t TRequestGate::Running() const {
    std::lock_guard<std::mutex> lock(Mutex_);
    return Running_;
}

TRequestGate& RequestGate() {
    static TRequestGate gate;
    return gate;
}

}  // namespace ostra
