#pragma once
// The log category of the UI toolkit.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWidgets)
