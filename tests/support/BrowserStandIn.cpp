#include "BrowserStandIn.h"

#include <QDesktopServices>

namespace OrvelTest {

BrowserStandIn::BrowserStandIn(QObject* parent) : QObject(parent)
{
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
}

BrowserStandIn::~BrowserStandIn()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void BrowserStandIn::openUrl(const QUrl& url)
{
    m_opened.append(url);
}

} // namespace OrvelTest
