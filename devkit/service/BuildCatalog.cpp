#include "BuildCatalog.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <openssl/evp.h>

namespace {
const char* const kManifestName = "liveupdate.json";
const QString kDailySuffix = QStringLiteral(".t");
// Sizes travel as JSON numbers: whole numbers are exact up to 2^53.
constexpr qint64 kManifestSizeLimit = qint64(1) << 53;
constexpr qint64 kHashChunk = 1024 * 1024;

// OpenSSL's SHA-256 uses the processor's hash instructions: a build with a file of several GiB is published in
// seconds rather than minutes.
QString sha256Hex(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        *error = QStringLiteral("cannot hash %1").arg(path);
        return {};
    }
    std::vector<char> buffer(kHashChunk);
    qint64 got = 0;
    while ((got = file.read(buffer.data(), kHashChunk)) > 0)
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (got < 0 || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}
} // namespace

bool BuildCatalog::computeManifest(const QString& version, const QString& folder, Build* build, QString* error)
{
    const QDir root(folder);
    if (version.isEmpty() || version.endsWith(kDailySuffix)) {
        *error = QStringLiteral("invalid version text \"%1\"").arg(version);
        return false;
    }
    if (!root.exists()) {
        *error = QStringLiteral("no such folder: %1").arg(folder);
        return false;
    }

    QStringList paths;
    QDirIterator it(root.absolutePath(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = root.relativeFilePath(it.next());
        if (relative != QLatin1String(kManifestName))
            paths.append(relative);
    }
    if (paths.isEmpty()) {
        *error = QStringLiteral("no files in %1").arg(folder);
        return false;
    }
    std::sort(paths.begin(), paths.end());

    Build result;
    result.version = version;
    result.folder = root.absolutePath();
    QJsonArray fileList;
    qint64 total = 0;
    for (const QString& relative : paths) {
        const QString absolute = root.absoluteFilePath(relative);
        const qint64 size = QFileInfo(absolute).size();
        total += size;
        if (size > kManifestSizeLimit || total > kManifestSizeLimit) {
            *error = QStringLiteral("%1 is too large: the manifest carries sizes up to 2^53 bytes").arg(relative);
            return false;
        }
        const QString hash = sha256Hex(absolute, error);
        if (hash.isEmpty())
            return false;
        fileList.append(QJsonObject{
            {QStringLiteral("path"), relative}, {QStringLiteral("size"), size}, {QStringLiteral("hash"), hash}});
        result.files.insert(relative, File{absolute, size});
    }
    result.manifest = QJsonObject{{QStringLiteral("version"), version},
                                  {QStringLiteral("totalFileSize"), total},
                                  {QStringLiteral("fileList"), fileList}};
    result.manifestJson = QJsonDocument(result.manifest).toJson(QJsonDocument::Compact);
    *build = std::move(result);
    return true;
}

bool BuildCatalog::publish(const QString& version, const QString& folder, QString* error)
{
    Build build;
    if (!computeManifest(version, folder, &build, error))
        return false;
    m_builds.insert(version, std::move(build));
    return true;
}

const BuildCatalog::Build* BuildCatalog::newest() const
{
    const Build* best = nullptr;
    for (const Build& build : m_builds) {
        if (!best || compareVersions(build.version, best->version) > 0)
            best = &build;
    }
    return best;
}

QList<const BuildCatalog::Build*> BuildCatalog::builds() const
{
    QList<const Build*> list;
    for (const Build& build : m_builds)
        list.append(&build);
    std::sort(list.begin(), list.end(),
              [](const Build* a, const Build* b) { return compareVersions(a->version, b->version) < 0; });
    return list;
}

BuildCatalog::PatchAnswer BuildCatalog::answerPatch(const QString& installedVersion, bool bDaily,
                                                    const Build** build) const
{
    *build = nullptr;
    if (bDaily) {
        // A pinned daily installation always gets the manifest of its pinned build; the launcher works out
        // from its own files what is left to fetch.
        *build = buildForDownload(installedVersion, true);
        return *build ? PatchAnswer::Manifest : PatchAnswer::NotFound;
    }
    const Build* latest = newest();
    if (!latest)
        return PatchAnswer::NotFound;
    if (installedVersion == latest->version)
        return PatchAnswer::UpToDate;
    if (installedVersion == QLatin1String("0.0.0.0") || m_builds.contains(installedVersion)) {
        *build = latest;
        return PatchAnswer::Manifest;
    }
    return PatchAnswer::NotFound;
}

const BuildCatalog::Build* BuildCatalog::buildForDownload(const QString& version, bool bDaily) const
{
    QString key = version;
    if (bDaily) {
        if (!key.endsWith(kDailySuffix))
            return nullptr;
        key.chop(kDailySuffix.size());
    }
    const auto it = m_builds.constFind(key);
    return it == m_builds.constEnd() ? nullptr : &it.value();
}

int BuildCatalog::compareVersions(const QString& a, const QString& b)
{
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (int i = 0; i < std::max(left.size(), right.size()); ++i) {
        const qlonglong x = i < left.size() ? left.at(i).toLongLong() : 0;
        const qlonglong y = i < right.size() ? right.at(i).toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}
