#pragma once

#include <QLoggingCategory>

// Milestones of a launcher run for scripts and end-to-end tests to wait for, one line each: "orvel.events: NAME".
// The names are the contract; the debug lines of the other categories may change their wording.
Q_DECLARE_LOGGING_CATEGORY(lcEvents)

void emitEvent(const char* name);
