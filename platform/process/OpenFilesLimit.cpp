#include "platform/process/OpenFilesLimit.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace ostra {
namespace {

// The kernel's ceiling for any one process's descriptors; an unlimited hard
// limit cannot be taken literally.
rlim_t KernelCeiling() {
    std::ifstream in("/proc/sys/fs/nr_open");
    unsigned long long value = 0;
    if (in >> value && value > 0) return static_cast<rlim_t>(value);
    return 1048576;  // the kernel's default ceiling
}

}  // namespace

OpenFilesLimitChange RaiseOpenFilesLimit() {
    OpenFilesLimitChange change;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        change.Result = OpenFilesLimitChange::Outcome::Failed;
        change.Error = std::strerror(errno);
        return change;
    }
    change.Before = change.After = limit.rlim_cur;
    rlim_t wanted = limit.rlim_max;
    if (wanted == RLIM_INFINITY) wanted = KernelCeiling();
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return change;

    rlimit raised{wanted, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) != 0) {
        change.Result = OpenFilesLimitChange::Outcome::Failed;
        change.Error = std::strerror(errno);
        return change;
    }
    change.Result = OpenFilesLimitChange::Outcome::Raised;
    change.After = wanted;
    return change;
}

}  // namespace ostra
