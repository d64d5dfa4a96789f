// Result-code texts, GUID formatting, the error exception and module paths.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "platform/com/Com.h"

namespace ostra::com {

std::string HResultMessage(HRESULT hr) {
    switch (hr) {
        case S_OK:
            return "The operation completed successfully.";
        case S_FALSE:
            return "Incorrect function.";
        case E_UNEXPECTED:
            return "Catastrophic failure";
        case E_NOTIMPL:
            return "Not implemented";
        case E_NOINTERFACE:
            return "No such interface supported";
        case E_POINTER:
            return "Invalid pointer";
        case E_FAIL:
            return "Unspecified error";
        case E_OUTOFMEMORY:
            return "Not enough storage is available to complete this operation.";
        case E_INVALIDARG:
            return "The parameter is incorrect.";
        case CLASS_E_NOAGGREGATION:
            return "Class does not support aggregation (or class object is remote)";
        case CLASS_E_CLASSNOTAVAILABLE:
            return "ClassFactory cannot supply requested class";
        case REGDB_E_READREGDB:
            return "Could not read key from registry";
        case REGDB_E_WRITEREGDB:
            return "Could not write key to registry";
        case REGDB_E_KEYMISSING:
            return "Could not find the key in the registry";
        case REGDB_E_CLASSNOTREG:
            return "Class not registered";
        case SELFREG_E_TYPELIB:
            return "Failed to register/unregister type library";
        case SELFREG_E_CLASS:
            return "Failed to register/unregister class";
        case CO_E_NOTINITIALIZED:
            return "CoInitialize has not been called.";
        case CO_E_CLASSSTRING:
            return "Invalid class string";
        case CO_E_DLLNOTFOUND:
            return "DLL for class not found";
        case CO_E_ERRORINDLL:
            return "Error in the DLL";
        case RPC_E_CHANGED_MODE:
            return "Cannot change thread mode after it is set.";
        case RPC_E_DISCONNECTED:
            return "The object invoked has disconnected from its clients.";
        case DISP_E_UNKNOWNINTERFACE:
            return "Unknown interface.";
        case DISP_E_MEMBERNOTFOUND:
            return "Member not found.";
        case DISP_E_PARAMNOTFOUND:
            return "Parameter not found.";
        case DISP_E_TYPEMISMATCH:
            return "Type mismatch.";
        case DISP_E_UNKNOWNNAME:
            return "Unknown name.";
        case DISP_E_NONAMEDARGS:
            return "No named arguments.";
        case DISP_E_BADVARTYPE:
            return "Bad variable type.";
        case DISP_E_EXCEPTION:
            return "Exception occurred.";
        case DISP_E_OVERFLOW:
            return "Out of present range.";
        case DISP_E_BADINDEX:
            return "Invalid index.";
        case DISP_E_BADPARAMCOUNT:
            return "Invalid number of parameters.";
        case DISP_E_PARAMNOTOPTIONAL:
            return "Parameter not optional.";
        case TYPE_E_REGISTRYACCESS:
            return "Error accessing the OLE registry.";
        case TYPE_E_LIBNOTREGISTERED:
            return "Library not registered.";
        default:
            break;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "Error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string GuidToString(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                  static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                  g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return buf;
}

ComError::ComError(HRESULT hr, std::string source, std::string description)
    : std::runtime_error(description.empty() ? HResultMessage(hr) : description),
      hr_(hr),
      source_(std::move(source)),
      description_(std::move(description)) {}

void Check(HRESULT hr) {
    if (Failed(hr)) throw ComError(hr);
}

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    // The main program may be reported by its invocation name; resolve it.
    char resolved[4096];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

}  // namespace ostra::com
