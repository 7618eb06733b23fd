#include "Repair.h"

#include <QFileInfo>
#include <QSet>

#include "Sha256Hasher.h"
#include "UpdateLogging.h"

namespace Repair {

Manifest checkInstalled(const Manifest& installed, const QString& installPath, QStringList* damaged)
{
    Manifest checked = installed;
    // A path listed twice counts with its last entry, as everywhere else.
    const QHash<QString, QString> hashes = installed.hashes();
    const QHash<QString, qint64> sizes = installed.sizes();
    QSet<QString> bad;
    for (auto it = hashes.cbegin(); it != hashes.cend(); ++it) {
        const QString path = installPath + QLatin1Char('/') + it.key();
        const QFileInfo file(path);
        if (it.key().isEmpty() || (file.isFile() && file.size() == sizes.value(it.key()) &&
                                   Sha256Hasher::matches(*it, Sha256Hasher::fileHex(path))))
            continue;
        bad.insert(it.key());
        damaged->append(it.key());
    }
    for (ManifestEntry& entry : checked.fileList) {
        if (bad.contains(entry.path))
            entry.hash.clear();
    }
    damaged->sort();
    if (!damaged->isEmpty())
        qCInfo(lcUpdate).noquote() << "Files that differ from the installed manifest:"
                                   << damaged->join(QLatin1String(", "));
    return checked;
}

Manifest pinnedToItself(const Manifest& installed)
{
    Manifest pinned = installed;
    if (!pinned.isDaily())
        pinned.targetVersion = installed.version;
    return pinned;
}

} // namespace Repair
