#include "LauncherLogging.h"

// On by default: the launcher's fixed diagnostic lines must reach a support engineer without setup.
Q_LOGGING_CATEGORY(lcLauncher, "orvel.launcher", QtDebugMsg)
