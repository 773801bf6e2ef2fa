#pragma once
// Logging category of the camera back-ends and the camera registry.
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcCameras)
