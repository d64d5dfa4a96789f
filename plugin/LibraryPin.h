// Keeping the library in memory while a connection thread may still run.
//
// A connection thread that is still inside the host's lock operation when
// the listener's stop gives up on it (after 5000 ms) goes on running the
// library's code after ShowMainAppWin has returned. If the host then
// unloaded the library, that thread would run unmapped code. Pinning marks
// the library as never to be unmapped: a later dlclose then neither unmaps
// it nor frees the settings and the log that the thread still uses.
//
// Threads: called on the host's user-interface thread; `LibraryPinned` is
// read by the library's teardown on the thread that unloads it.
#pragma once

namespace ostra::kestrane {

// Marks the shared object that holds this code as not to be unloaded.
// Returns false where that is not possible (the code is not in a shared
// object); the mark is remembered either way.
bool PinLibrary();

bool LibraryPinned();

}  // namespace ostra::kestrane
