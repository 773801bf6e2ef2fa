#pragma once
// Logging category of the camera views and the region editor.
#include <QLoggingCategory>
Q_DECLARE_LOGGING_CATEGORY(lcCameraView)
