// The stop signals, SIGTERM, SIGINT and SIGHUP, with which a service manager,
// a system that shuts down, Ctrl+C or the end of the terminal or remote
// session that started the program end it. They are taken as the operating
// system ending the program: the program runs its normal shutdown.
//
// The handler itself only writes one byte to a pipe (the self-pipe); the
// program watches the pipe's read end in its main loop and starts the
// shutdown from there. A second stop signal, while that shutdown runs, ends
// the process at once with exit code 128 + the signal's number.
//
// Threads: InstallStopSignals is called on the main thread at start, before
// the pipe is watched. The handler runs on whichever thread the signal hits;
// it touches only a lock-free atomic and the pipe's write end.
#pragma once

namespace ostra {

// Installs the handlers (once; later calls return the same descriptor).
// Returns the pipe's read end, readable once a stop signal has come; -1 when
// no pipe could be made (the signals then keep their default action).
int InstallStopSignals();

}  // namespace ostra
