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

    // The aliases the widgets use, named by their role; no widget uses the other indices.
    enum Index : int {
        // The dialog's card and title bar, and the progress fill.
        Surface = 0,
        InstallBarFill = 8,
        // Texts on the install bar and on the dialog's button.
        TextOnAccent = 14,
        DisabledText = 15,
        // The dialog's message and info line.
        BodyText = 17,
        ProgressText = 21,
        ButtonOutline = 23,
        // The line above the dialog's button row.
        Divider = 24,
        ButtonFill = 40,
        // Hovered or pressed buttons, on the install bar and in the dialog.
        ButtonHover = 41,
        DisabledFill = 44,
    };

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
