#pragma once

#include <QProcessEnvironment>
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

    bool isValid() const { return m_dir.isValid(); }
    // XDG_CONFIG_HOME: QSettings("Orvel", "App") lives in configPath()/Orvel/App.conf
    QString configPath() const { return m_dir.filePath(QStringLiteral("XDG_CONFIG_HOME")); }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_saved = QProcessEnvironment::systemEnvironment(); // restored on destruction
};

} // namespace OrvelTest
