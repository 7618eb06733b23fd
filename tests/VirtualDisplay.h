#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private X server (Xvfb) on a display number the server picks itself, so parallel runs never collide.
// Stopped by the destructor.
class VirtualDisplay
{
public:
    explicit VirtualDisplay(const QString& screen = QStringLiteral("1280x800x24"));
    ~VirtualDisplay();
    Q_DISABLE_COPY(VirtualDisplay)

    // Waits (bounded) for the server to announce its display; false when Xvfb is missing or did not come up.
    bool start(bool withCompositor = false);
    QString name() const { return m_name; } // ":N"
    QString error() const { return m_error; }

    // Loads X resources (for example "Xft.dpi: 120"), replacing earlier ones.
    bool loadResources(const QString& resources);
    // Runs an X client (xdotool, xwd, ...) on this display and returns its standard output; bounded in time.
    QByteArray run(const QString& program, const QStringList& arguments, int timeoutMs = 10000, int* exitCode = nullptr,
                   const QByteArray& input = {});

private:
    QString m_screen;
    QString m_name;
    QString m_error;
    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_compositor;
};
