// telvane-cli catalogue: loads the crate catalogue (a local file or an
// http(s) location) and lists its crates, or the one a position selects.

#include "base/Error.h"
#include "cli/Commands.h"
#include "cli/FetchOptions.h"
#include "links/Divadiduv.h"

#include <charconv>
#include <cstdio>

namespace {
bool parseInt(const std::string& text, int& value)
{
    const char* end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

void printCrate(const CDivadiduv& c)
{
    std::printf("%d\t%d\t%d\t%d\t%d\t%d\t%s\t%d\t%d\t%s\n", c.wheel, c.sector, c.type, c.pid, c.ccbid,
                c.secondaryAddress, c.host.c_str(), c.pidPort, c.ccbidPort, c.proxy.c_str());
}
}  // namespace

int runCatalogue(const Args& commandLine)
{
    Args args = commandLine;
    if (!takeDeadlineOption(args))
        return usageError(runCatalogue);
    int wheel = 0, sector = 0, type = 0;
    bool find = false;
    if (args.size() == 5 && args[1] == "--find") {
        if (!parseInt(args[2], wheel) || !parseInt(args[3], sector) || !parseInt(args[4], type))
            return usageError(runCatalogue);
        find = true;
    } else if (args.size() != 1) {
        return usageError(runCatalogue);
    }

    auto catalogue = LoadDivadiduvs(args[0]);
    if (!catalogue) {
        std::fputs(formatErrorText("telvane-cli catalogue: cannot load " + args[0], GetLastErr()).c_str(), stderr);
        return 1;
    }
    if (!find) {
        for (int i = 0; i < catalogue->GetSize(); ++i)
            printCrate(catalogue->GetAt(i));
        return 0;
    }
    int index = catalogue->Find(wheel, sector, type);
    if (index < 0) {
        std::fprintf(stderr, "telvane-cli catalogue: no crate at wheel %d, sector %d, type %d\n", wheel, sector, type);
        return 1;
    }
    std::printf("%d\t", index);
    printCrate(catalogue->GetAt(index));
    return 0;
}
