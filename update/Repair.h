#pragma once

#include <QString>
#include <QStringList>

#include "Manifest.h"

// Repairing an installation (OrvelLauncher --verify, with sha256 verification): files whose content differs from the
// installed manifest are treated as changed, so the normal update fetches and installs them again.
namespace Repair {

// The installed manifest with the "hash" of every entry cleared whose file under installPath is missing, of another
// size, or whose SHA-256 differs from its "hash"; collectChangedFiles() then lists those entries. Their paths go to
// `damaged`.
Manifest checkInstalled(const Manifest& installed, const QString& installPath, QStringList* damaged);

// The installed build asking for its own manifest: as a build pinned to its own version ("targetVersion"), which the
// update service answers with that build's manifest even when no newer one is published. A pinned build stays as it
// is.
Manifest pinnedToItself(const Manifest& installed);

} // namespace Repair
