#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

namespace OrvelTest {

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and TMPDIR at folders of a fresh QTemporaryDir for
// its lifetime, so a test never reads or writes the real user's settings, and restores them on destruction.
// QSettings caches its per-user folder on first use, so the class also points QSettings::setPath (UserScope) there:
// homes made one after another each see empty settings. Keep it alive while the code under test runs.
class TempSettingsHome
{
public:
    TempSettingsHome();
    ~TempSettingsHome();
    TempSettingsHome(const TempSettingsHome&) = delete;
    TempSettingsHome& operator=(const TempSettingsHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    // XDG_CONFIG_HOME: QSettings("Orvel", "App") lives in configPath()/Orvel/App.conf
    QString configPath() const { return m_dir.filePath(QStringLiteral("config")); }
    QString tempPath() const { return m_dir.filePath(QStringLiteral("tmp")); } // TMPDIR, i.e. QDir::tempPath()

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved; // name, previous value ("\0" marks "was unset")
};

} // namespace OrvelTest
