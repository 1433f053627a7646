#include "accesstool/Brenlock.h"

#include "accesstool/AccessScan.h"
#include "accesstool/Capabilities.h"
#include "accesstool/MyParam.h"
#include "accesstool/Volume.h"

#include <string_view>

namespace {
// Asking for the usage text alone is not a bad command line.
bool AsksForHelp(int argc, const char* const argv[])
{
    if (argc != 2)
        return false;
    const std::string_view arg = argv[1];
    return arg == "--help" || arg == "-h" || arg == "/?";
}
} // namespace

int RunBrenlock(int argc, const char* const argv[], CToolOutput& out)
{
    if (AsksForHelp(argc, argv)) {
        out.Usage();
        return brenlock::Done;
    }
    CMyParam params;
    params.Parse(argc, argv);
    if (params.invalid) {
        out.InvalidParam(params.invalidText);
        out.Usage();
        return brenlock::Usage;
    }
    if (params.positionalCount < 3) {
        out.Usage();
        return brenlock::Usage;
    }
    // Changing the ACL of an object one does not own takes CAP_FOWNER.
    if (!EnableCapability(CAP_FOWNER)) {
        out.FailEnable("CAP_FOWNER");
        return brenlock::Failed;
    }
    if (!VolumeSupportsAcls(SplitPattern(params.pathPattern).folder)) {
        out.VolumeUnsupported();
        return brenlock::Failed;
    }
    CAccessScan scan(params, out);
    return scan.Run() ? brenlock::Done : brenlock::Failed;
}
