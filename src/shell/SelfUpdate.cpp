#include "shell/SelfUpdate.h"

#include "base/Error.h"
#include "language/Match.h"
#include "web/FindLink.h"
#include "web/HttpFetch.h"

#include <cstdio>
#include <strings.h>
#include <sys/stat.h>

ProgramVersion ThisProgramVersion()
{
    return {TELVANE_VERSION_MAJOR, TELVANE_VERSION_MINOR, TELVANE_VERSION_PATCH, TELVANE_VERSION_TWEAK};
}

std::string AboutText(const ProgramVersion& v)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s, Version %d.%d.%d.%d", kProgramName, v[0], v[1], v[2], v[3]);
    return text;
}

namespace {

std::string WithoutTrailingSlashes(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string VersionText(const ProgramVersion& v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
    return text;
}

}  // namespace

std::string ProgramFile(const std::string& installDir)
{
    return WithoutTrailingSlashes(installDir) + "/" + kProgramName;
}

std::string UpdaterFile(const std::string& installDir)
{
    return WithoutTrailingSlashes(installDir) + "/" + kUpdaterName;
}

std::vector<std::string> UpdaterArguments(const ProgramVersion& version, const std::string& page,
                                          const std::string& installDir)
{
    return {kProgramName, VersionText(version), page, WithoutTrailingSlashes(installDir)};
}

std::string UpdaterArgumentText(const ProgramVersion& version, const std::string& page,
                                const std::string& installDir)
{
    return std::string(kProgramName) + " " + VersionText(version) + " " + page + " \"" +
           WithoutTrailingSlashes(installDir) + "\"";
}

std::string DownloadAddress(const std::string& pageUrl, const std::string& href)
{
    size_t scheme = href.find("://");
    if (scheme != std::string::npos && href.find_first_of("/?#") > scheme)
        return href;
    size_t hostStart = pageUrl.find("://");
    if (!href.empty() && href[0] == '/' && hostStart != std::string::npos) {
        size_t pathStart = pageUrl.find('/', hostStart + 3);
        return pageUrl.substr(0, pathStart) + href;
    }
    size_t slash = pageUrl.rfind('/');
    if (slash == std::string::npos || (hostStart != std::string::npos && slash < hostStart + 3))
        return pageUrl + "/" + href;
    return pageUrl.substr(0, slash + 1) + href;
}

bool IsSecureUrl(const std::string& url)
{
    return strncasecmp(url.c_str(), "https://", 8) == 0;
}

CSelfUpdate::CSelfUpdate(std::string pageUrl, std::string installDir, bool allowInsecure)
    : m_page(std::move(pageUrl)), m_installDir(std::move(installDir)), m_updater(UpdaterFile(m_installDir)),
      m_allowInsecure(allowInsecure)
{
}

CSelfUpdate::~CSelfUpdate()
{
    Abort();
    if (m_thread.joinable())
        m_thread.join();
}

void CSelfUpdate::Start(std::function<void()> finished)
{
    m_onFinished = std::move(finished);
    m_thread = std::thread(&CSelfUpdate::run, this);
}

uint32_t CSelfUpdate::progress(int64_t total, int64_t transferred, int64_t, int64_t, uint32_t, uint32_t, const char*,
                               const char*, void* data)
{
    auto* self = static_cast<CSelfUpdate*>(data);
    self->m_total = total;
    self->m_transferred = transferred;
    return self->m_abort.IsSet() ? kProgressCancel : kProgressContinue;
}

void CSelfUpdate::run()
{
    CHttpFetch fetch;
    fetch.SetProgress(&CSelfUpdate::progress, this);
    std::string address;
    try {
        if (!IsSecureUrl(m_page) && !m_allowInsecure) {
            m_error = formatErrorText("Error Connecting " + m_page + "\nError", err::AccessDenied);
        } else if (!fetch.Open(m_page)) {
            m_error = formatErrorText("Error Connecting " + m_page + "\nError", GetLastErr());
        } else {
            std::string page = fetch.ReadAll();
            std::string href, linkText;
            CMatch match;
            if (FindLink(page.c_str(), "^Pevrolt$", false, href, match, linkText)) {
                address = DownloadAddress(m_page, href);
                SetLastErr(err::Success);
                if (!IsSecureUrl(address) && !m_allowInsecure)
                    m_error = formatErrorText("Copy " + address + "\nERROR ", err::AccessDenied);
                else if (!fetch.Open(address) || !fetch.Download(m_updater))
                    m_error = formatErrorText("Copy " + address + "\nERROR ", GetLastErr());
                // Executable only now that the whole file is there.
                else if (chmod(m_updater.c_str(), 0755) != 0)
                    m_error = formatErrorText("Copy " + address + "\nERROR ", SetLastErrFromErrno());
            }
        }
    } catch (const CInternetException& e) {
        std::string prefix = address.empty() ? "Error Connecting " + m_page + "\nError" : "Copy " + address + "\nERROR ";
        m_error = formatErrorText(prefix, e.GetError());
    }
    m_ok = m_error.empty();
    m_finished = true;
    if (m_onFinished)
        m_onFinished();
}
