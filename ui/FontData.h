#pragma once

#include <QString>

// One typography style. Only family, size and weight reach style sheets; line height feeds layout maths and
// letter spacing is kept for completeness.
class FontData
{
public:
    FontData() = default;
    FontData(qint32 weight, qint32 pixelSize, float lineHeight, float letterSpacing);
    virtual ~FontData();

    FontData(const FontData&) = default;
    FontData& operator=(const FontData&) = default;

    // "font-family : F;font-size : Npx;font-weight : W" - a declaration of its own; the template adds the ";".
    QString styleSheet() const;

    QString family() const { return m_family; }
    qint32 weight() const { return m_weight; }
    qint32 pixelSize() const { return m_pixelSize; }
    double lineHeight() const { return m_lineHeight; }
    float letterSpacing() const { return m_letterSpacing; }

    void setFamily(const QString& family) { m_family = family; }
    void setWeight(qint32 weight) { m_weight = weight; }
    void setPixelSize(qint32 pixelSize) { m_pixelSize = pixelSize; }
    void setLineHeight(float lineHeight) { m_lineHeight = lineHeight; }
    void setLetterSpacing(float letterSpacing) { m_letterSpacing = letterSpacing; }

private:
    QString m_family = QStringLiteral("Noto Sans");
    qint32 m_weight = 400;
    qint32 m_pixelSize = 12;
    float m_lineHeight = 0.0f;
    float m_letterSpacing = 0.0f;
};
