#pragma once
// Log category of the settings pages.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSettings)
