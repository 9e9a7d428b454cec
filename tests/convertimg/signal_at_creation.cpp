// ConvertImg sending itself SIGTERM the moment its main thread's first temporary JPEG exists on
// disk, while its other threads go on converting: the moment a signal must not leave a temporary
// behind. Linked with --wrap=open: the converter creates files only as it creates its temporaries
// (O_CREAT). The signal is the process's, as kill(1) sends it; sent from the main thread, Linux
// gives it to that thread when it does not block it.
#include <atomic>
#include <cstdarg>

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" int __real_open(const char* path, int flags, ...);

extern "C" int __wrap_open(const char* path, int flags, ...)
{
    static std::atomic<bool> signalled{false};
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    const int fd = __real_open(path, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) != 0 && gettid() == getpid() && !signalled.exchange(true))
        kill(getpid(), SIGTERM);
    return fd;
}
