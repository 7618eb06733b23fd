#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QUrl>

namespace OrvelTest {

// Stands in for the system browser: while it lives, QDesktopServices::openUrl() of "https" and "http" addresses
// lands here (recorded, then handed to the optional callback) instead of the platform, which under the offscreen
// platform could not open anything anyway.
class BrowserStandIn : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BrowserStandIn)

public:
    explicit BrowserStandIn(QObject* parent = nullptr);
    ~BrowserStandIn() override;

    QList<QUrl> openedUrls() const { return m_opened; }
    void clear() { m_opened.clear(); }
    // Runs on the thread that called openUrl, after the address was recorded.
    void setCallback(std::function<void(const QUrl&)> callback) { m_callback = std::move(callback); }

signals:
    void urlOpened(const QUrl& url);

public slots:
    // Target of QDesktopServices::setUrlHandler (found by name).
    void openUrl(const QUrl& url);

private:
    QList<QUrl> m_opened;
    std::function<void(const QUrl&)> m_callback;
};

} // namespace OrvelTest
