// telvane-cli findlink: fetches a web page and shows the first link whose
// text matches a pattern, with the pattern's captured parts.

#include "base/Error.h"
#include "cli/Commands.h"
#include "cli/FetchOptions.h"
#include "web/FindLink.h"
#include "web/HttpFetch.h"

#include <cstdio>

int runFindLink(const Args& commandLine)
{
    Args args = commandLine;
    if (!takeDeadlineOption(args) || args.size() != 2)
        return usageError(runFindLink);
    const std::string& url = args[0];
    std::string page;
    try {
        CHttpFetch fetch;
        SetLastErr(0);
        if (!fetch.Open(url)) {
            std::fprintf(stderr, "telvane-cli findlink: %s answered status %d\n", url.c_str(), fetch.GetStatus());
            return 1;
        }
        page = fetch.ReadAll();
    } catch (const CInternetException& e) {
        std::fprintf(stderr, "telvane-cli findlink: %s ->%u\n", e.what(), e.GetError());
        return 1;
    }

    std::string href, linkText;
    CMatch match;
    if (!FindLink(page.c_str(), args[1].c_str(), true, href, match, linkText)) {
        if (GetLastErr() == err::BadParam) {
            std::fprintf(stderr, "telvane-cli findlink: the link pattern is not valid: %s\n", args[1].c_str());
            return 2;
        }
        std::fprintf(stderr, "telvane-cli findlink: no link on %s matches\n", url.c_str());
        return 1;
    }
    std::printf("%s\n", href.c_str());
    for (int mark = 1; mark + 1 <= match.MarkCount(); mark += 2) {
        std::string part = match.GetCapture(mark, mark + 1, linkText.c_str());
        if (!part.empty())
            std::printf("%s\n", part.c_str());
    }
    return 0;
}
