#include "mainwindowlog.h"

Q_LOGGING_CATEGORY(lcMainWindow, "mainwindow")
