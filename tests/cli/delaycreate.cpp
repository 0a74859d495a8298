// Preloaded into a program under test: the first file it creates whose name
// ends in ".part" is held as it is, unlocked, from the making of the file
// PQVK_DELAY_MARK until the file PQVK_DELAY_RELEASE appears (a minute at
// most), so that a test can act in the instant between a temporary's creation
// and its lock.
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

extern "C" int open(const char* path, int flags, ...)
{
    static std::atomic<bool> delayed{false};
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(rest, int)) : 0;
    va_end(rest);
    using Open = int (*)(const char*, int, ...);
    const int fd = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"))(path, flags, mode);
    const char* mark = std::getenv("PQVK_DELAY_MARK");
    const size_t length = std::strlen(path);
    if (fd >= 0 && (flags & O_CREAT) && mark && length > 5 &&
        std::strcmp(path + length - 5, ".part") == 0 && !delayed.exchange(true)) {
        ::close(::creat(mark, 0644));
        const char* release = std::getenv("PQVK_DELAY_RELEASE");
        for (int waited = 0; waited < 6000 && release && ::access(release, F_OK) != 0; ++waited)
            ::usleep(10000);
    }
    return fd;
}
