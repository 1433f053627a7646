// Fuzzes the link search: the first line of the input is the link pattern,
// the rest the page; the first byte picks the case rule.

#include "base/Error.h"
#include "web/FindLink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    bool ignoreCase = data[0] & 1;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t newline = input.find('\n');
    std::string pattern = input.substr(0, newline);
    std::string page = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    std::string href, linkText;
    CMatch match;
    if (FindLink(page.c_str(), pattern.c_str(), ignoreCase, href, match, linkText)) {
        if (href.empty() || href.size() > page.size() || linkText.size() > page.size())
            std::abort();
        for (int mark = 1; mark + 1 <= match.MarkCount(); mark += 2)
            if (match.GetCapture(mark, mark + 1, linkText.c_str()).size() > linkText.size())
                std::abort();
    } else if (GetLastErr() != err::NotFound && GetLastErr() != err::BadParam) {
        std::abort();
    }
    return 0;
}
