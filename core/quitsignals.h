#pragma once
// SIGTERM and SIGINT (a shutdown, a service stop, Ctrl+C at a console) end the program through its
// normal quit path: the event loop is left, the threads are joined, and the log says why. The default
// action would end it on the spot with threads running and nothing logged.

// Installs the handlers (GUI thread, once, after the application object exists). The signal only
// notes the request; the GUI thread logs it and quits the event loop. A second signal while the
// first is pending ends the program at once, in case the event loop no longer runs.
void installQuitSignals();

// True once a quit signal came; main checks it when a start that waited for an answer is done, since
// the event loop that the signal left was the question's. Any thread.
bool quitRequested();
