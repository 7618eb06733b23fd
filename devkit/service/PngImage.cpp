#include "PngImage.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <QtEndian>

namespace PngImage {

namespace {
quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ static_cast<quint8>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    return bigEndian(static_cast<quint32>(data.size())) + typed + bigEndian(crc32(typed));
}

struct Rgb
{
    double r, g, b;
};

Rgb mix(const Rgb& a, const Rgb& b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void put(QByteArray& rgb, int index, const Rgb& c)
{
    rgb[index * 3] = static_cast<char>(std::clamp(c.r, 0.0, 255.0));
    rgb[index * 3 + 1] = static_cast<char>(std::clamp(c.g, 0.0, 255.0));
    rgb[index * 3 + 2] = static_cast<char>(std::clamp(c.b, 0.0, 255.0));
}
} // namespace

QByteArray encodeRgb(int width, int height, const QByteArray& rgb)
{
    QByteArray header = bigEndian(static_cast<quint32>(width)) + bigEndian(static_cast<quint32>(height));
    header.append(char(8)); // bit depth
    header.append(char(2)); // colour type: truecolour
    header.append(char(0)); // deflate
    header.append(char(0)); // adaptive filtering
    header.append(char(0)); // no interlace

    const int stride = width * 3;
    QByteArray raw;
    raw.reserve((stride + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.append(char(0)); // filter: none
        raw.append(rgb.constData() + y * stride, stride);
    }
    // qCompress writes a zlib stream behind a 4-byte length of its own.
    const QByteArray zlib = qCompress(raw, 9).mid(4);

    static const char signature[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    return QByteArray(signature, sizeof(signature)) + chunk("IHDR", header) + chunk("IDAT", zlib) +
           chunk("IEND", QByteArray());
}

QByteArray avatar(quint32 seed)
{
    constexpr int size = 128;
    constexpr int cells = 5;
    constexpr int margin = 14;
    constexpr int cell = (size - 2 * margin) / cells;
    // Spread the seed's bits so that neighbouring ids look unalike.
    quint32 bits = seed * 2654435761u;
    bits ^= bits >> 15;
    const double hue = (bits % 360) / 60.0;
    const double x = 1 - std::fabs(std::fmod(hue, 2.0) - 1);
    const std::array<Rgb, 6> wheel{{{1, x, 0}, {x, 1, 0}, {0, 1, x}, {0, x, 1}, {x, 0, 1}, {1, 0, x}}};
    const Rgb pure = wheel[static_cast<size_t>(hue) % 6];
    const Rgb ink{60 + pure.r * 150, 60 + pure.g * 150, 60 + pure.b * 150};
    const Rgb paper{242, 242, 245};

    QByteArray rgb(size * size * 3, '\0');
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            const int cx = (px - margin) / cell;
            const int cy = (py - margin) / cell;
            bool filled = false;
            if (px >= margin && py >= margin && cx < cells && cy < cells) {
                const int column = cx < cells / 2 + 1 ? cx : cells - 1 - cx; // mirrored
                filled = (bits >> (cy * 3 + column)) & 1;
            }
            put(rgb, py * size + px, filled ? ink : paper);
        }
    }
    return encodeRgb(size, size, rgb);
}

QByteArray artwork()
{
    constexpr int width = 1280;
    constexpr int height = 720;
    const Rgb top{28, 36, 64};
    const Rgb bottom{92, 54, 120};
    struct Light
    {
        double x, y, radius;
        Rgb colour;
    };
    const std::array<Light, 3> lights{
        {{980, 160, 320, {255, 170, 120}}, {240, 560, 380, {90, 160, 255}}, {700, 420, 200, {255, 255, 255}}}};
    QByteArray rgb(width * height * 3, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb c = mix(top, bottom, (0.7 * y / height) + (0.3 * x / width));
            for (const Light& light : lights) {
                const double d = std::hypot(x - light.x, y - light.y) / light.radius;
                if (d < 1)
                    c = mix(c, light.colour, 0.35 * (1 - d) * (1 - d));
            }
            put(rgb, y * width + x, c);
        }
    }
    return encodeRgb(width, height, rgb);
}

} // namespace PngImage
