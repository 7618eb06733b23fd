#include "Platform.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "PlatformLogging.h"

namespace Platform {

#ifdef Q_OS_WIN

namespace {
// The user a process runs as, compared by SID: another user's launcher or application must not count.
bool sameUser(HANDLE process, PSID ownUser)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return false;
    alignas(TOKEN_USER) BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, ownUser);
    CloseHandle(token);
    return same;
}

bool isOwnSession(DWORD processId, DWORD ownSession)
{
    DWORD session = 0;
    return ProcessIdToSessionId(processId, &session) && session == ownSession;
}
} // namespace

bool isProcessRunning(const QString& name)
{
    if (name.isEmpty())
        return true;

    DWORD processIds[1024];
    DWORD bytesReturned = 0;
    if (!K32EnumProcesses(processIds, sizeof(processIds), &bytesReturned))
        return true;

    wchar_t wanted[MAX_PATH] = {};
    name.left(MAX_PATH - 1).toWCharArray(wanted);
    const DWORD ownId = GetCurrentProcessId();
    DWORD ownSession = 0;
    ProcessIdToSessionId(ownId, &ownSession);
    alignas(TOKEN_USER) BYTE ownUserBuffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    PSID ownUser = nullptr;
    HANDLE ownToken = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ownToken)) {
        DWORD size = 0;
        if (GetTokenInformation(ownToken, TokenUser, ownUserBuffer, sizeof(ownUserBuffer), &size))
            ownUser = reinterpret_cast<TOKEN_USER*>(ownUserBuffer)->User.Sid;
        CloseHandle(ownToken);
    }
    if (!ownUser)
        return true;

    const DWORD count = bytesReturned / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        const DWORD processId = processIds[i];
        if (processId == 0)
            continue;
        wchar_t baseName[MAX_PATH] = L"<unknown>";
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
        if (!process)
            continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        if (K32EnumProcessModules(process, &module, sizeof(module), &needed))
            K32GetModuleBaseNameW(process, module, baseName, MAX_PATH);
        const bool match = wcscmp(baseName, wanted) == 0 && processId != ownId && isOwnSession(processId, ownSession) &&
                           sameUser(process, ownUser);
        CloseHandle(process);
        if (match)
            return true;
    }
    return false;
}

#else

namespace {
// The kernel appends this to the link of a process whose program file was deleted or replaced while it ran; the
// process still runs that program, as a Windows module keeps its base name.
const QByteArray kDeletedSuffix(" (deleted)");

bool isProcessId(const char* entry)
{
    if (!*entry)
        return false;
    for (const char* c = entry; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

// Only this user's processes count: another user's launcher or application never keeps this one from starting.
bool isOwnProcess(const QByteArray& processId)
{
    struct stat info;
    const QByteArray folder = "/proc/" + processId;
    return stat(folder.constData(), &info) == 0 && info.st_uid == geteuid();
}

QByteArray executableOf(const QByteArray& processId)
{
    char target[4096];
    const QByteArray link = "/proc/" + processId + "/exe";
    const ssize_t length = readlink(link.constData(), target, sizeof(target));
    if (length <= 0 || length == static_cast<ssize_t>(sizeof(target)))
        return {}; // kernel threads, processes of other users, processes that just ended
    QByteArray path(target, static_cast<int>(length));
    if (path.endsWith(kDeletedSuffix))
        path.chop(kDeletedSuffix.size());
    return path;
}
} // namespace

bool isProcessRunning(const QString& name)
{
    if (name.isEmpty())
        return true;

    DIR* proc = opendir("/proc");
    if (!proc) {
        qCWarning(lcPlatform) << "Cannot list processes: /proc is not readable";
        return true;
    }

    const QByteArray wanted = QFile::encodeName(name);
    const QByteArray ownId = QByteArray::number(static_cast<qlonglong>(getpid()));
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(proc);
        if (!entry)
            break;
        if (!isProcessId(entry->d_name) || ownId == entry->d_name || !isOwnProcess(entry->d_name))
            continue;
        const QByteArray path = executableOf(entry->d_name);
        if (path.isEmpty())
            continue;
        found = path.mid(path.lastIndexOf('/') + 1) == wanted;
    }
    closedir(proc);
    return found;
}

#endif

} // namespace Platform
