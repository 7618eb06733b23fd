#include "UpdateLogging.h"

// On by default: the update's failure reasons (file, status, sizes) must reach a support engineer without setup.
Q_LOGGING_CATEGORY(lcUpdate, "orvel.update", QtDebugMsg)
