/* Test scaffolding, preloaded into Wine: pseudo-terminals have no modem lines,
 * so TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC fail with ENOTTY and Wine's
 * GetCommModemStatus, EscapeCommFunction and WaitCommEvent with modem events
 * fail with error 50. On a terminal where they fail, pretend CTS, DSR and DCD
 * are on (off once the far end went away, as a device that lost power) and
 * remember DTR/RTS per descriptor. Everything else passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define MAX_FD 4096
static int lines[MAX_FD]; /* DTR/RTS as set by the program */

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real_ioctl)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    int rc = real_ioctl(fd, request, arg);
    int saved = errno;
    if (rc == 0 || fd < 0 || fd >= MAX_FD || arg == NULL ||
        (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC) ||
        !isatty(fd)) {
        errno = saved;
        return rc;
    }
    int *bits = arg;
    const int own = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET: {
        struct pollfd p = {fd, 0, 0};
        const int hungUp = poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
        *bits = (hungUp ? 0 : TIOCM_CTS | TIOCM_DSR | TIOCM_CAR) | __atomic_load_n(&lines[fd], __ATOMIC_RELAXED);
        break;
    }
    case TIOCMSET: __atomic_store_n(&lines[fd], *bits & own, __ATOMIC_RELAXED); break;
    case TIOCMBIS: __atomic_fetch_or(&lines[fd], *bits & own, __ATOMIC_RELAXED); break;
    case TIOCMBIC: __atomic_fetch_and(&lines[fd], ~(*bits & own), __ATOMIC_RELAXED); break;
    }
    return 0;
}
