#include "TempSettingsHome.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace OrvelTest {

namespace {
const QByteArray kUnset("\0", 1);

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
    const QStringList folders = {QStringLiteral("home"), QStringLiteral("config"), QStringLiteral("data"),
                                 QStringLiteral("cache"), QStringLiteral("tmp")};
    for (const QString& f : folders)
        QDir(m_dir.path()).mkpath(f);
    setVariable("HOME", homePath());
    setVariable("XDG_CONFIG_HOME", configPath());
    setVariable("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")));
    setVariable("XDG_CACHE_HOME", m_dir.filePath(QStringLiteral("cache")));
    setVariable("TMPDIR", tempPath());
    pointSettingsAt(configPath());
}

TempSettingsHome::~TempSettingsHome()
{
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
        if (it->second == kUnset)
            qunsetenv(it->first.constData());
        else
            qputenv(it->first.constData(), it->second);
    }
    // Back to what Qt itself would compute from the restored environment.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    pointSettingsAt(xdg.startsWith('/') ? QString::fromLocal8Bit(xdg) : QDir::homePath() + QStringLiteral("/.config"));
}

bool TempSettingsHome::isValid() const
{
    return m_dir.isValid();
}

QString TempSettingsHome::homePath() const
{
    return m_dir.filePath(QStringLiteral("home"));
}

QString TempSettingsHome::configPath() const
{
    return m_dir.filePath(QStringLiteral("config"));
}

QString TempSettingsHome::tempPath() const
{
    return m_dir.filePath(QStringLiteral("tmp"));
}

void TempSettingsHome::setVariable(const char* name, const QString& value)
{
    m_saved.append({QByteArray(name), qEnvironmentVariableIsSet(name) ? qgetenv(name) : kUnset});
    qputenv(name, QFile::encodeName(value));
}

} // namespace OrvelTest
