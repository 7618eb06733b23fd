#pragma once

#include <array>

#include <QString>

// The palette: 19 colours as six upper-case hex digits (RRGGBB, no "#"). Indices are part of the interface:
// 0-9 neutral ramp white to black, 10-16 lavender/violet accent ramp light to dark, 17-18 the red pair.
class GlobalToken
{
public:
    static constexpr int Count = 19;

    GlobalToken();
    virtual ~GlobalToken();

    // The palette string at index (0-18); the pointer stays valid as long as this object.
    const QString* hex(int index) const { return &m_hex[static_cast<size_t>(index)]; }

private:
    std::array<QString, Count> m_hex;
};
