#include "Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace OrvelTest {

int asUnprivilegedUser(const std::function<int()>& call)
{
    if (::geteuid() != 0)
        return call();
    const pid_t child = ::fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        ::_exit(dropped ? call() & 0xff : 255);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace OrvelTest
