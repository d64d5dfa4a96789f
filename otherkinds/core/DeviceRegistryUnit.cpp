#include "otherkinds/core/DeviceRegistryUnit.h"

#include <mutex>

namespace ostra {

namespace {

struct TRegistry {
    std::mutex Lock;
    std::unique_ptr<TBasePolice> PoliceDevice;
    std::unique_ptr<TBaseMember> MemberDevice;
    std::unique_ptr<TBaseHand> HandDevice;
};

// Never destroyed: a connection thread still inside a device call at process
// end must not find the object freed under it.
TRegistry& Registry() {
    static TRegistry* registry = new TRegistry;
    return *registry;
}

template <typename T>
void Publish(std::unique_ptr<T>& slot, std::atomic<T*>& global, std::unique_ptr<T> device) {
    global.store(device.get());
    slot = std::move(device);  // frees the one registered before, if any
}

}  // namespace

void RegisterDevice(std::unique_ptr<TBasePolice> device) {
    std::lock_guard<std::mutex> guard(Registry().Lock);
    Publish(Registry().PoliceDevice, Police, std::move(device));
}

void RegisterDevice(std::unique_ptr<TBaseMember> device) {
    std::lock_guard<std::mutex> guard(Registry().Lock);
    Publish(Registry().MemberDevice, Member, std::move(device));
}

void RegisterDevice(std::unique_ptr<TBaseHand> device) {
    std::lock_guard<std::mutex> guard(Registry().Lock);
    Publish(Registry().HandDevice, Hand, std::move(device));
}

void ClearDevices() {
    std::lock_guard<std::mutex> guard(Registry().Lock);
    Publish(Registry().PoliceDevice, Police, {});
    Publish(Registry().MemberDevice, Member, {});
    Publish(Registry().HandDevice, Hand, {});
}

}  // namespace ostra
