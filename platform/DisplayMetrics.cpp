#include "Platform.h"

#ifdef Q_OS_WIN
#include <windows.h>
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

#else

// No portable way to ask the desktop for the primary monitor before the application object exists: the caller
// then leaves the scale to Qt.
DisplayMetrics primaryDisplayMetrics()
{
    return {};
}

#endif

} // namespace Platform
