#include "networklog.h"
Q_LOGGING_CATEGORY(lcNetwork, "network")
