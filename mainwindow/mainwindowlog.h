#pragma once
// Logging category of the main window and the machine cycle.
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcMainWindow)
