#pragma once

#include <QList>
#include <QString>

// The pages a browser sees. Every text that comes from a request is escaped here.
namespace HtmlPages {

struct BuildSummary
{
    QString version;
    int fileCount = 0;
    qint64 totalSize = 0;
};

QString signInForm(const QString& instanceId, const QString& client, const QString& returnUrl,
                   const QString& problem = QString());
QString signedIn();
QString connect(const QString& launcherVersion);
QString index(const QList<BuildSummary>& builds, const QString& launcherVersion, const QString& sampleInstanceId);
QString message(const QString& title, const QString& text);

} // namespace HtmlPages
