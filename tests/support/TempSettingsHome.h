#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTemporaryDir>

namespace OrvelTest {

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and TMPDIR at folders of a fresh QTemporaryDir for
// its lifetime, so a test never reads or writes the real user's settings, and restores them on destruction.
//
// QSettings computes its per-user folder once per process (from XDG_CONFIG_HOME) and caches it, so changing the
// variable alone only works before the first QSettings use. This class therefore also calls
// QSettings::setPath(NativeFormat and IniFormat, UserScope, ...), which replaces the cached folder at any time:
// any number of homes, one after another, each see empty settings. Create it before the code under test opens
// QSettings and keep it alive while that code runs.
class TempSettingsHome
{
public:
    TempSettingsHome();
    ~TempSettingsHome();
    TempSettingsHome(const TempSettingsHome&) = delete;
    TempSettingsHome& operator=(const TempSettingsHome&) = delete;

    bool isValid() const;
    QString homePath() const;
    QString configPath() const; // XDG_CONFIG_HOME: QSettings("Orvel", "App") lives in configPath()/Orvel/App.conf
    QString tempPath() const;   // TMPDIR, i.e. QDir::tempPath()

private:
    void setVariable(const char* name, const QString& value);

    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved; // name, previous value ("\0" marks "was unset")
};

} // namespace OrvelTest
