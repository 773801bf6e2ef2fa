#include "inspectionlog.h"
Q_LOGGING_CATEGORY(lcInspection, "inspection")
