#include "DisplayScale.h"

#include <cmath>

#include <QCoreApplication>
#include <QSettings>

#include "Platform.h"

namespace {
// Wider than this counts as a high-resolution display (deliberately not 1920).
constexpr float kHighResolutionWidth = 1980.0f;
// Up to this width the measured ratio, not the stored factor, decides.
constexpr float kRatioWidthLimit = 2560.0f;
} // namespace

bool DisplayScale::hasSizes() const
{
    return monitorWidth > 0.0f && monitorHeight > 0.0f && modeWidth > 0.0f && modeHeight > 0.0f;
}

bool DisplayScale::isHighResolution() const
{
    return modeWidth > kHighResolutionWidth;
}

float DisplayScale::referenceScaleFactor() const
{
    const float referenceWidth = isHighResolution() ? 2560.0f : 1920.0f;
    const float referenceHeight = isHighResolution() ? 1440.0f : 1080.0f;
    return (monitorWidth / referenceWidth + monitorHeight / referenceHeight) * 0.5f;
}

float DisplayScale::scaleProduct(float storedScaleFactor, float resolutionScale) const
{
    float s = storedScaleFactor;
    float r = resolutionScale;
    if (modeWidth <= kRatioWidthLimit)
        s = monitorWidth / modeWidth;
    if (monitorWidth / s > modeWidth)
        s = 1.0f;
    if (monitorWidth / s / r > modeWidth)
        r = 1.0f;
    // A display of at most 1980 pixels at 125 % system scaling keeps the system's scaling.
    if (!isHighResolution() && modeWidth / monitorWidth == 1.25f)
        s = 1.0f;
    return s * r;
}

QByteArray DisplayScale::formatScaleFactor(float product)
{
    // Qt would ignore a zero, negative or non-finite factor anyway; leaving the variable unset says so plainly.
    if (!std::isfinite(product) || product <= 0.0f)
        return {};
    return QByteArray::number(static_cast<double>(product), 'f', 6);
}

void DisplayScale::applyScalePreference()
{
    QSettings preferences(QStringLiteral("Orvel Launcher"), QStringLiteral("preference"));
    applyScalePreference(Platform::primaryDisplayMetrics(), preferences);
}

void DisplayScale::applyScalePreference(const Platform::DisplayMetrics& metrics, QSettings& preferences)
{
    if (!metrics.known)
        return;
    monitorWidth = static_cast<float>(metrics.logical.width());
    monitorHeight = static_cast<float>(metrics.logical.height());
    modeWidth = static_cast<float>(metrics.physical.width());
    modeHeight = static_cast<float>(metrics.physical.height());
    if (!hasSizes())
        return;

    const bool useAutomaticScale = preferences.value(QStringLiteral("useAutomaticScale"), true).toBool();
    preferences.setValue(QStringLiteral("isHighResolutionMonitor"), isHighResolution() ? 1.0f : 0.0f);
    if (useAutomaticScale)
        return;

    preferences.setValue(QStringLiteral("ScaleFactor"), referenceScaleFactor());
    const float stored = preferences.value(QStringLiteral("ScaleFactor"), 1.0f).toFloat();
    const float resolutionScale = preferences.value(QStringLiteral("ResolutionScale"), 1.0f).toFloat();
    const QByteArray value = formatScaleFactor(scaleProduct(stored, resolutionScale));
    if (!value.isEmpty())
        qputenv("QT_SCALE_FACTOR", value);
}

void DisplayScale::setApplicationAttributes()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setAttribute(Qt::AA_DontShowShortcutsInContextMenus, false);
    // The platform layer declares the process DPI-aware right after measuring (Windows), which the rule relies on.
}
