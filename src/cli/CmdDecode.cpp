// telvane-cli decode: compiles a decode file; dumps its tables or decodes
// one reply with them.

#include "cli/Commands.h"

#include "base/NumberText.h"
#include "base/StdOut.h"
#include "language/VaCompiler.h"

#include <cstdio>
#include <sstream>
#include <vector>

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hexadecimal pairs separated by blanks ("F4 08 00 00"); false on anything else.
static bool parseHexBytes(const std::string& text, std::vector<uint8_t>& bytes)
{
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        if (token.size() % 2)
            return false;
        for (size_t i = 0; i < token.size(); i += 2) {
            int high = hexDigit(token[i]);
            int low = hexDigit(token[i + 1]);
            if (high < 0 || low < 0)
                return false;
            bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        }
    }
    return true;
}

int runDecode(const Args& args)
{
    std::string file;
    std::string codeText;
    std::string bytesText;
    bool haveCode = false;
    bool haveBytes = false;
    bool sharedCodes = false;
    bool dump = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--shared-codes") {
            sharedCodes = true;
        } else if (a == "--dump") {
            dump = true;
        } else if (a == "--code" && i + 1 < args.size()) {
            codeText = args[++i];
            haveCode = true;
        } else if (a == "--bytes" && i + 1 < args.size()) {
            bytesText = args[++i];
            haveBytes = true;
        } else if (file.empty() && !a.empty() && a[0] != '-') {
            file = a;
        } else {
            return usageError(runDecode);
        }
    }
    std::vector<uint8_t> bytes;
    if (file.empty() || haveCode != haveBytes)
        return usageError(runDecode);
    if (haveBytes && !parseHexBytes(bytesText, bytes)) {
        std::fprintf(stderr, "telvane-cli decode: --bytes takes hexadecimal pairs separated by blanks\n");
        return usageError(runDecode);
    }

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
    if (!haveCode)
        return 0;

    int32_t code = ParseNumberText(codeText);
    const CStructList& structs = compiler.Structs();
    if (!structs.Exists(code)) {
        std::fprintf(stderr, "telvane-cli decode: no structure with code 0x%02X in %s\n", static_cast<unsigned>(code),
                     file.c_str());
        return 1;
    }
    // Missing bytes decode as zeros, as the traffic box fills them.
    std::string text = structs.DecodeText(code, bytes.data(), bytes.size());
    std::fwrite(text.data(), 1, text.size(), stdout);
    int size = structs.SizeOf(code);
    if (static_cast<size_t>(size) != bytes.size())
        std::printf("WARNING invalid size: codesize=%d rxsize=%d\r\n", size, static_cast<int>(bytes.size()));
    return 0;
}
