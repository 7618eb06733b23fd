#pragma once

#include <QString>

// One alias colour: a palette entry plus an opacity in percent.
class ColorToken
{
public:
    ColorToken() = default;
    virtual ~ColorToken();

    // "#RRGGBBAA", upper case; alpha is opacity / 100 * 255 in single precision, truncated.
    QString hexString() const;

    const QString* hex = nullptr; // not owned: points into the palette of the owning AliasToken
    qint32 opacity = 100;
};
