// `cmake --install` of this build into a temporary prefix, and the installed
// programs run from there, in a folder with no decode files of its own.

#include "install/CliHelp.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_prefix = std::make_unique<CTempDir>();
        s_work = std::make_unique<CTempDir>();
        s_install = RunCommand(std::string(TELVANE_CMAKE) + " --install " + ShellQuoted(TELVANE_BINARY_DIR) +
                               " --prefix " + ShellQuoted(s_prefix->Path()) + " 2>&1");
    }
    static void TearDownTestSuite()
    {
        s_work.reset();
        s_prefix.reset();
    }
    void SetUp() override { ASSERT_EQ(s_install.status, 0) << s_install.out; }

    static std::string Path(const std::string& relative) { return s_prefix->Path() + "/" + relative; }
    static std::string Program(const std::string& name) { return Path("bin/" + name); }
    // A command line run in the empty work folder, with no display.
    static CommandResult Run(const std::string& commandLine)
    {
        return RunCommand("cd " + ShellQuoted(s_work->Path()) +
                          " && env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 " + commandLine);
    }

    static std::unique_ptr<CTempDir> s_prefix;
    static std::unique_ptr<CTempDir> s_work;
    static CommandResult s_install;
};
std::unique_ptr<CTempDir> Installed::s_prefix;
std::unique_ptr<CTempDir> Installed::s_work;
CommandResult Installed::s_install;

