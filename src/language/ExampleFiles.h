#pragma once
// Finds the example decode files ("Cb_v126.dec", "Cb_v126_cmd.dec") the
// programs start with, wherever the programs are run from.
//
// Threads: plain function; it only examines files.

#include <string>

// The path itself when it names an existing file. Otherwise, for a relative
// path, the file of the same name in the examples next to the program
// (<program folder>/examples), then, for a program of the build tree, in
// the source tree's examples, then in the installed examples
// (<program folder>/../share/telvane/examples). The path unchanged when
// none exists, so that the error names what was asked for.
std::string FindExampleFile(const std::string& path);
