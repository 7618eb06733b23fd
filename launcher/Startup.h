#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

// The launcher's start-up, kept out of main() so that tests can reach its parts.
namespace Startup {

// Brings the visible top-level windows to the front (a second start of the launcher asked for it).
void raiseWindows();

// Installs the translation "orvel_<language>.qm" for `locale` from the program's "translations" folder (or
// share/orvel/translations of an installed prefix) when there is one; returns it (owned by the application object),
// or null when none is installed: the texts then stay as written.
QTranslator* loadTranslation(const QString& applicationDir, const QLocale& locale = QLocale::system());

// Registers every "*.ttf" in the font folder of the program in `applicationDir` (its "Font" folder, or share/orvel/Font
// of an installed prefix) and makes "Noto Sans" the application font, registered or not.
// Returns how many files registered; files that fail are skipped silently.
int loadApplicationFonts(const QString& applicationDir);

// Answers --help, --help-all and --version on standard output and ends the process, before anything opens the
// display or the network; returns otherwise, true when --verify was given. Every other argument belongs to the
// application object (Qt's -platform, -style, ...).
bool answerCommandLine(int& argc, char** argv);

// The whole start-up: display scale, application object, single-instance refusal (the user's launcher already runs:
// it is asked to show its window; or the user's application runs), fonts, main window, deferred
// start, event loop. Returns the process exit code.
int run(int& argc, char** argv);

} // namespace Startup
