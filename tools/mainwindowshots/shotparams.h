#pragma once
// The parameters the main-window screenshot tools store in the working directory's PARAM.db before
// they build the window. GUI thread, before the main window exists.

// Stores the language (0..3) and, with `allMenuButtons`, switches on every optional button of the
// menu bar (statistics, both snapshots, temperature chart). False when PARAM.db could not be written.
bool storeShotParameters(int language, bool allMenuButtons);
