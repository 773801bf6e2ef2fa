#pragma once
// Keeps every box the operator has to see on top. The box runs with no window manager: mapping a
// window does not raise it, so a box made before the full-screen main window (the global message and
// question boxes are) would come up under it, and a modal one would then take every touch while
// nobody can see it. Every window the program shows is raised here when it is shown, the box classes
// raise themselves again when they are shown while already up, a modal box stays above any window
// shown while it waits, and an open on-screen pad stays above the box it types into. GUI thread only.

class QWidget;

namespace BoxStacking {

// Watches the application for windows being shown; once per process, later calls do nothing. The box
// classes call it when they are made, the program's application object when it starts.
void install();

// Raises `window` above every other window and gives it the keyboard, unless it never takes focus (the
// pads); then puts back on top what must stay reachable: the modal box that is waiting, unless
// `window` belongs to it or is itself modal, and the open pads.
void raise(QWidget *window);

} // namespace BoxStacking
