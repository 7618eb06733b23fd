#pragma once

#include <QProcess>

// A private X server (Xvfb) on a display number it picks, so parallel runs never collide; stopped when destroyed.
class VirtualDisplay
{
public:
    explicit VirtualDisplay(const QString& screen = QStringLiteral("1280x800x24")) : m_screen(screen) {}
    ~VirtualDisplay();

    // Waits (bounded) for the server to announce its display; false, with a warning, when Xvfb did not come up.
    bool start();
    QString name() const { return m_name; } // ":N"

    // Runs an X client (xdotool, xrdb, ...) on this display with `input`; returns its standard output, bounded in time.
    QByteArray run(const QString& program, const QStringList& arguments, const QByteArray& input = {});

private:
    QString m_screen;
    QString m_name;
    QProcess m_server;
};
