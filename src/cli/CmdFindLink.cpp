// telvane-cli findlink: fetches a web page and shows the first link whose
// text matches a pattern, with the pattern's captured parts.

#include "base/Error.h"
#include "cli/Commands.h"
#include "cli/FetchOptions.h"
#include "web/FindLink.h"
#include "web/HttpFetch.h"

#include <cstdio>

namespace {

int runFindLink(const CliArgs& args)
{
    if (!TakeDeadlineOption(args))
        return kExitUsage;
    const std::string& url = args.Operands()[0];
    const std::string& pattern = args.Operands()[1];
    std::string page;
    try {
        CHttpFetch fetch;
        SetLastErr(0);
        if (!fetch.Open(url))
            return Fail("%s: answered status %d", url.c_str(), fetch.GetStatus());
        page = fetch.ReadAll();
    } catch (const CInternetException& e) {
        return Fail("%s: %s ->%u", url.c_str(), e.what(), e.GetError());
    }

    std::string href, linkText;
    CMatch match;
    if (!FindLink(page.c_str(), pattern.c_str(), true, href, match, linkText)) {
        if (GetLastErr() == err::BadParam)
            return UsageFail(kFindLinkCommand, "the link pattern is not valid: %s", pattern.c_str());
        return Fail("%s: no link matches %s", url.c_str(), pattern.c_str());
    }
    std::printf("%s\n", href.c_str());
    for (int mark = 1; mark + 1 <= match.MarkCount(); mark += 2) {
        std::string part = match.GetCapture(mark, mark + 1, linkText.c_str());
        if (!part.empty())
            std::printf("%s\n", part.c_str());
    }
    return kExitOk;
}

}  // namespace

const CliCommand kFindLinkCommand{
    .name = "findlink",
    .operands = "URL PATTERN",
    .minOperands = 2,
    .maxOperands = 2,
    .summary = "Fetches a web page and prints the first link whose text matches PATTERN, then its captures.",
    .options = {kDeadlineOption},
    .run = runFindLink,
};
