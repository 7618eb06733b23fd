#pragma once

#include <array>

#include <QColor>
#include <QString>

#include "ColorToken.h"
#include "GlobalToken.h"

// The 50 semantic colours the widgets use, each a palette colour plus an opacity. Process-wide, created on first
// use, never changed afterwards. Indices are not checked: callers pass constants 0-49.
class AliasToken
{
public:
    static constexpr int Count = 50;

    static AliasToken& instance();
    virtual ~AliasToken();

    // "rgba(R, G, B, A)" with A on the 0-255 scale, for style-sheet templates.
    QString rgba(int index) const;
    QColor color(int index) const;
    const ColorToken& token(int index) const { return m_tokens[static_cast<size_t>(index)]; }

private:
    AliasToken();
    Q_DISABLE_COPY(AliasToken)

    GlobalToken m_global;
    std::array<ColorToken, Count> m_tokens;
};
