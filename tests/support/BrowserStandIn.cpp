#include "BrowserStandIn.h"

#include <QDesktopServices>

namespace OrvelTest {

BrowserStandIn::BrowserStandIn(QObject* parent) : QObject(parent)
{
    for (const QString scheme : {"https", "http"})
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

BrowserStandIn::~BrowserStandIn()
{
    for (const QString scheme : {"https", "http"})
        QDesktopServices::unsetUrlHandler(scheme);
}

} // namespace OrvelTest
