// The host contract of the Kestrane library (libKestrane.so).
//
// Kestrane is the door-lock interface in the form of a library: a host
// program loads it, calls its one export `ShowMainAppWin` with the host's Qt
// application and a lock object of its own, and gets control back when the
// operator has closed the library's window. While the window is open the
// library listens for the front desk's door-lock requests on the "PortNo" of
// its settings and answers them through the host's lock object.
//
// Loading (dlopen) creates the library's settings and log, before the export
// can be called:
//   - "Option.ini" beside the host's executable (the directory of
//     /proc/self/exe), section "SysOptions": "Password", "PortNo",
//     "DelayMinutes"; missing keys take their defaults (movrel, 8886, 0).
//   - the log file beside the host's executable, named by the day of loading,
//     "yyyymmdd.LOG"; it keeps that name for as long as the library stays
//     loaded.
//   - the date order and the date and time separators of the host's LC_TIME
//     locale (its short date and time formats), read once: request dates and
//     the test dialog's texts are read with them for the whole load.
// No window and no listener exist until the export is called. Unloading
// (dlclose) puts the library's own application object back in place and
// frees the log; it never touches the host's application. Unload only after
// the last call has returned.
//
// `ShowMainAppWin(Application, Lock)`:
//   - `Application` is the host's application: a pointer to the process's
//     QApplication. Qt allows one application object per process, so the
//     host's is the one the library's windows run in for the whole call:
//       title        - the application's name
//                      (QCoreApplication::applicationName). The call sets
//                      it to "澄枫Zelt门锁接口" and leaves it so; it never
//                      sets the display name, so the host's window titles
//                      get nothing appended.
//       modal runs   - the library's window and dialogs run modal event loops
//                      (QDialog::exec) inside the call, on the calling thread.
//       error reports- an error raised in a window's event handler is shown
//                      in an error box whose caption is that name;
//                      the window carries on.
//     The library never frees or quits the host's application; closing its
//     windows does not count as the host's last window closing. Its own
//     application object (a record of the library's, current from load until
//     the first call) only stands in while no window of the library exists.
//   - `Lock` is the host's lock object, a `ostra::kestrane::TBaseDoorlock*`
//     (plugin/PluginDoorlockUnit.h), or null. The host owns and frees it and
//     keeps it alive for as long as the library is loaded. A null `Lock`
//     keeps the object of an earlier call (none on the first call: card
//     requests then fail, the Option command does nothing after the password,
//     and the test dialog opens but its buttons do nothing).
//   - Call it on the thread that runs the QApplication. The call blocks until
//     the operator has closed the window, which asks for the administrator
//     password; all the library's connection threads have ended when it
//     returns. One window at a time: a call made while an earlier one is
//     still running (from inside one of its event loops), with no
//     application object, or from another thread than the application's,
//     returns at once and does nothing.
//   - If the listener's port cannot be opened, the error is shown to the
//     operator and the window opens all the same, without a listener.
//
// Only `ShowMainAppWin` is exported, with C linkage.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

void ShowMainAppWin(void* Application, void* Lock);

// The type of the export, for hosts that look it up with dlsym.
typedef void (*TShowMainAppWin)(void* Application, void* Lock);

#ifdef __cplusplus
}
#endif
