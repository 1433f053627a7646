#pragma once
// The command line of telvane-cli: one table per command names its options
// and operands, and both the parser and the help read it, so that the help
// always describes what is parsed. Options may be written "--opt value" or
// "--opt=value"; "--" ends the options; "-" is an operand (standard input
// where the command reads a file).
//
// Threads: the command's main thread only.

#include "base/StdOut.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Args = std::vector<std::string>;

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct CliOption {
    const char* name;            // "--timeout"
    const char* value = nullptr; // "MS"; nullptr for a switch
    const char* help = "";       // one line
    bool repeatable = false;
    bool required = false;
    int valueWords = 1;          // words the value takes ("--find WHEEL SECTOR TYPE")
};

class CliArgs;

struct CliCommand {
    const char* name;
    const char* operands = "";  // as the usage shows them: "FILE", "BYTES..."
    int minOperands = 0;
    int maxOperands = 0;        // -1: any number
    const char* summary = "";   // one line for the command list
    std::vector<CliOption> options = {};
    int (*run)(const CliArgs& args) = nullptr;
    const char* details = nullptr;     // more help after the options
    void (*moreHelp)(FILE* out) = nullptr;  // help made at run time (tables)
};

class CliArgs {
public:
    explicit CliArgs(const CliCommand& command) : m_command(&command) {}

    const CliCommand& Command() const { return *m_command; }
    bool Has(std::string_view option) const;
    // The value of an option given once; nullptr when it is not given.
    const std::string* Value(std::string_view option) const;
    // The value words of every time the option is given, in order.
    std::vector<std::string> Values(std::string_view option) const;
    const std::vector<std::string>& Operands() const { return m_operands; }

    // Splits the words after the command name; false with the reason.
    bool Parse(const Args& words, std::string& error);

private:
    const CliOption& Declared(std::string_view option) const;

    const CliCommand* m_command;
    std::vector<std::pair<const CliOption*, std::vector<std::string>>> m_given;
    std::vector<std::string> m_operands;
};

// "usage: telvane-cli NAME [--opt X]... OPERANDS"
std::string UsageLine(const CliCommand& command);
// The usage, the summary, one line per option and the details.
void PrintHelp(const CliCommand& command, FILE* out);

// "telvane-cli: " and the message on standard error (standard output is
// flushed first, so that the two keep their order). Returns kExitFailed.
int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for a usage error, followed by the command's usage line.
// Returns kExitUsage.
int UsageFail(const CliCommand& command, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The option's value as a whole number (decimal, or 0x hexadecimal) from
// low to high; `fallback` when it is not given. False with the usage error
// printed when it does not parse or is out of range.
bool OptionNumber(const CliArgs& args, const char* option, int64_t low, int64_t high, int64_t fallback,
                  int64_t& value);

// The file an operand names: "-" is standard input.
std::string InputPath(const std::string& operand);
// How messages name it: "standard input" for "-".
std::string ShownPath(const std::string& operand);

// Writes text to standard output with CR LF line ends made LF; the traffic
// and table texts of the engines end their lines CR LF, as their log files
// keep them.
void WriteOut(std::string_view text, FILE* out = stdout);

// Flushes standard output. The reason of a failure is kept, since later
// calls may no longer tell it.
void FlushOut();
// At the end of the command: flushes standard output; false with the
// reason when any of it did not reach its file.
bool OutputWritten(std::string& reason);

// A print target for engines that print CR LF lines, on a terminal or a
// pipe: LF line ends.
class CLfStdOut : public CStdOut {
public:
    explicit CLfStdOut(FILE* file) : m_file(file) {}
    int PrintV(const char* format, va_list args) override;

private:
    FILE* m_file;
};

// An error of the thread's last error on one line: "Open Error: ->10061
// Connection refused".
std::string LastErrorLine(const char* prefix, uint32_t code);
