// ostra-regsvr: registers or unregisters an in-process server library by
// calling its DllRegisterServer or DllUnregisterServer.
//
//   ostra-regsvr [-u] [-s] <library>
//     -u  unregister instead of register
//     -s  silent: no message on success
//
// Exit codes: 0 done, 1 bad arguments, 2 apartment entry failed, 3 library
// not loadable, 4 entry point missing, 5 the entry point reported failure.
// The registry is the one the runtime uses (OSTRA_COM_REGISTRY, if set).
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com/Com.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: ostra-regsvr [-u] [-s] <library>\n"
                 "  -u  unregister the server\n"
                 "  -s  no message on success\n");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ostra::com;
    bool unregister = false, silent = false;
    std::string library;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-u" || a == "/u" || a == "-U" || a == "/U") {
            unregister = true;
        } else if (a == "-s" || a == "/s" || a == "-S" || a == "/S") {
            silent = true;
        } else if (!a.empty() && a[0] != '-' && library.empty()) {
            library = a;
        } else {
            Usage();
            return 1;
        }
    }
    if (library.empty()) {
        Usage();
        return 1;
    }
    // A bare file name means the file in the current folder, not a search.
    char resolved[PATH_MAX];
    if (realpath(library.c_str(), resolved) != nullptr) library = resolved;

    ApartmentScope apartment(COINIT_APARTMENTTHREADED);
    if (Failed(apartment.result())) {
        std::fprintf(stderr, "Apartment entry failed: %s\n",
                     HResultMessage(apartment.result()).c_str());
        return 2;
    }
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        std::fprintf(stderr, "The module \"%s\" failed to load.\n%s\n", library.c_str(),
                     why ? why : "");
        return 3;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, entry));
    if (fn == nullptr) {
        std::fprintf(stderr, "The module \"%s\" was loaded but the entry-point %s was not found.\n",
                     library.c_str(), entry);
        dlclose(handle);
        return 4;
    }
    HRESULT hr = fn();
    int code = 0;
    if (Failed(hr)) {
        std::fprintf(stderr, "%s in \"%s\" failed.\nReturn code was: 0x%08X (%s)\n", entry,
                     library.c_str(), static_cast<unsigned>(hr), HResultMessage(hr).c_str());
        // Which file the registry could not be written to, and why.
        if (const std::string why = RegistryWriteFailure(); !why.empty())
            std::fprintf(stderr, "The registry could not be written: %s\n", why.c_str());
        code = 5;
    } else if (!silent) {
        std::printf("%s in \"%s\" succeeded.\n", entry, library.c_str());
    }
    // The library stays loaded until exit: its clean-up may still run when
    // the apartment ends.
    return code;
}
