#pragma once

#include <QProcess>
#include <QString>

// A private X server (Xvfb) on a display number the server picks itself, so parallel runs never collide.
// Stopped by the destructor.
class VirtualDisplay
{
public:
    explicit VirtualDisplay(const QString& screen = QStringLiteral("1280x800x24")) : m_screen(screen) {}
    ~VirtualDisplay();
    Q_DISABLE_COPY(VirtualDisplay)

    // Waits (bounded) for the server to announce its display; false when Xvfb is missing or did not come up.
    bool start();
    QString name() const { return m_name; } // ":N"
    QString error() const { return m_error; }

    // Runs an X client (xdotool, xrdb, ...) on this display and returns its standard output; bounded in time.
    QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {});

private:
    QString m_screen;
    QString m_name;
    QString m_error;
    QProcess m_server;
};
