// The one place where a build for interface kind 2, 3 or 4 hands in its device
// object. The service supplies no device of its own: whoever builds the
// program for another kind adds a source file (CMake option
// OSTRA_DEVICE_SOURCES) that defines a class derived from TBasePolice,
// TBaseMember or TBaseHand and registers one instance, for example
//
//     static ostra::TDeviceRegistration registration{std::make_unique<MyMemberReader>()};
//
// Registration publishes the object in `Police`, `Member` or `Hand`. The
// registry owns every registered object and keeps it until the process ends,
// so connection threads that outlive the listener never see it freed.
//
// Threads: call RegisterDevice and ClearDevices only on the main thread (or
// during static initialisation) while no listener runs; the registry itself is
// guarded by a mutex, the published globals are atomic.
#pragma once

#include <memory>

#include "otherkinds/core/BaseHandUnit.h"
#include "otherkinds/core/BaseMemberUnit.h"
#include "otherkinds/core/BasePoliceUnit.h"

namespace ostra {

// Takes the device and publishes it; a device registered earlier for the same
// kind is freed. A null device clears that kind.
void RegisterDevice(std::unique_ptr<TBasePolice> device);
void RegisterDevice(std::unique_ptr<TBaseMember> device);
void RegisterDevice(std::unique_ptr<TBaseHand> device);

// Unpublishes and frees every registered device (tests, orderly teardown).
void ClearDevices();

// Registers a device from a static object in the file that defines it.
struct TDeviceRegistration {
    explicit TDeviceRegistration(std::unique_ptr<TBasePolice> device) {
        RegisterDevice(std::move(device));
    }
    explicit TDeviceRegistration(std::unique_ptr<TBaseMember> device) {
        RegisterDevice(std::move(device));
    }
    explicit TDeviceRegistration(std::unique_ptr<TBaseHand> device) {
        RegisterDevice(std::move(device));
    }
};

}  // namespace ostra
