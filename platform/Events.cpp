#include "Events.h"

// On by default: the demo, the start-up benchmark and the end-to-end tests read these lines without any setup.
Q_LOGGING_CATEGORY(lcEvents, "orvel.events", QtInfoMsg)

void emitEvent(const char* name)
{
    qCInfo(lcEvents, "%s", name);
}
