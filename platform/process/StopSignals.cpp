#include "platform/process/StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <initializer_list>

namespace ostra {
namespace {

std::atomic<int> Received{0};
std::atomic<int> WakeWrite{-1};
int WakeRead = -1;
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int Signal) {
    if (Received.fetch_add(1) > 0) ::_exit(128 + Signal);  // the second one: at once
    const int saved = errno;
    const char one = 1;
    const int fd = WakeWrite.load();
    if (fd >= 0) {
        while (::write(fd, &one, 1) < 0 && errno == EINTR) {
        }
    }
    errno = saved;
}

}  // namespace

int InstallStopSignals() {
    if (WakeRead >= 0) return WakeRead;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    WakeRead = pipeFds[0];
    WakeWrite.store(pipeFds[1]);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Every stop signal is held while the handler runs, so that two at once
    // still count as first and second.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return WakeRead;
}

}  // namespace ostra
