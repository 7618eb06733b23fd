#pragma once

// The launcher window's generated form, Ui::OrvelLauncher. It is generated inside orvel_ui (the form lives beside
// the other widgets); other targets include this header instead of "ui_OrvelLauncher.h", which their own automatic
// form compilation would otherwise look for in their own folder.
#include "ui_OrvelLauncher.h"
