#include "daq/VmeDriver.h"

#include "base/Error.h"

#include <cstdlib>
#include <dlfcn.h>

std::string FormatVmeError(const std::string& label, int status, const std::string& description)
{
    return label + " Error " + std::to_string(status) + "\r\n" + description + "\r\n";
}

namespace {
// Resolves one exported name into its slot of the table.
template <typename Fn>
bool Resolve(void* library, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(dlsym(library, name));
    return slot != nullptr;
}

// The first missing name, or null when every function was found.
const char* ResolveAll(void* library, BtFunctions& f)
{
#define TELVANE_RESOLVE(fn) \
    if (!Resolve(library, #fn, f.fn)) \
        return #fn;
    TELVANE_RESOLVE(bt_gen_name)
    TELVANE_RESOLVE(bt_open)
    TELVANE_RESOLVE(bt_set_info)
    TELVANE_RESOLVE(bt_get_info)
    TELVANE_RESOLVE(bt_read)
    TELVANE_RESOLVE(bt_write)
    TELVANE_RESOLVE(bt_icbr_install)
    TELVANE_RESOLVE(bt_icbr_remove)
    TELVANE_RESOLVE(bt_reset)
    TELVANE_RESOLVE(bt_clrerr)
    TELVANE_RESOLVE(bt_close)
    TELVANE_RESOLVE(bt_strerror)
#undef TELVANE_RESOLVE
    return nullptr;
}
}  // namespace

std::unique_ptr<CVmeDriver> CVmeDriver::Load(const std::string& path, const char* label,
                                             int& status, std::string& errorText)
{
    if (path.empty())
        return std::unique_ptr<CVmeDriver>(new CVmeDriver(nullptr, {}, SimVmeDriverTable()));

    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        status = static_cast<int>(err::NotFound);
        errorText = FormatVmeError(std::string(label) + "dlopen(" + path + "):", status, dlerror());
        SetLastErr(err::NotFound);
        return nullptr;
    }
    BtFunctions funcs;
    if (const char* missing = ResolveAll(library, funcs)) {
        status = static_cast<int>(err::BadFormat);
        errorText = FormatVmeError(std::string(label) + "dlsym(" + missing + "):", status,
                                   path + " does not export " + missing);
        dlclose(library);
        SetLastErr(err::BadFormat);
        return nullptr;
    }
    return std::unique_ptr<CVmeDriver>(new CVmeDriver(library, path, funcs));
}

std::unique_ptr<CVmeDriver> CVmeDriver::FromEnvironment(const char* label, int& status,
                                                        std::string& errorText)
{
    const char* path = std::getenv("TELVANE_VME_LIBRARY");
    return Load(path ? path : "", label, status, errorText);
}

CVmeDriver::~CVmeDriver()
{
    if (m_library)
        dlclose(m_library);
}
