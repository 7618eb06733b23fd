#pragma once

#include <QLoggingCategory>

// Debug lines of the service client; on by default, switch off with QT_LOGGING_RULES="orvel.service.debug=false".
Q_DECLARE_LOGGING_CATEGORY(lcService)
