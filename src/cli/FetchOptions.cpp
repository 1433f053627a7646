#include "cli/FetchOptions.h"

#include "web/HttpFetch.h"

#include <charconv>

bool takeDeadlineOption(Args& args)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--deadline")
            continue;
        if (i + 1 >= args.size())
            return false;
        const std::string& text = args[i + 1];
        long seconds = 0;
        auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size() || seconds < 1 || seconds > 86400)
            return false;
        CHttpFetch::SetDefaultDeadlines(seconds, seconds);
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return true;
    }
    return true;
}
