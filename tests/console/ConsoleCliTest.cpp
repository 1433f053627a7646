// telvane-cli console, run as the program itself against the in-process
// simulator: scripts piped in, refused lines, the log file, Ctrl-C.

#include "links/PortMCSim.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <thread>

extern char** environ;

using namespace std::chrono_literals;

namespace {

const std::string kExamples = std::string(TELVANE_SOURCE_DIR) + "/examples/";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Standard output has LF line ends; the log keeps the traffic box's CR LF.
std::string withCrLf(const std::string& text)
{
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

struct PathCase {
    const char* name;
    int ioType;
};

const PathCase kPaths[] = {{"primary", CPortMC_All::kPrimary}, {"tcp", CPortMC_All::kTcp}};

// The replies of the simulated board, decoded by the example decode file.
const std::string kProtectOn =
    "RX->Data decoded code=0xFC\ncommand=ACK_PROTECT_FLASH\nresult=0\n\n"
    "WARNING invalid size: codesize=2 rxsize=1\n";

class ConsoleCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TelvaneCli().empty())
            GTEST_SKIP() << "telvane-cli not built";
        ASSERT_TRUE(sim.Start());
    }

    std::string LinkArgs(int ioType) const
    {
        if (ioType == CPortMC_All::kPrimary)
            return "--set ComName=" + sim.PrimaryBusPath();
        return "--set IOType=3 --set Host=127.0.0.1 --set Port=" + std::to_string(sim.CrateServerPort()) +
               " --set 'CCB ID=101'";
    }

    // Runs the console with `script` on standard input; standard error
    // goes to err.
    CommandResult Run(const std::string& script, const std::string& arguments, std::string& err)
    {
        const std::string errFile = dir.File("stderr");
        CommandResult r = RunCommand("printf '%s' " + quoted(script) + " | " + TelvaneCli() + " console " +
                                     arguments + " 2>" + errFile);
        err = readFile(errFile);
        return r;
    }

    std::string Decoding() const
    {
        return "--commands " + kExamples + "Cb_v126_cmd.dec --decode " + kExamples + "Cb_v126.dec";
    }

    CSimSystem sim{testCrates()};
    CTempDir dir;
};

class ConsoleCliPaths : public ConsoleCli, public ::testing::WithParamInterface<PathCase> {};

INSTANTIATE_TEST_SUITE_P(Paths, ConsoleCliPaths, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

TEST_P(ConsoleCliPaths, ScriptOfCommandsGivesTheTrafficLines)
{
    const std::string script =
        "# switch the TRB6 boards on\n"
        "ProtectFlash ON\n"
        "Power TRB6 ON\n"
        "\n"
        "OffLine ON --timeout 500\n"
        "raw ED 01";  // the last line needs no line end
    std::string err;
    CommandResult r = Run(script, LinkArgs(GetParam().ioType) + " " + Decoding(), err);
    EXPECT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.out, "TX->EC 00 ED 01 \n" + kProtectOn +
                         "TX->EC 01 2F 13 01 \n"
                         "RX->Data decoded code=0xFC\ncommand=ACK_POWER\nresult=1\n\n"
                         "TX->EC 02 0E 04 01 \n"
                         "RX->Data decoded code=0x0F04\noffline=1\n\n"
                         "TX->EC 03 ED 01 \n" +
                         kProtectOn);
    EXPECT_EQ(err, "Reading decode file " + kExamples + "Cb_v126.dec\nRead Success\n");
}

TEST_F(ConsoleCli, RefusedLinesAreReportedAndTheConsoleGoesOn)
{
    const std::string script =
        "Foo 1\n"
        "Power XYZ ON\n"
        "Power TRB6\n"
        "raw 2F 1\n"
        "ProtectFlash ON\n";
    std::string err;
    CommandResult r = Run(script, LinkArgs(CPortMC_All::kTcp) + " " + Decoding(), err);
    EXPECT_EQ(r.status, 1) << "a refused line fails the run";
    EXPECT_EQ(r.out, "TX->EC 00 ED 01 \n" + kProtectOn);
    EXPECT_NE(err.find("telvane-cli: line 1: unknown command 'Foo'\n"
                       "telvane-cli: line 2: Power: argument 1 (device): 'XYZ' is neither a number nor a "
                       "name of PowerDevice\n"
                       "telvane-cli: line 3: Power takes 2 arguments: device on\n"
                       "telvane-cli: line 4: raw: '1' is not a hexadecimal byte\n"),
              std::string::npos)
        << err;
}

