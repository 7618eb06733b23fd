#pragma once

#include <functional>

#include <QString>

// The launcher's start-up, kept out of main() so that tests can reach its parts.
namespace Startup {

// Another launcher, or the application, is already running: the launcher then ends silently.
bool anotherCopyRunning(const std::function<bool(const QString&)>& isProcessRunning);

// Registers every "*.ttf" in `applicationDir`/Font and makes "Noto Sans" the application font, registered or not.
// Returns how many files registered; files that fail are skipped silently.
int loadApplicationFonts(const QString& applicationDir);

// The whole start-up: display scale, application object, single-instance refusal, fonts, main window, deferred
// start, event loop. Returns the process exit code.
int run(int& argc, char** argv);

} // namespace Startup
