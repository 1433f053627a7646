// telvane-cli encode: the request bytes a command of the command file sends.

#include "cli/Commands.h"

#include "cli/DecodeFiles.h"
#include "language/ArgumentCheck.h"
#include "language/VaCompiler.h"

#include <cstdio>
#include <vector>

namespace {

int runEncode(const CliArgs& args)
{
    const std::string& file = args.Operands().front();
    const std::string& name = *args.Value("--command");
    const std::vector<std::string> texts(args.Operands().begin() + 1, args.Operands().end());

    CVa_Compiler compiler;
    if (!CompileDecodeFile(compiler, file, true))
        return kExitFailed;
    const CStructData* command = FindCommandNamed(compiler.Structs(), name);
    if (!command)
        return UsageFail(kEncodeCommand, "%s: no command %s", ShownPath(file).c_str(), name.c_str());
    std::string error;
    if (!CheckArguments(*command, texts, error))
        return UsageFail(kEncodeCommand, "%s", error.c_str());

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
    return kExitOk;
}

}  // namespace

const CliCommand kEncodeCommand{
    .name = "encode",
    .operands = "FILE [ARG...]",
    .minOperands = 1,
    .maxOperands = -1,
    .summary = "Prints the request bytes of a command of a command file (- for standard input).",
    .options =
        {
            {"--command", "NAME", "the command's name in the file", false, true},
        },
    .run = runEncode,
    .details = "One ARG per field of the command: an item name of the field's enum or a whole number\n"
               "(decimal or 0x hexadecimal) that fits the field; array fields take values separated by\n"
               "\",\" or \";\". Anything else is refused (exit status 2) rather than sent as 0.\n",
};
