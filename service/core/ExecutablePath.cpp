#include "service/core/ExecutablePath.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace ostra {

namespace {

std::string FindExecutableDirectory() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return "./";
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            const size_t slash = path.rfind('/');
            return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::string ExecutableDirectory() {
    static const std::string dir = FindExecutableDirectory();
    return dir;
}

}  // namespace ostra
