// telvane-cli decode: compiles a decode file, optionally dumps its tables.

#include "cli/Commands.h"

#include "base/StdOut.h"
#include "language/VaCompiler.h"

#include <cstdio>
#include <cstring>

static int decodeUsage()
{
    for (const auto& c : kCliCommands) {
        if (std::strcmp(c.name, "decode") == 0)
            return usageError(c);
    }
    return 2;
}

int runDecode(const Args& args)
{
    std::string file;
    bool sharedCodes = false;
    bool dump = false;
    for (const auto& a : args) {
        if (a == "--shared-codes")
            sharedCodes = true;
        else if (a == "--dump")
            dump = true;
        else if (file.empty() && !a.empty() && a[0] != '-')
            file = a;
        else
            return decodeUsage();
    }
    if (file.empty())
        return decodeUsage();

    CStdOutFile out(stdout);
    CVa_Compiler compiler;
    compiler.SetDump(dump, &out);
    compiler.Clear();
    int ok = compiler.Compile(file, sharedCodes);
    std::fflush(stdout);
    if (!ok) {
        std::fprintf(stderr, "%s\n", compiler.GetErrorText().c_str());
        return 1;
    }
    return 0;
}
