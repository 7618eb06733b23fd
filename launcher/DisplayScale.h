#pragma once

#include <QByteArray>

class QSettings;

namespace Platform {
struct DisplayMetrics;
}

// Decides the launcher's own QT_SCALE_FACTOR from the primary display before the application object exists.
// The monitor size is the one the desktop lays windows out in (scaled), the mode size is in physical pixels; the
// rule compares the two.
class DisplayScale
{
public:
    float monitorWidth = 0.0f;
    float monitorHeight = 0.0f;
    float modeWidth = 0.0f;
    float modeHeight = 0.0f;

    // Measures the primary display and applies the rule with the "preference" store of the current user.
    void applyScalePreference();
    // Same with given measurements and store; unknown measurements leave the store and the environment alone.
    void applyScalePreference(const Platform::DisplayMetrics& metrics, QSettings& preferences);

    // Application attributes Qt reads when the application object is built.
    static void setApplicationAttributes();

    bool hasSizes() const;
    bool isHighResolution() const;
    // "ScaleFactor": the mean of the monitor's ratios to the reference size of its class.
    float referenceScaleFactor() const;
    // S x R after the corrections for displays up to 2560 pixels, for impossible enlargements and for 125 %.
    float scaleProduct(float storedScaleFactor, float resolutionScale) const;
    static QByteArray formatScaleFactor(float product);
};
