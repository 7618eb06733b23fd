#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace OrvelTest {

// Stands in for the system browser: while it lives, QDesktopServices::openUrl() of "https" and "http" addresses is
// recorded here instead of reaching the platform (which under offscreen could not open anything anyway).
class BrowserStandIn : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BrowserStandIn)

public:
    explicit BrowserStandIn(QObject* parent = nullptr);
    ~BrowserStandIn() override;

    QList<QUrl> openedUrls() const { return m_opened; }

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); } // found by name by QDesktopServices

private:
    QList<QUrl> m_opened;
};

} // namespace OrvelTest
