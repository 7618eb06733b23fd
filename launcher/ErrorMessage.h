#pragma once

#include <QString>

#include "Failure.h"

// The message the error dialog shows for a code ("Unknown Error." for codes outside 1 to 14).
QString launcherErrorMessage(qint32 code);

// The dialog's text for a failure: the code's message followed by its details, when there are any.
QString failureMessage(const Failure& failure);
