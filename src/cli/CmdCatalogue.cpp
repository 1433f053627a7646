// telvane-cli catalogue: loads the crate catalogue (a local file, standard
// input or an http(s) location) and lists its crates, or the one a position
// selects.

#include "base/Error.h"
#include "base/NumberText.h"
#include "base/ReadToEnd.h"
#include "cli/Commands.h"
#include "cli/FetchOptions.h"
#include "links/Divadiduv.h"

#include <cstdio>
#include <unistd.h>

namespace {

void printCrate(const CDivadiduv& c)
{
    std::printf("%d\t%d\t%d\t%d\t%d\t%d\t%s\t%d\t%d\t%s\n", c.wheel, c.sector, c.type, c.pid, c.ccbid,
                c.secondaryAddress, c.host.c_str(), c.pidPort, c.ccbidPort, c.proxy.c_str());
}

std::unique_ptr<CDivadiduvs> load(const std::string& location)
{
    if (location != "-")
        return LoadDivadiduvs(location);
    std::string text;
    if (!ReadToEnd(STDIN_FILENO, text))
        return nullptr;
    return ParseDivadiduvs(text.data(), text.size());
}

int runCatalogue(const CliArgs& args)
{
    if (!TakeDeadlineOption(args))
        return kExitUsage;
    const std::vector<std::string> position = args.Values("--find");
    int64_t where[3] = {};
    for (size_t i = 0; i < position.size(); ++i)
        if (!ParseStrictNumber(position[i], where[i]) || where[i] < INT32_MIN || where[i] > INT32_MAX)
            return UsageFail(kCatalogueCommand, "--find: '%s' is not a whole number", position[i].c_str());

    const std::string& location = args.Operands().front();
    auto catalogue = load(location);
    if (!catalogue)
        return Fail("%s: %s", ShownPath(location).c_str(), LastErrorLine("cannot load", GetLastErr()).c_str());
    if (position.empty()) {
        for (int i = 0; i < catalogue->GetSize(); ++i)
            printCrate(catalogue->GetAt(i));
        return kExitOk;
    }
    const int wheel = static_cast<int>(where[0]), sector = static_cast<int>(where[1]), type = static_cast<int>(where[2]);
    const int index = catalogue->Find(wheel, sector, type);
    if (index < 0)
        return Fail("%s: no crate at wheel %d, sector %d, type %d", ShownPath(location).c_str(), wheel, sector, type);
    std::printf("%d\t", index);
    printCrate(catalogue->GetAt(index));
    return kExitOk;
}

}  // namespace

const CliCommand kCatalogueCommand{
    .name = "catalogue",
    .operands = "LOCATION",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Lists the crates of a crate catalogue (a file, - for standard input, or an http(s) address).",
    .options =
        {
            {"--find", "WHEEL SECTOR TYPE", "print only the crate at this position, after its index", false, false, 3},
            kDeadlineOption,
        },
    .run = runCatalogue,
    .details = "Each crate prints as one line of TAB-separated fields: wheel, sector, type, PID, CCB ID,\n"
               "secondary address, host, PID port, CCB ID port, proxy.\n",
};
