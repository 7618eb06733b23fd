#pragma once

#include <array>

#include "FontData.h"

// The 19 text styles of the launcher, all in "Noto Sans". Process-wide, created on first use, never changed.
// Indices are not checked: callers pass constants 0-18.
class Typography
{
public:
    static constexpr int Count = 19;

    static Typography& instance();
    virtual ~Typography();

    // A copy: callers may adjust it without touching the table.
    FontData font(int index) const { return m_fonts[static_cast<size_t>(index)]; }

private:
    Typography();
    Q_DISABLE_COPY(Typography)

    std::array<FontData, Count> m_fonts;
};
