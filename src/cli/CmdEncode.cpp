// telvane-cli encode: the request bytes a command of the command file sends.

#include "cli/Commands.h"

#include "language/VaCompiler.h"

#include <cstdio>
#include <vector>

int runEncode(const Args& args)
{
    if (args.size() < 3 || args[0].empty() || args[0][0] == '-' || args[1] != "--command")
        return usageError(runEncode);
    const std::string& file = args[0];
    const std::string& name = args[2];
    const std::vector<std::string> texts(args.begin() + 3, args.end());

    CVa_Compiler compiler;
    compiler.Clear();
    if (!compiler.Compile(file, true)) {
        std::fprintf(stderr, "%s\n", compiler.GetErrorText().c_str());
        return 1;
    }
    const CStructData* command = nullptr;
    for (const auto& s : compiler.Structs()) {
        if (s.Name() == name) {
            command = &s;
            break;
        }
    }
    if (!command) {
        std::fprintf(stderr, "telvane-cli encode: unknown command %s in %s\n", name.c_str(), file.c_str());
        return 1;
    }
    if (texts.size() > static_cast<size_t>(command->FieldCount())) {
        std::fprintf(stderr, "telvane-cli encode: %s takes %d arguments\n", name.c_str(), command->FieldCount());
        return 2;
    }

    // The code's non-zero bytes, most significant first; a code of 0 is one
    // zero byte. Then the arguments in a zeroed buffer of the command's size.
    std::vector<uint8_t> request;
    auto code = static_cast<uint32_t>(command->Code());
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (uint8_t b = static_cast<uint8_t>(code >> shift))
            request.push_back(b);
    }
    if (request.empty())
        request.push_back(0);
    std::vector<uint8_t> data(static_cast<size_t>(command->Size()), 0);
    command->Encode(texts, data.data(), data.size());
    request.insert(request.end(), data.begin(), data.end());

    for (size_t i = 0; i < request.size(); ++i)
        std::printf(i ? " %02X" : "%02X", request[i]);
    std::printf("\n");
    return 0;
}
