#include "web/CurlLibrary.h"

#include "base/Error.h"
#include "web/HttpFetch.h"

#include <dlfcn.h>

CCurlLibrary::CCurlLibrary(const char* soname) : m_soname(soname)
{
    // Never unloaded: the TLS libraries it brought in keep exit handlers.
    m_handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_handle) {
        const char* why = dlerror();
        m_error = std::string("The internet client needs ") + soname + ", which cannot be loaded: " +
                  (why ? why : "unknown reason");
        return;
    }
    Resolve(globalInit, "curl_global_init");
    Resolve(easyInit, "curl_easy_init");
    Resolve(easySetopt, "curl_easy_setopt");
    Resolve(easyGetinfo, "curl_easy_getinfo");
    Resolve(easyStrerror, "curl_easy_strerror");
    Resolve(easyCleanup, "curl_easy_cleanup");
    Resolve(multiInit, "curl_multi_init");
    Resolve(multiAddHandle, "curl_multi_add_handle");
    Resolve(multiRemoveHandle, "curl_multi_remove_handle");
    Resolve(multiPerform, "curl_multi_perform");
    Resolve(multiInfoRead, "curl_multi_info_read");
    Resolve(multiPoll, "curl_multi_poll");
    Resolve(multiCleanup, "curl_multi_cleanup");
    Resolve(slistAppend, "curl_slist_append");
    Resolve(slistFreeAll, "curl_slist_free_all");
}

CCurlLibrary::~CCurlLibrary()
{
    if (m_handle)
        dlclose(m_handle);
}

template <class Fn>
void CCurlLibrary::Resolve(Fn& fn, const char* name)
{
    fn = reinterpret_cast<Fn>(dlsym(m_handle, name));
    if (!fn && m_error.empty())
        m_error = std::string("The internet client found no ") + name + " in " + m_soname;
}

const CCurlLibrary& CCurlLibrary::Get()
{
    // Kept to the end of the process: transfers may still run on other
    // threads while static objects are destroyed.
    static const CCurlLibrary* library = [] {
        auto* loaded = new CCurlLibrary(kSoname);
        if (loaded->Loaded())
            loaded->globalInit(CURL_GLOBAL_DEFAULT);
        return loaded;
    }();
    if (!library->Loaded())
        throw CInternetException(err::NotSupported, library->Error());
    return *library;
}
