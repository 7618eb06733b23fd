#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
// Standard error of the programs started with elevated rights (the copy manager), one message per line.
Q_DECLARE_LOGGING_CATEGORY(lcHelper)
