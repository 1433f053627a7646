#pragma once
// Decode files as the commands compile them: "-" reads standard input, a
// relative name that is not found is looked for among the example files
// (FindExampleFile), and a failure names the file.
//
// Threads: the command's main thread.

#include <string>

class CVa_Compiler;

// The compiler's message naming the file: "FILE: Line 3 :Syntax Error"
// ("Open File Error: FILE" names it already). A duplicate code in a file
// compiled without shared codes adds the hint `sharedCodesHint` when given.
std::string DecodeFileError(const CVa_Compiler& compiler, const std::string& operand,
                            const char* sharedCodesHint = nullptr);

// Clears and compiles; false with "telvane-cli: " and the message above on
// standard error.
bool CompileDecodeFile(CVa_Compiler& compiler, const std::string& operand, bool sharedCodes,
                       const char* sharedCodesHint = nullptr);
