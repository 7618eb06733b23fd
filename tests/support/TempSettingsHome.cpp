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
    const QList<QPair<QByteArray, QString>> variables = {{"HOME", "home"},
                                                         {"XDG_CONFIG_HOME", "config"},
                                                         {"XDG_DATA_HOME", "data"},
                                                         {"XDG_CACHE_HOME", "cache"},
                                                         {"TMPDIR", "tmp"}};
    for (const auto& variable : variables) {
        const char* name = variable.first.constData();
        QDir(m_dir.path()).mkpath(variable.second);
        m_saved.append({variable.first, qEnvironmentVariableIsSet(name) ? qgetenv(name) : kUnset});
        qputenv(name, QFile::encodeName(m_dir.filePath(variable.second)));
    }
    pointSettingsAt(configPath());
}

TempSettingsHome::~TempSettingsHome()
{
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it)
        it->second == kUnset ? qunsetenv(it->first.constData()) : qputenv(it->first.constData(), it->second);
    // Back to what Qt itself would compute from the restored environment.
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    pointSettingsAt(xdg.startsWith('/') ? QString::fromLocal8Bit(xdg) : QDir::homePath() + QStringLiteral("/.config"));
}

} // namespace OrvelTest
