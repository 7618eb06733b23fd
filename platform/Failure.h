#pragma once

#include <QMetaType>
#include <QString>

#include "LauncherError.h"

// What went wrong, for the user and for support: the error code the dialog names, and the details behind it (the
// file and HTTP status of a failed download, the TLS errors of a refused certificate, ...). Details are plain text
// for the dialog and the log, never a user-facing sentence of their own.
struct Failure
{
    LauncherError code = NoError;
    QString detail;

    bool failed() const { return code != NoError; }
};
Q_DECLARE_METATYPE(Failure)

// Writes `failure` into `recorded` only while nothing is recorded yet: later failures never overwrite the first.
inline void recordFailure(Failure& recorded, const Failure& failure)
{
    if (!recorded.failed())
        recorded = failure;
}
