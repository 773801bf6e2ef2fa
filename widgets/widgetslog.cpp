#include "widgetslog.h"
Q_LOGGING_CATEGORY(lcWidgets, "widgets")
