#pragma once
// Logging category of the networking subsystem (TCP messages, UDP, report link, screen stream).
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcNetwork)
