#pragma once
// libcurl, loaded when the first URL is opened instead of at program start:
// with the libraries it pulls in (TLS, LDAP, Kerberos ...) its loading would
// be most of the start-up time of the commands that never fetch anything.
//
// Threads: Get is safe from any thread, the first caller loads; the
// functions are libcurl's own, with its rules.

#include <curl/curl.h>
#include <string>

class CCurlLibrary {
public:
    // Loads `soname` and resolves the functions below; Loaded tells whether
    // all of them were found.
    explicit CCurlLibrary(const char* soname);
    ~CCurlLibrary();
    CCurlLibrary(const CCurlLibrary&) = delete;
    CCurlLibrary& operator=(const CCurlLibrary&) = delete;

    bool Loaded() const { return m_error.empty(); }
    // Why loading failed, naming the library; empty when loaded.
    const std::string& Error() const { return m_error; }

    // The program's libcurl, loaded and initialised on first use. Throws
    // CInternetException with 50 and Error() as its text when it cannot be
    // loaded.
    static const CCurlLibrary& Get();
    static constexpr const char* kSoname = "libcurl.so.4";

    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_strerror) easyStrerror = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
    decltype(&curl_multi_init) multiInit = nullptr;
    decltype(&curl_multi_add_handle) multiAddHandle = nullptr;
    decltype(&curl_multi_remove_handle) multiRemoveHandle = nullptr;
    decltype(&curl_multi_perform) multiPerform = nullptr;
    decltype(&curl_multi_info_read) multiInfoRead = nullptr;
    decltype(&curl_multi_poll) multiPoll = nullptr;
    decltype(&curl_multi_cleanup) multiCleanup = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;

private:
    template <class Fn>
    void Resolve(Fn& fn, const char* name);

    std::string m_soname;
    void* m_handle = nullptr;
    std::string m_error;
};
