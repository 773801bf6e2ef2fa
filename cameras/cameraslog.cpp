#include "cameraslog.h"
Q_LOGGING_CATEGORY(lcCameras, "cameras")
