#include "FontData.h"

FontData::FontData(qint32 weight, qint32 pixelSize, float lineHeight, float letterSpacing)
    : m_weight(weight), m_pixelSize(pixelSize), m_lineHeight(lineHeight), m_letterSpacing(letterSpacing)
{}

FontData::~FontData() = default;

QString FontData::styleSheet() const
{
    return QStringLiteral("font-family : %1;font-size : %2px;font-weight : %3")
        .arg(m_family)
        .arg(m_pixelSize)
        .arg(m_weight);
}
