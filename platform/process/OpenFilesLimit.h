// The process's limit on open files. Every connection holds a descriptor and
// its own thread; with the usual soft limit of 1,024 about a thousand idle
// clients would leave no room to accept anyone else. A server raises its
// soft limit to the hard limit once at start.
//
// Threads: RaiseOpenFilesLimit is called once, on the main thread, at start.
#pragma once

#include <string>

namespace ostra {

struct OpenFilesLimitChange {
    enum class Outcome { AlreadyAtHard, Raised, Failed };
    Outcome Result = Outcome::AlreadyAtHard;
    unsigned long long Before = 0;  // soft limit found
    unsigned long long After = 0;   // soft limit now
    std::string Error;              // the system's text when Failed
};

// Raises the soft RLIMIT_NOFILE to the hard limit (to the kernel's ceiling
// fs.nr_open when the hard limit is unlimited). Never lowers it.
OpenFilesLimitChange RaiseOpenFilesLimit();

}  // namespace ostra