TEST_F(ConsoleCli, RequestWithoutWaitReplyAndAMissingReply)
{
    sim.Board(101)->Faults().Set(SimFault::LostReply, 1);
    std::string err;
    CommandResult r = Run("raw EA --timeout 200\nraw ED 01 --nowait\n", LinkArgs(CPortMC_All::kPrimary), err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("TX->EC 00 EA \nTX->ED 01 \n", 0), 0u) << r.out;
    EXPECT_EQ(err, "telvane-cli: line 1: no reply within 200 ms\n");
}

TEST_F(ConsoleCli, LogFileHoldsWhatWasPrinted)
{
    const std::string log = dir.File("traffic.log");
    std::string err;
    CommandResult r = Run("ProtectFlash ON\nOffLine ON\n",
                          LinkArgs(CPortMC_All::kTcp) + " " + Decoding() + " --time --log " + log, err);
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_EQ(readFile(log), withCrLf(r.out));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^[0-9]{2}:[0-9]{2}:[0-9]{2} TX->EC 00 ED 01 \n"))) << r.out;

    r = Run("raw ED 01\n", LinkArgs(CPortMC_All::kTcp) + " --log " + log, err);
    ASSERT_EQ(r.status, 0) << err;
    EXPECT_EQ(r.out, "TX->EC 00 ED 01 \nRX->EC 00 FC ED \n") << "without a decode file replies print raw";
    const std::string logged = readFile(log);
    EXPECT_EQ(logged.substr(logged.size() - withCrLf(r.out).size()), withCrLf(r.out)) << "appended";
}

TEST_F(ConsoleCli, UsageHelpAndOpenFailure)
{
    CommandResult r = RunCommand(TelvaneCli() + " console --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: telvane-cli console [--set NAME=VALUE]...", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("raw BYTES..."), std::string::npos);

    EXPECT_EQ(RunCommand(TelvaneCli() + " console --bogus 2>/dev/null").status, 2);
    EXPECT_EQ(RunCommand(TelvaneCli() + " console --set =1 2>/dev/null").status, 2);

    std::string err;
    r = Run("raw EA\n", "--set ComName=/nonexistent/tty", err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(err.rfind("Open Error: ->2\n", 0), 0u) << err;

    r = Run("raw EA\n", "--set Colour=red", err);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(err.rfind("telvane-cli: unknown setting 'Colour' (telvane-cli settings crate lists them)\n", 0), 0u)
        << err;

    r = Run("raw EA\n", "--commands /nonexistent.dec", err);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(err, "telvane-cli: Open File Error: /nonexistent.dec\n");
}

TEST_F(ConsoleCli, InterruptAbortsTheReplyWaitAndClosesTheLink)
{
    sim.Board(101)->Faults().Set(SimFault::LostReply, 1);
    int input[2];
    ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
    const std::string out = dir.File("stdout"), err = dir.File("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string program = TelvaneCli();
    const std::string comName = "ComName=" + sim.PrimaryBusPath();
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("console"),
                            const_cast<char*>("--set"), const_cast<char*>(comName.c_str()), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    const char line[] = "raw EA --timeout 20000\nraw ED 01\nraw ED 00 --nowait\nraw ED 00\n";
    ASSERT_EQ(write(input[1], line, sizeof line - 1), static_cast<ssize_t>(sizeof line - 1));

    // Interrupted while it waits for the lost reply, with the next lines
    // queued and input still open.
    for (int i = 0; i < 100 && readFile(out).empty(); ++i)
        std::this_thread::sleep_for(20ms);
    kill(pid, SIGINT);
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(20ms);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(input[1]);
    ASSERT_EQ(done, pid) << "the console did not end on SIGINT";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(out), "TX->EC 00 EA \n") << "the lines queued behind are not sent";
    EXPECT_EQ(readFile(err), "telvane-cli: line 2: not sent\n"
                             "telvane-cli: line 4: not sent\n"
                             "telvane-cli: line 1: the reply wait was aborted\n");
}
