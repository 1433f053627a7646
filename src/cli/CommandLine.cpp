#include "cli/CommandLine.h"

#include "base/Error.h"
#include "base/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <stdexcept>

namespace {

bool isOptionWord(const std::string& word)
{
    // "-" is standard input and "-5" a negative number, both operands.
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

std::string optionText(const CliOption& o)
{
    std::string text = o.name;
    if (o.value)
        text += std::string(" ") + o.value;
    return text;
}

void vprintError(const char* format, va_list args)
{
    FlushOut();
    std::fputs("telvane-cli: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

}  // namespace

const CliOption& CliArgs::Declared(std::string_view option) const
{
    for (const CliOption& o : m_command->options)
        if (option == o.name)
            return o;
    // A command asking for an option its table lacks is a fault of the
    // program, not of the command line.
    throw std::logic_error("option " + std::string(option) + " is not in the table of " + m_command->name);
}

bool CliArgs::Has(std::string_view option) const
{
    const CliOption* o = &Declared(option);
    return std::any_of(m_given.begin(), m_given.end(), [o](const auto& g) { return g.first == o; });
}

const std::string* CliArgs::Value(std::string_view option) const
{
    const CliOption* o = &Declared(option);
    for (const auto& [given, words] : m_given)
        if (given == o && !words.empty())
            return &words.front();
    return nullptr;
}

std::vector<std::string> CliArgs::Values(std::string_view option) const
{
    const CliOption* o = &Declared(option);
    std::vector<std::string> values;
    for (const auto& [given, words] : m_given)
        if (given == o)
            values.insert(values.end(), words.begin(), words.end());
    return values;
}

bool CliArgs::Parse(const Args& words, std::string& error)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || !isOptionWord(word)) {
            m_operands.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = word.find('=');
        const std::string name = word.substr(0, eq);
        const auto found = std::find_if(m_command->options.begin(), m_command->options.end(),
                                        [&name](const CliOption& o) { return name == o.name; });
        if (found == m_command->options.end()) {
            error = "unknown option '" + name + "'";
            return false;
        }
        const CliOption& option = *found;
        if (!option.repeatable && Has(option.name)) {
            error = "option " + name + " is given twice";
            return false;
        }
        std::vector<std::string> value;
        if (!option.value) {
            if (eq != std::string::npos) {
                error = "option " + name + " takes no value";
                return false;
            }
        } else {
            if (eq != std::string::npos)
                value.push_back(word.substr(eq + 1));
            while (value.size() < static_cast<size_t>(option.valueWords)) {
                if (++i == words.size()) {
                    error = "option " + name + " needs " + option.value;
                    return false;
                }
                value.push_back(words[i]);
            }
        }
        m_given.emplace_back(&option, std::move(value));
    }
    for (const CliOption& o : m_command->options)
        if (o.required && !Has(o.name)) {
            error = std::string("missing ") + optionText(o);
            return false;
        }
    const auto count = static_cast<int>(m_operands.size());
    if (count < m_command->minOperands) {
        error = std::string("missing ") + m_command->operands;
        return false;
    }
    if (m_command->maxOperands >= 0 && count > m_command->maxOperands) {
        error = "unexpected argument '" + m_operands[static_cast<size_t>(m_command->maxOperands)] + "'";
        return false;
    }
    return true;
}

std::string UsageLine(const CliCommand& command)
{
    std::string line = std::string("usage: telvane-cli ") + command.name;
    for (const CliOption& o : command.options) {
        const std::string text = optionText(o);
        line += o.required ? " " + text : " [" + text + "]";
        if (o.repeatable)
            line += "...";
    }
    if (*command.operands)
        line += std::string(" ") + command.operands;
    return line;
}

void PrintHelp(const CliCommand& command, FILE* out)
{
    std::fprintf(out, "%s\n\n%s\n", UsageLine(command).c_str(), command.summary);
    const CliOption help{"-h, --help", nullptr, "show this help and exit"};
    std::vector<const CliOption*> options;
    for (const CliOption& o : command.options)
        options.push_back(&o);
    options.push_back(&help);
    size_t width = 0;
    for (const CliOption* o : options)
        width = std::max(width, optionText(*o).size());
    std::fputs("\noptions:\n", out);
    for (const CliOption* o : options) {
        std::string help = o->help;
        if (o->repeatable)
            help += " (repeatable)";
        std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), optionText(*o).c_str(), help.c_str());
    }
    if (command.details)
        std::fprintf(out, "\n%s", command.details);
    if (command.moreHelp)
        command.moreHelp(out);
}

int Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintError(format, args);
    va_end(args);
    return kExitFailed;
}

int UsageFail(const CliCommand& command, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintError(format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", UsageLine(command).c_str());
    return kExitUsage;
}

bool OptionNumber(const CliArgs& args, const char* option, int64_t low, int64_t high, int64_t fallback,
                  int64_t& value)
{
    const std::string* text = args.Value(option);
    if (!text) {
        value = fallback;
        return true;
    }
    if (ParseStrictNumber(*text, value) && value >= low && value <= high)
        return true;
    UsageFail(args.Command(), "%s: '%s' is not a whole number from %lld to %lld", option, text->c_str(),
              static_cast<long long>(low), static_cast<long long>(high));
    return false;
}

namespace {
int s_outputErrno = 0;

void noteOutputError()
{
    if (!s_outputErrno)
        s_outputErrno = errno ? errno : EIO;
}
}  // namespace

void FlushOut()
{
    errno = 0;
    if (std::fflush(stdout) != 0)
        noteOutputError();
}

bool OutputWritten(std::string& reason)
{
    FlushOut();
    if (!s_outputErrno && !std::ferror(stdout))
        return true;
    reason = std::strerror(s_outputErrno ? s_outputErrno : EIO);
    return false;
}

std::string InputPath(const std::string& operand) { return operand == "-" ? "/dev/stdin" : operand; }

std::string ShownPath(const std::string& operand) { return operand == "-" ? "standard input" : operand; }

void WriteOut(std::string_view text, FILE* out)
{
    std::string lf;
    lf.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lf.push_back(text[i]);
    errno = 0;
    if (std::fwrite(lf.data(), 1, lf.size(), out) != lf.size() && out == stdout)
        noteOutputError();
}

int CLfStdOut::PrintV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0)
        return length;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.pop_back();
    WriteOut(text, m_file);
    return length;
}

std::string LastErrorLine(const char* prefix, uint32_t code)
{
    std::string text = formatErrorText(prefix, code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}
