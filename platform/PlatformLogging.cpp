#include "PlatformLogging.h"

// Debug lines are on by default: a support engineer reads them without setting QT_LOGGING_RULES first.
Q_LOGGING_CATEGORY(lcPlatform, "orvel.platform", QtDebugMsg)
Q_LOGGING_CATEGORY(lcHelper, "orvel.helper", QtDebugMsg)
