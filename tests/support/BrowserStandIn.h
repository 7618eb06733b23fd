#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace OrvelTest {

// Stands in for the system browser: while it lives, QDesktopServices::openUrl() of "https" and "http" addresses
// lands here (recorded) instead of the platform, which under the offscreen
// platform could not open anything anyway.
class BrowserStandIn : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BrowserStandIn)

public:
    explicit BrowserStandIn(QObject* parent = nullptr);
    ~BrowserStandIn() override;

    QList<QUrl> openedUrls() const { return m_opened; }

public slots:
    // Target of QDesktopServices::setUrlHandler (found by name).
    void openUrl(const QUrl& url);

private:
    QList<QUrl> m_opened;
};

} // namespace OrvelTest
