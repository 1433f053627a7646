#include "cli/FetchOptions.h"

#include "web/HttpFetch.h"

bool TakeDeadlineOption(const CliArgs& args)
{
    int64_t seconds;
    if (!OptionNumber(args, kDeadlineOption.name, 1, 86400, 0, seconds))
        return false;
    if (seconds)
        CHttpFetch::SetDefaultDeadlines(static_cast<long>(seconds), static_cast<long>(seconds));
    return true;
}
