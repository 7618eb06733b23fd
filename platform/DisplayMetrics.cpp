#include "Platform.h"

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(ORVEL_HAVE_XRANDR)
#include <QByteArray>
#include <QList>

#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/extensions/Xrandr.h>
#endif

namespace Platform {

#ifdef Q_OS_WIN

// The monitor rectangle is taken while the process is still DPI-unaware, so it comes in the system's scaled
// coordinates, whereas the display mode is in physical pixels: the scale rule lives on that difference. Only
// afterwards does the process declare itself DPI-aware.
DisplayMetrics primaryDisplayMetrics()
{
    DisplayMetrics metrics;
    HMONITOR monitor = MonitorFromWindow(GetDesktopWindow(), MONITOR_DEFAULTTOPRIMARY);
    MONITORINFOEXW monitorInfo = {};
    monitorInfo.cbSize = sizeof(monitorInfo);
    DEVMODEW mode = {};
    mode.dmSize = sizeof(mode);
    if (monitor && GetMonitorInfoW(monitor, &monitorInfo) &&
        EnumDisplaySettingsW(monitorInfo.szDevice, ENUM_CURRENT_SETTINGS, &mode)) {
        metrics.logical = QSize(monitorInfo.rcMonitor.right - monitorInfo.rcMonitor.left,
                                monitorInfo.rcMonitor.bottom - monitorInfo.rcMonitor.top);
        metrics.physical = QSize(static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight));
        metrics.known = !metrics.logical.isEmpty() && !metrics.physical.isEmpty();
    }
    SetProcessDPIAware();
    return metrics;
}

#elif defined(ORVEL_HAVE_XRANDR)

namespace {

// X errors are answered by ending the process unless someone listens; a failed query only means "unknown".
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

// The desktop's scale as toolkits read it: Xft.dpi over 96, 1 when the resource is unset or unusable.
double desktopScale(Display* display)
{
    const char* resources = XResourceManagerString(display);
    if (!resources)
        return 1.0;
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    double scale = 1.0;
    char* type = nullptr;
    XrmValue value = {};
    if (database && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
        const double dpi = QByteArray(value.addr).trimmed().toDouble();
        if (dpi >= 48.0 && dpi <= 960.0)
            scale = dpi / 96.0;
    }
    if (database)
        XrmDestroyDatabase(database);
    return scale;
}

// Physical size of the current mode of the primary output (or, without a primary, of the first lit output).
QSize primaryModeSize(Display* display)
{
    int eventBase = 0;
    int errorBase = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase))
        return {};
    const Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (!resources)
        return {};

    QList<RROutput> candidates;
    if (const RROutput primary = XRRGetOutputPrimary(display, root))
        candidates << primary;
    for (int i = 0; i < resources->noutput; ++i)
        candidates << resources->outputs[i];

    QSize size;
    for (const RROutput output : qAsConst(candidates)) {
        XRROutputInfo* outputInfo = XRRGetOutputInfo(display, resources, output);
        if (!outputInfo)
            continue;
        if (outputInfo->connection == RR_Connected && outputInfo->crtc) {
            if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, outputInfo->crtc)) {
                for (int m = 0; m < resources->nmode; ++m) {
                    const XRRModeInfo& mode = resources->modes[m];
                    if (mode.id != crtc->mode)
                        continue;
                    const bool sideways = crtc->rotation & (RR_Rotate_90 | RR_Rotate_270);
                    size =
                        sideways ? QSize(int(mode.height), int(mode.width)) : QSize(int(mode.width), int(mode.height));
                }
                XRRFreeCrtcInfo(crtc);
            }
        }
        XRRFreeOutputInfo(outputInfo);
        if (!size.isEmpty())
            break;
    }
    XRRFreeScreenResources(resources);
    return size;
}

} // namespace

// The mode is measured with RandR in physical pixels; the size the desktop lays windows out in is that divided by
// the desktop's scale, the way a scaling desktop reports its monitor to unaware programs.
DisplayMetrics primaryDisplayMetrics()
{
    DisplayMetrics metrics;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return metrics;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return metrics;
    XErrorHandler previous = XSetErrorHandler(ignoreXError);
    const QSize physical = primaryModeSize(display);
    const double scale = desktopScale(display);
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);

    if (physical.isEmpty())
        return metrics;
    metrics.physical = physical;
    metrics.logical = QSize(qRound(physical.width() / scale), qRound(physical.height() / scale));
    metrics.known = !metrics.logical.isEmpty();
    return metrics;
}

#else

// Without a display server library there is no measurement: the caller then leaves the scale to Qt.
DisplayMetrics primaryDisplayMetrics()
{
    return {};
}

#endif

} // namespace Platform
