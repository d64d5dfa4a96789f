// The frame of the service program: module start order, the lock object,
// the main window as the program's only main loop, and the shutdown order.
//
// Threads: everything here runs on the main thread.
#pragma once

#include <chrono>
#include <memory>

#include "service/core/BaseDoorlockUnit.h"

namespace ostra {

// Module starts, in order: the lock driver's port settings (Option),
// SysOption, LogFile, RecordManager.
void StartModules();
// Module ends, in reverse: RecordManager, the option dialog's saved port
// name, LogFile. The settings objects live until the process ends.
void EndModules();

// The lock object of this build, owned by the program for the whole run.
std::unique_ptr<TBaseDoorlock> CreateLock();

// Sets the interface kind, publishes `Lock` in Doorlock (nil leaves it),
// creates the main window, shows it modally and frees it when it has closed.
void RunMainForm(TBaseDoorlock* Lock);

// How long the shutdown waits, after the listener has stopped, for requests
// that are still running before it frees what they use.
inline constexpr std::chrono::milliseconds RequestDrainTimeout{10000};

// The whole program: modules, application object, lock object, main window,
// shutdown. Returns the exit code (0, or 1 after an error that reached the
// top). When requests are still running after RequestDrainTimeout the
// process ends at once with that code, leaving the objects they use alive.
// At start it raises its open-files limit to the hard limit. A stop signal
// (SIGTERM, SIGINT, SIGHUP) ends the main window's loop without the password and the
// same shutdown runs (service/ui/StopSignalUnit.h).
int RunProgram(int argc, char** argv);

}  // namespace ostra
