#pragma once

#include <QMetaType>
#include <QSize>
#include <QString>
#include <QStringList>

// Stand-ins for the operating-system services the launcher needs. Linux implementations are built here;
// the Win32 ones sit behind Q_OS_WIN in the same files.
namespace Platform {

// "Orvel" -> "Orvel.exe" on Windows, "Orvel" elsewhere. Every caller names programs through this.
QString executableName(const QString& baseName);

// True when another process (never this one) of the same user whose executable's file name equals `name` exactly is
// running; on Windows it must also run in this session. Other users' processes never count.
// An empty name or a failed enumeration answers true, so the caller errs on the side of not starting twice.
bool isProcessRunning(const QString& name);

// Primary monitor: logical size (what the desktop lays out in) and the display mode's physical size.
// On Windows the process declares itself DPI-aware right after measuring (the logical size relies on it being
// unaware until then), so call this once, before the application object exists.
struct DisplayMetrics
{
    bool known = false;
    QSize logical;
    QSize physical;
};
DisplayMetrics primaryDisplayMetrics();

// Starts `program` with the rights needed to write `folderToWrite` and waits for it to end. Windows always asks for
// elevation ("runas"); Linux runs it directly when the user can already write the folder (or the nearest existing
// parent), else through pkexec or the command in ORVEL_ELEVATE_COMMAND. A refused prompt is NotStarted.
// The program's standard error goes line by line to the log (category "orvel.helper"; Linux only: an elevated
// Windows program has no output to read). ElevatedRun is the form that does not block.
enum class ElevatedOutcome {
    NotStarted, // could not be started, or the user refused the elevation prompt
    Ended,      // ran to its end; exitCode is valid
    WaitFailed  // started, but waiting for its end failed
};
struct ElevatedResult
{
    ElevatedOutcome outcome = ElevatedOutcome::NotStarted;
    int exitCode = -1;
};
ElevatedResult runElevatedAndWait(const QString& program, const QStringList& arguments, const QString& folderToWrite);

// A temporary folder only the current user can read or write. Empty when none can be had safely.
// Windows: the user's temporary location. Linux: $XDG_RUNTIME_DIR/orvel, else <temp>/orvel-<uid>, created 0700 and
// refused when it already exists with another owner, wider rights, or as a link.
QString privateTempFolder();

// Makes `folder` (its missing parents as usual) a folder only the current user can reach, for files a more privileged
// program installs later: created 0700 whatever the umask, an existing one of ours narrowed to 0700. False, with the
// reason in `refusal`, when it is a link, not a folder, or another user's (Linux; elsewhere it is only created).
bool ensurePrivateFolder(const QString& folder, QString* refusal);

} // namespace Platform

Q_DECLARE_METATYPE(Platform::ElevatedResult)
