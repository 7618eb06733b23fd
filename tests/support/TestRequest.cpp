#include "TestRequest.h"

namespace OrvelTest {

QByteArray TestRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QUrlQuery TestRequest::query() const
{
    const int mark = target.indexOf('?');
    return mark < 0 ? QUrlQuery() : QUrlQuery(QString::fromUtf8(target.mid(mark + 1)));
}

} // namespace OrvelTest
