// The guide against the program it describes: every ```console block of
// README.md and docs/*.md that starts with "$ telvane-cli ..." shows that
// command's standard output byte for byte, and docs/telvane-cli.md gives
// each command's usage line as the command's own help prints it.
// scripts/update-docs rewrites the blocks from the program.

#include "install/InstallLayout.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <regex>

namespace {

const std::string kCliFolder = std::string(TELVANE_BINARY_DIR) + "/src/cli";

std::vector<std::string> GuidePages()
{
    std::vector<std::string> pages = {std::string(TELVANE_SOURCE_DIR) + "/README.md"};
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TELVANE_SOURCE_DIR) + "/docs"))
        if (entry.path().extension() == ".md")
            pages.push_back(entry.path().string());
    std::sort(pages.begin(), pages.end());
    return pages;
}

struct ShownOutput {
    std::string commandLine;  // after "$ "
    std::string output;
};

// The ```console blocks of a page that start with "$ telvane-cli ".
std::vector<ShownOutput> ShownOutputs(const std::string& text)
{
    static const std::string open = "```console\n$ ", close = "```\n";
    std::vector<ShownOutput> shown;
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        const size_t line = at + open.size();
        const size_t lineEnd = text.find('\n', line);
        const size_t end = lineEnd == std::string::npos ? lineEnd : text.find("\n" + close, lineEnd);
        if (end == std::string::npos)
            break;
        const std::string commandLine = text.substr(line, lineEnd - line);
        if (commandLine.rfind("telvane-cli ", 0) == 0)
            shown.push_back({commandLine, end > lineEnd ? text.substr(lineEnd + 1, end - lineEnd) : std::string()});
        at = end;
    }
    return shown;
}

TEST(Docs, ShownOutputIsWhatTelvaneCliPrints)
{
    const CTempDir empty;
    size_t blocks = 0;
    for (const std::string& page : GuidePages()) {
        for (const ShownOutput& shown : ShownOutputs(ReadFile(page))) {
            ++blocks;
            const CommandResult r = RunCommand("cd " + ShellQuoted(empty.Path()) + " && PATH=" +
                                               ShellQuoted(kCliFolder) + ":\"$PATH\" sh -c " +
                                               ShellQuoted(shown.commandLine));
            EXPECT_EQ(r.out, shown.output) << std::filesystem::path(page).filename().string() << ": $ "
                                           << shown.commandLine
                                           << "\n(scripts/update-docs rewrites the block from the program)";
        }
    }
    // The link settings page is made of such blocks.
    EXPECT_GE(blocks, 2u);
}

TEST(Docs, CliReferenceGivesEachCommandsUsageLine)
{
    const std::string reference = ReadFile(std::string(TELVANE_SOURCE_DIR) + "/docs/telvane-cli.md");
    const std::string cli = kCliFolder + "/telvane-cli";
    const CommandResult list = RunCommand(cli + " --help");
    static const std::regex entry("\n  ([a-z]+)  ");
    int commands = 0;
    for (auto it = std::sregex_iterator(list.out.begin(), list.out.end(), entry); it != std::sregex_iterator(); ++it) {
        ++commands;
        const CommandResult help = RunCommand(cli + " " + (*it)[1].str() + " --help");
        const std::string usage = help.out.substr(0, help.out.find('\n'));
        ASSERT_EQ(usage.rfind("usage: ", 0), 0u) << usage;
        EXPECT_NE(reference.find("\n    " + usage.substr(7) + "\n"), std::string::npos)
            << "docs/telvane-cli.md lacks the usage line\n    " << usage.substr(7);
    }
    EXPECT_GT(commands, 0);
}

}  // namespace
