// ConvertImg sending itself SIGTERM the moment its main thread's first temporary JPEG exists on
// disk, while its other threads go on converting: the moment a signal must not leave a temporary
// behind. Linked with --wrap=mkostemp. The signal is the process's, as kill(1) sends it; sent
// from the main thread, Linux gives it to that thread when it does not block it.
#include <atomic>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

extern "C" int __real_mkostemp(char* pattern, int flags);

extern "C" int __wrap_mkostemp(char* pattern, int flags)
{
    static std::atomic<bool> signalled{false};
    const int fd = __real_mkostemp(pattern, flags);
    if (fd >= 0 && gettid() == getpid() && !signalled.exchange(true))
        kill(getpid(), SIGTERM);
    return fd;
}
