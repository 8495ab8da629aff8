// Preloaded into the game by the end-to-end tests: a buffer swap that notes when each
// frame reaches the screen and, when asked, first waits for the next refresh of an
// imagined screen, as a swap does on a desktop whose driver syncs to the display.
//
//   SKARVOLT_E2E_FRAME_LOG=PATH   appends one line per frame: CLOCK_MONOTONIC in ns
//   SKARVOLT_E2E_REFRESH_HZ=N     each swap returns at the next multiple of 1/N s
#include <GL/glx.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr long long NS_PER_S = 1000000000LL;

long long monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * NS_PER_S + now.tv_nsec;
}

long long refresh_period_ns()
{
    const char* hz = std::getenv("SKARVOLT_E2E_REFRESH_HZ");
    const long n = hz ? std::strtol(hz, nullptr, 10) : 0;
    return n > 0 ? NS_PER_S / n : 0;
}

int open_frame_log()
{
    const char* path = std::getenv("SKARVOLT_E2E_FRAME_LOG");
    return path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
}

} // namespace

extern "C" void glXSwapBuffers(Display* display, GLXDrawable drawable)
{
    using Swap = void (*)(Display*, GLXDrawable);
    static const auto real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    static const long long period = refresh_period_ns();
    static const int log = open_frame_log();

    if (real)
        real(display, drawable);
    long long shown = monotonic_ns();
    if (period > 0) {
        shown = (shown / period + 1) * period;
        const timespec until{static_cast<time_t>(shown / NS_PER_S),
                             static_cast<long>(shown % NS_PER_S)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
    if (log >= 0) {
        char line[32];
        const int length = std::snprintf(line, sizeof line, "%lld\n", shown);
        (void)!::write(log, line, static_cast<std::size_t>(length));
    }
}
