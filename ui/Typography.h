#pragma once

#include <array>

#include "FontData.h"

// The 19 text styles of the launcher, all in "Noto Sans". Process-wide, created on first use, never changed.
// Indices are not checked: callers pass constants 0-18.
class Typography
{
public:
    static constexpr int Count = 19;

    // The styles the widgets use, named by their role; no widget uses the other indices.
    enum Index : int {
        // Only its line height is used: the pitch of the dialog's message lines.
        MessageLine = 5,
        MessageText = 6,
        InfoText = 8,
        ProgressText = 11,
        CheckBoxText = 12,
        BarButtonText = 17,
        DialogButtonText = 18,
    };

    static Typography& instance();
    virtual ~Typography();

    // A copy: callers may adjust it without touching the table.
    FontData font(int index) const { return m_fonts[static_cast<size_t>(index)]; }

private:
    Typography();
    Q_DISABLE_COPY(Typography)

    std::array<FontData, Count> m_fonts;
};
