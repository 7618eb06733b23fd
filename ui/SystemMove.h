#pragma once

class QWidget;

// Frameless windows move themselves. Where the platform places windows itself (Wayland, which ignores a window's
// own move), the compositor is asked to follow the pointer instead. True when it took over the move that starts
// with the current left-button press; false: the caller moves the window as before.
bool startSystemMove(QWidget* window);
