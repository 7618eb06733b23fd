#pragma once

#include <QByteArray>
#include <QDir>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

// Files and JSON for the update engine's tests.
namespace UpdateTest {

using Files = QMap<QString, QByteArray>;

// Deterministic bytes that differ by seed and do not repeat within a few hundred bytes.
QByteArray pattern(int size, int seed);
// Creates the missing folders and sets the mode; a failure is a test failure.
void writeFile(const QString& path, const QByteArray& content, int mode = 0644);
void writeTree(const QString& root, const Files& files);
// The file's bytes, or "<missing>".
QByteArray readFile(const QString& path);
// Every file below root (hidden ones too) by relative path; with QDir::AllEntries also every empty folder as "name/".
Files readTree(const QString& root, QDir::Filters filters = QDir::Files);
// "fileList" (path, size and SHA-256 of each file) and "totalFileSize" of a manifest, as the update service lists them.
QJsonObject manifestOf(const Files& files);
// The entry itself, not where a link points; all zero when there is none.
struct stat statOf(const QString& path);
// What the openssl tool printed, or "<failed>".
QByteArray openssl(const QStringList& arguments);

} // namespace UpdateTest
