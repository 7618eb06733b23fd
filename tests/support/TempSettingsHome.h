#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace OrvelTest {

// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and TMPDIR at same-named folders of a fresh QTemporaryDir
// while it lives, so a test never touches the real user's settings, and restores them when destroyed. QSettings caches
// its per-user folder, so QSettings::setPath (UserScope) points there too: homes made one after another start empty.
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
