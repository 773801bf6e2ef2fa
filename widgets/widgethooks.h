#pragma once
// The two values of the main window that the toolkit writes or shows. widgets/ sits below the main
// window, so the main window installs these functions at start-up; an empty function means there is
// no main window (tests, tools), and the call is skipped or reads 0. Install and call on the GUI
// thread only.

#include <functional>

struct WidgetHooks
{
    // DeVeWizard::loginLevel = level (0 not logged in, 1 basic user, 2 advanced user); written by
    // PasswordBox on a right password.
    std::function<void(int level)> setLoginLevel;
    // DeVeWizard::cycleTenths: tenths of a second between the last two cycle starts, shown by
    // IOStatusWidget.
    std::function<int()> cycleTenths;
};

// The one set of hooks of the process.
WidgetHooks &widgetHooks();
