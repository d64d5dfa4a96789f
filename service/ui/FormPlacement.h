// Placement of windows that have no owner.
//
// Threads: main (user-interface) thread only.
#pragma once

class QWidget;

namespace ostra {

// Centres `Window` (not yet shown) on the application's main window: the
// shown top-level main window, which is the service's main window, or in a
// plug-in host the library's window (a lock driver in the host finds it
// through the application object they share). Whether a window is active
// does not matter. With no main window shown, `Window` is left where it is.
void CentreOnMainWindow(QWidget& Window);

}  // namespace ostra
