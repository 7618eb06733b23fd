#include "ServiceLogging.h"

Q_LOGGING_CATEGORY(lcService, "orvel.service", QtDebugMsg)
