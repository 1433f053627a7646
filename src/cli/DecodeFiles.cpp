#include "cli/DecodeFiles.h"

#include "cli/CommandLine.h"
#include "language/ExampleFiles.h"
#include "language/VaCompiler.h"

std::string DecodeFileError(const CVa_Compiler& compiler, const std::string& operand, const char* sharedCodesHint)
{
    const std::string& text = compiler.GetErrorText();
    if (text.rfind("Open File Error:", 0) == 0)
        return "Open File Error: " + ShownPath(operand);
    std::string message = ShownPath(operand) + ": " + text;
    if (sharedCodesHint && text.find("Duplicate structure code") != std::string::npos)
        message += std::string(" (") + sharedCodesHint + ")";
    return message;
}

bool CompileDecodeFile(CVa_Compiler& compiler, const std::string& operand, bool sharedCodes,
                       const char* sharedCodesHint)
{
    compiler.Clear();
    if (compiler.Compile(InputPath(FindExampleFile(operand)), sharedCodes))
        return true;
    Fail("%s", DecodeFileError(compiler, operand, sharedCodes ? nullptr : sharedCodesHint).c_str());
    return false;
}