TEST_F(Installed, HoldsEachFileInItsPlaceAndNothingElse)
{
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(s_prefix->Path()))
        if (!entry.is_directory())
            found.insert(fs::relative(entry.path(), s_prefix->Path()).string());
    const std::vector<std::string> files = InstalledFiles();
    EXPECT_EQ(found, std::set<std::string>(files.begin(), files.end()));

    for (const std::string& program : InstalledPrograms())
        EXPECT_EQ(access(Program(program).c_str(), X_OK), 0) << program;
    EXPECT_EQ(ReadFile(Path("share/telvane/examples/Cb_v126.dec")),
              ReadFile(std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec"));
}

TEST_F(Installed, EachProgramAnswersHelpWithoutADisplay)
{
    struct Case {
        std::string program;
        std::string arguments;
        std::optional<int> status;  // none: any, as long as the program ends by itself
        std::string begins;
    };
    std::vector<Case> cases = {
        {"telvane-cli", "--help", 0, "usage: telvane-cli COMMAND"},
        {"telvane-sim", "--help", 0, "usage: telvane-sim [OPTIONS]"},
        {"brenlock", "--help", 0, "USE: BRENLOCK "},
    };
    if (TELVANE_WITH_UI) {
        // Qt's xcb platform with no display would end the program before it answers.
        cases.push_back({"telvane", "--help", 0, "usage: telvane [--settings FILE]"});
        cases.push_back({"telvane", "--version", 0, std::string("Telvane, Version ") + TELVANE_VERSION + ".0.0\n"});
    }
    for (const Case& c : cases) {
        const CommandResult r = Run("env QT_QPA_PLATFORM=xcb " + Program(c.program) + " " + c.arguments + " 2>&1");
        if (c.status)
            EXPECT_EQ(r.status, *c.status) << c.program << " " << c.arguments << "\n" << r.out;
        else
            EXPECT_GE(r.status, 0) << c.program << " did not end by itself\n" << r.out;
        EXPECT_EQ(r.out.rfind(c.begins, 0), 0u) << c.program << " " << c.arguments << "\n" << r.out;
    }
}

TEST_F(Installed, CliWorksOnTheInstalledExamples)
{
    const std::string examples = Path("share/telvane/examples/");
    struct Case {
        std::string arguments;
        std::string expected;
    };
    const Case cases[] = {
        {"decode " + examples + "Cb_v126.dec --code 0xBE61 --bytes '00 00 00 37 30 16'",
         "status=0x0000\nflash_id=0x373016\n"},
        {"encode " + examples + "Cb_v126_cmd.dec --command Power TRB6 ON", "2F 13 01\n"},
        {"decode " + examples + "Cb_v126_cmd.dec --shared-codes", ""},
    };
    for (const Case& c : cases) {
        CommandResult r = Run(Program("telvane-cli") + " " + c.arguments);
        EXPECT_EQ(r.status, 0) << c.arguments;
        r.out.erase(std::remove(r.out.begin(), r.out.end(), '\r'), r.out.end());
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.arguments << "\n" << r.out;
    }
}

// The desktop program starts on the offscreen platform, stays up for a
// second, and ends on SIGTERM rather than by a crash of its own.
TEST_F(Installed, DesktopProgramStartsAndStaysUp)
{
    if (!TELVANE_WITH_UI)
        GTEST_SKIP() << "built without the desktop program";
    const CTempDir home;
    const std::string log = home.File("stderr.txt");
    const std::string program = Program("telvane");
    const std::string settings = home.File("Telvane.ini");
    const std::string commands = Path("share/telvane/examples/Cb_v126_cmd.dec");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        if (chdir(s_work->Path().c_str()) != 0)
            _exit(126);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HOME", home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
        execl(program.c_str(), program.c_str(), "--settings", settings.c_str(), "--command-file", commands.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    pid_t ended = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (ended == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ended = waitpid(pid, &status, WNOHANG);
    }
    EXPECT_EQ(ended, 0) << "telvane ended within a second, status " << status << "\n" << ReadFile(log);
    if (ended == 0) {
        kill(pid, SIGTERM);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << "status " << status << "\n" << ReadFile(log);
    }
}

TEST_F(Installed, DesktopEntryIsValidAndNamesTheInstalledProgramAndIcon)
{
    if (!TELVANE_WITH_UI)
        GTEST_SKIP() << "built without the desktop program";
    const std::string entry = Path("share/applications/telvane.desktop");
    const CommandResult check = Run("desktop-file-validate " + entry + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_EQ(check.out, "");

    const std::string text = ReadFile(entry);
    std::smatch exec, icon;
    ASSERT_TRUE(std::regex_search(text, exec, std::regex("\nExec=([^ \n]+)")));
    ASSERT_TRUE(std::regex_search(text, icon, std::regex("\nIcon=([^\n]+)")));
    EXPECT_EQ(access(Program(exec[1]).c_str(), X_OK), 0) << exec[1];
    const std::string svg = ReadFile(Path("share/icons/hicolor/scalable/apps/" + icon[1].str() + ".svg"));
    EXPECT_NE(svg.find("<svg"), std::string::npos) << icon[1];
    EXPECT_NE(svg.find("viewBox="), std::string::npos) << "a scalable icon needs its view box";
}

// Each man page formats without a warning and names every option that the
// program's help names.
TEST_F(Installed, ManPagesFormatCleanlyAndCoverTheOptions)
{
    for (const std::string& program : InstalledPrograms()) {
        const std::string page = Path("share/man/man1/" + program + ".1");
        const CommandResult warnings = Run("env MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=all -l " + page +
                                           " 2>&1 >/dev/null");
        EXPECT_EQ(warnings.status, 0) << program;
        EXPECT_EQ(warnings.out, "") << program;

        // Unhyphenated, so that no option is split at a line end.
        const CommandResult shown =
            Run("env MANWIDTH=200 MANROFFOPT=-rHY=0 LC_ALL=C.UTF-8 man -l " + page + " 2>/dev/null");
        EXPECT_NE(shown.out.find("NAME"), std::string::npos) << program;
        // brenlock's options are /s, /d, ...: the flags of its usage text.
        const CommandResult help = Run(Program(program) + " --help 2>&1");
        std::set<std::string> wanted;
        if (program == "brenlock") {
            static const std::regex flag("/[a-z](?![A-Za-z])");
            for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), flag); it != std::sregex_iterator();
                 ++it)
                wanted.insert(it->str());
        } else {
            wanted = OptionWordsOf(help.out);
        }
        if (program == "telvane-cli")
            for (const auto& [command, options] : CliHelpCommands(Program(program)))
                wanted.insert(options.begin(), options.end());
        EXPECT_FALSE(wanted.empty()) << program;
        for (const std::string& option : wanted)
            EXPECT_NE(shown.out.find(option), std::string::npos) << program << ".1 lacks " << option;
    }
}

}  // namespace
