// Where the running program lives: the directory of /proc/self/exe, with its
// trailing "/". "Option.ini", the log files and "Client.mdb" sit there. In the
// plug-in this is the host program's directory, as the plug-in wants.
//
// Threads: any thread; the answer is computed once.
#pragma once

#include <string>

namespace ostra {

std::string ExecutableDirectory();

}  // namespace ostra
