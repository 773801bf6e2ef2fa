#pragma once
// Logging category of the application core.
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcCore)
