#include "cameraviewlog.h"
Q_LOGGING_CATEGORY(lcCameraView, "cameraview")
