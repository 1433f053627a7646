// telvane-cli decode: compiles a decode file; dumps its tables or decodes
// one reply with them.

#include "cli/Commands.h"

#include "base/ByteText.h"
#include "base/NumberText.h"
#include "cli/DecodeFiles.h"
#include "language/VaCompiler.h"

#include <cstdio>
#include <vector>

namespace {

int runDecode(const CliArgs& args)
{
    const std::string& file = args.Operands().front();
    std::vector<std::string> byteWords = args.Values("--bytes");
    byteWords.insert(byteWords.end(), args.Operands().begin() + 1, args.Operands().end());
    const std::string* codeText = args.Value("--code");
    if (!codeText && !byteWords.empty())
        return UsageFail(kDecodeCommand, "bytes to decode need --code");
    std::vector<uint8_t> bytes;
    std::string bad;
    if (!ParseByteWords(byteWords, bytes, bad))
        return UsageFail(kDecodeCommand, "'%s' is not a hexadecimal byte", bad.c_str());
    int64_t code = 0;
    if (codeText && !ParseStrictNumber(*codeText, code))
        return UsageFail(kDecodeCommand, "--code: '%s' is not a number", codeText->c_str());

    CLfStdOut out(stdout);
    CVa_Compiler compiler;
    compiler.SetDump(args.Has("--dump"), &out);
    if (!CompileDecodeFile(compiler, file, args.Has("--shared-codes"), "a command file: add --shared-codes"))
        return kExitFailed;
    if (!codeText)
        return kExitOk;

    const CStructList& structs = compiler.Structs();
    if (!structs.Exists(static_cast<int32_t>(code)))
        return Fail("%s: no structure with code %s", ShownPath(file).c_str(), codeText->c_str());
    // Missing bytes decode as zeros, as the traffic box fills them.
    WriteOut(structs.DecodeText(static_cast<int32_t>(code), bytes.data(), bytes.size()));
    const int size = structs.SizeOf(static_cast<int32_t>(code));
    if (static_cast<size_t>(size) != bytes.size())
        std::printf("WARNING invalid size: codesize=%d rxsize=%d\n", size, static_cast<int>(bytes.size()));
    return kExitOk;
}

}  // namespace

const CliCommand kDecodeCommand{
    .name = "decode",
    .operands = "FILE [BYTES...]",
    .minOperands = 1,
    .maxOperands = -1,
    .summary = "Compiles a decode file (- for standard input); dumps its tables or decodes one reply.",
    .options =
        {
            {"--shared-codes", nullptr, "let structures share a code, as command files do"},
            {"--dump", nullptr, "print the compiled tables"},
            {"--code", "CODE", "the code of the reply to decode (decimal or 0x hexadecimal)"},
            {"--bytes", "BYTES", "the reply's bytes after the code, hexadecimal (\"F4 08 00 00\")", true},
        },
    .run = runDecode,
    .details = "Bytes may also follow FILE as arguments. Exit status 0 when the file compiles (and the\n"
               "code exists), 1 otherwise, 2 for a usage error.\n",
};
