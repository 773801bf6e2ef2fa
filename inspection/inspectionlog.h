#pragma once
// Logging category of the inspection engine (matchers, detector, registration).
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcInspection)
