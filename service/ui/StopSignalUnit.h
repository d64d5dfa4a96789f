// A stop signal (SIGTERM, SIGINT, SIGHUP) ends the application as the operating
// system ending the program, not as an operator closing a window: no
// password is asked. On the main thread, QCoreApplication::exit(0) makes
// every event loop that runs return (the main window's modal loop among
// them, and any dialog or message box open on top of it), and every loop
// opened after it return at once, so nothing waits for an operator while the
// program's normal shutdown runs. A second stop signal ends the process at
// once (platform/process/StopSignals.h).
//
// Threads: ExitOnStopSignal is called on the main thread once the
// application object exists; the exit runs there too, from the event loop.
#pragma once

namespace ostra {

// Installs the stop-signal handlers (if not yet done) and watches them from
// the application's event loops. A signal that came before this call is
// acted on as soon as an event loop runs.
void ExitOnStopSignal();

}  // namespace ostra
