#include "AliasToken.h"

namespace {

struct AliasEntry
{
    int global;
    int opacity;
};

// Alias index -> palette index and opacity.
constexpr AliasEntry kAliases[AliasToken::Count] = {
    {0, 100},  {0, 50},   {1, 100},  {2, 100},  {3, 100},  {4, 100},  {10, 100}, {11, 100}, {13, 100}, {16, 100},
    {0, 50},   {9, 50},   {13, 20},  {13, 80},  {0, 100},  {5, 100},  {7, 100},  {8, 100},  {13, 100}, {15, 100},
    {3, 100},  {16, 100}, {18, 100}, {0, 100},  {4, 100},  {6, 100},  {8, 100},  {12, 100}, {14, 100}, {17, 100},
    {0, 100},  {4, 100},  {5, 100},  {7, 100},  {12, 100}, {13, 100}, {14, 100}, {3, 100},  {14, 100}, {18, 100},
    {14, 100}, {15, 100}, {12, 100}, {13, 100}, {3, 100},  {11, 100}, {13, 100}, {4, 100},  {7, 100},  {3, 100},
};

struct Rgba
{
    int red;
    int green;
    int blue;
    int alpha;
};

Rgba parseHex(const QString& hex)
{
    // "#RRGGBBAA"; a pair that does not parse reads as 0.
    return {hex.mid(1, 2).toInt(nullptr, 16), hex.mid(3, 2).toInt(nullptr, 16), hex.mid(5, 2).toInt(nullptr, 16),
            hex.mid(7, 2).toInt(nullptr, 16)};
}

} // namespace

AliasToken& AliasToken::instance()
{
    // Lives until the process ends; nothing changes it after construction.
    static AliasToken* const token = new AliasToken;
    return *token;
}

AliasToken::AliasToken()
{
    for (int i = 0; i < Count; ++i) {
        ColorToken& entry = m_tokens[static_cast<size_t>(i)];
        entry.hex = m_global.hex(kAliases[i].global);
        entry.opacity = kAliases[i].opacity;
    }
}

AliasToken::~AliasToken() = default;

QString AliasToken::rgba(int index) const
{
    const Rgba c = parseHex(token(index).hexString());
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red).arg(c.green).arg(c.blue).arg(c.alpha);
}

QColor AliasToken::color(int index) const
{
    const Rgba c = parseHex(token(index).hexString());
    return QColor(c.red, c.green, c.blue, c.alpha);
}
