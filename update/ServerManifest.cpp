#include "ServerManifest.h"

#include <cmath>

#include <QJsonArray>

namespace {

bool readSize(const QJsonValue& value, qint64* size)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < 0 ||
        number > double(ServerManifest::maxSize))
        return false;
    *size = static_cast<qint64>(number);
    return true;
}

// Paths are appended to the download tree and to the installation folder, and the copy runs elevated. A name that
// merely starts with a dot (".config", ".keep") is an ordinary name.
bool isSafePath(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char(':')) || path.contains(QLatin1Char('\\')) ||
        path.contains(QChar(0)))
        return false;
    const QStringList segments = path.split(QLatin1Char('/'));
    return !segments.contains(QLatin1String(".")) && !segments.contains(QLatin1String(".."));
}

} // namespace

QHash<QString, qint64> ServerManifest::sizes() const
{
    QHash<QString, qint64> result;
    result.reserve(fileList.size());
    for (const ManifestEntry& entry : fileList)
        result.insert(entry.path, entry.size);
    return result;
}

std::optional<ServerManifest> ServerManifest::parse(const QJsonObject& document, QString* error)
{
    const auto refuse = [error](const QString& reason) {
        *error = reason;
        return std::nullopt;
    };
    ServerManifest manifest;
    manifest.document = document;

    const QJsonValue version = document.value(QLatin1String("version"));
    if (!version.isUndefined()) {
        if (!version.isString())
            return refuse(QStringLiteral("\"version\" is not a string"));
        manifest.version = version.toString();
    }
    const QJsonValue total = document.value(QLatin1String("totalFileSize"));
    if (!total.isUndefined() && !readSize(total, &manifest.totalFileSize))
        return refuse(QStringLiteral("\"totalFileSize\" is not a whole number from 0 to 2^53"));

    const QJsonValue fileList = document.value(QLatin1String("fileList"));
    if (fileList.isUndefined())
        return manifest;
    if (!fileList.isArray())
        return refuse(QStringLiteral("\"fileList\" is not an array"));
    const QJsonArray elements = fileList.toArray();
    manifest.fileList.reserve(elements.size());
    for (int i = 0; i < elements.size(); ++i) {
        const auto where = [i] { return QStringLiteral("fileList[%1]").arg(i); };
        if (!elements.at(i).isObject())
            return refuse(where() + QStringLiteral(" is not an object"));
        const QJsonObject element = elements.at(i).toObject();
        ManifestEntry entry;
        const QJsonValue path = element.value(QLatin1String("path"));
        if (!path.isString())
            return refuse(where() + QStringLiteral(": \"path\" is not a string"));
        entry.path = path.toString();
        if (!entry.path.isEmpty() && !isSafePath(entry.path))
            return refuse(where() + QStringLiteral(": unsafe path \"%1\"").arg(entry.path));
        if (!readSize(element.value(QLatin1String("size")), &entry.size))
            return refuse(where() + QStringLiteral(": \"size\" is not a whole number from 0 to 2^53"));
        const QJsonValue hash = element.value(QLatin1String("hash"));
        if (!hash.isUndefined() && !hash.isString())
            return refuse(where() + QStringLiteral(": \"hash\" is not a string"));
        entry.hash = hash.toString();
        manifest.fileList.append(entry);
    }
    return manifest;
}
