// Preloaded into a program under test: the first time it creates a file whose
// name ends in ".part", it holds that file as it is, unlocked, for
// PQVK_DELAY_SECONDS, having created the file PQVK_DELAY_MARK, so that a test
// can act in the instant between a temporary's creation and its lock.
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> delayed{false};

int created(const char* path, int flags, int fd)
{
    const char* mark = std::getenv("PQVK_DELAY_MARK");
    const char* seconds = std::getenv("PQVK_DELAY_SECONDS");
    const size_t length = std::strlen(path);
    if (fd >= 0 && (flags & O_CREAT) && mark && length > 5 &&
        std::strcmp(path + length - 5, ".part") == 0 && !delayed.exchange(true)) {
        ::close(::creat(mark, 0644));
        ::sleep(unsigned(std::atoi(seconds ? seconds : "5")));
    }
    return fd;
}

using Open = int (*)(const char*, int, ...);

int openWith(const char* name, const char* path, int flags, va_list rest)
{
    const mode_t mode = (flags & O_CREAT) ? mode_t(va_arg(rest, int)) : 0;
    return created(path, flags,
                   reinterpret_cast<Open>(::dlsym(RTLD_NEXT, name))(path, flags, mode));
}

} // namespace

extern "C" int open(const char* path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    const int fd = openWith("open", path, flags, rest);
    va_end(rest);
    return fd;
}

extern "C" int open64(const char* path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    const int fd = openWith("open64", path, flags, rest);
    va_end(rest);
    return fd;
}
