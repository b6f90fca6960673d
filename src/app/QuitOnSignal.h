#pragma once

class QWidget;

// A request to end the program from outside (SIGTERM at logout, SIGINT from a terminal, SIGHUP
// when the terminal goes) closes the window as its close button does, so that how the user left
// it is kept, and then quits, also from inside a dialog.
namespace QuitOnSignal {

// Catches the signals from now on; call first thing in main(). Signals that come before
// closeOnSignal() wait for it.
void catchSignals();
// Closes the window and quits on the first of them; call once the window is shown.
void closeOnSignal(QWidget& window);

} // namespace QuitOnSignal
