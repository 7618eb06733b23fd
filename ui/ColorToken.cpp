#include "ColorToken.h"

ColorToken::~ColorToken() = default;

QString ColorToken::hexString() const
{
    // Single precision on purpose: 50 % must give 127 (127.5 truncated), as the published colours do.
    const int alpha = static_cast<int>(static_cast<float>(opacity) / 100.0f * 255.0f);
    const QString digits = QStringLiteral("%1").arg(alpha, 2, 16, QLatin1Char('0')).toUpper();
    return QLatin1Char('#') + (hex ? *hex : QString()) + digits;
}
