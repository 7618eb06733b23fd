#include "TempSettingsHome.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace OrvelTest {

namespace {
const char* const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"};

void pointSettingsAt(const QString& folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}
} // namespace

TempSettingsHome::TempSettingsHome()
{
    if (!m_dir.isValid())
        return;
    for (const char* name : kVariables) {
        QDir(m_dir.path()).mkpath(name);
        qputenv(name, QFile::encodeName(m_dir.filePath(name)));
    }
    pointSettingsAt(configPath());
}

TempSettingsHome::~TempSettingsHome()
{
    for (const char* name : kVariables)
        m_saved.contains(name) ? qputenv(name, QFile::encodeName(m_saved.value(name))) : qunsetenv(name);
    // Back to what Qt itself would compute from the restored environment.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    pointSettingsAt(xdg.startsWith('/') ? QString::fromLocal8Bit(xdg) : QDir::homePath() + QStringLiteral("/.config"));
}

} // namespace OrvelTest
