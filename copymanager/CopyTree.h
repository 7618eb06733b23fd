#pragma once

#include <QString>

// Installs every non-hidden file and folder of `source` into `destination`, creating folders as needed and
// replacing files atomically (a target is always the old or the new file). Nothing else in `destination` is
// removed and `source` is left as it is. A regular file "liveupdate.json" at the top of `source` is installed last,
// and only when everything else was: a partial copy keeps the old manifest, so the launcher downloads again.
// Returns true when every entry was installed; entries that fail do not stop the others.
bool copyTree(const QString& source, const QString& destination);
