// telvane-cli console: the connection engine in a terminal. Reads commands
// line by line from standard input, sends them over the crate link and
// prints the traffic exactly as the traffic box does.

#include "cli/Commands.h"

#include "base/Error.h"
#include "cli/LinkSettings.h"
#include "console/ConnectionEngine.h"
#include "console/ConsoleLine.h"
#include "language/VaCompiler.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kOpenWaitMs = 10000;
constexpr int kPollMs = 1000;
constexpr int kAbortRepeatMs = 100;

const char kHelp[] =
    "Opens a crate link and sends one request per line of standard input:\n"
    "  NAME ARG...    a command of the command file (--commands), e.g. Power TRB6 ON\n"
    "  raw HEX...     bytes as they are, e.g. raw 2F 13 01\n"
    "Each line may add --wait or --nowait (Wait Reply, on by default) and\n"
    "--timeout MS (1000 by default); text in double quotes is one argument;\n"
    "blank lines and lines starting with # are skipped. A line with Wait Reply\n"
    "is answered before the next line is read. The traffic goes to standard\n"
    "output, messages and refused lines to standard error. End of input or\n"
    "Ctrl-C closes the link. Exit status 0 when every line was sent and every\n"
    "awaited reply came, 1 otherwise, 2 for a usage error.\n"
    "  --set NAME=VALUE  a link setting by its properties-pane name (IOType,\n"
    "                    ComName, Host, Port, CCB ID, ...); repeatable\n"
    "  --commands FILE   the command file\n"
    "  --decode FILE     the decode file for the replies (none: not decoded)\n"
    "  --log FILE        also append the traffic to FILE\n"
    "  --time            start sent lines with the time\n";

CEvent* s_interrupt = nullptr;

void onInterrupt(int)
{
    if (s_interrupt)
        s_interrupt->Set();
}

// SIGINT and SIGTERM set the event while this lives.
class InterruptGuard {
public:
    explicit InterruptGuard(CEvent& event)
    {
        s_interrupt = &event;
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &m_oldInt);
        sigaction(SIGTERM, &sa, &m_oldTerm);
    }
    ~InterruptGuard()
    {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        s_interrupt = nullptr;
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

class StdoutSink : public CTextSink {
public:
    void Append(std::string_view text) override
    {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
};

struct Options {
    std::vector<LinkSetting> settings;
    std::string commandFile;
    std::string decodeFile;
    std::string logFile;
    bool time = false;
};

bool parseOptions(const Args& args, Options& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--set" && hasValue) {
            LinkSetting s;
            if (!parseLinkSetting(args[++i], s))
                return false;
            o.settings.push_back(s);
        } else if (a == "--commands" && hasValue) {
            o.commandFile = args[++i];
        } else if (a == "--decode" && hasValue) {
            o.decodeFile = args[++i];
        } else if (a == "--log" && hasValue) {
            o.logFile = args[++i];
        } else if (a == "--time") {
            o.time = true;
        } else {
            return false;
        }
    }
    return true;
}

// Reads standard input line by line, sends each line and waits for the
// replies it asks for; runs the one-second link poll in between.
class ConsoleSession {
public:
    ConsoleSession(CConnectionEngine& engine, const CStructList* commands, CEvent& interrupt)
        : m_engine(engine), m_commands(commands), m_interrupt(interrupt)
    {
    }

    // Until end of input or an interrupt; true when every line went well.
    bool Run()
    {
        char buffer[4096];
        std::string pending;
        for (;;) {
            const int woken = WaitForAny({CWaitItem::Of(m_interrupt), CWaitItem::Fd(STDIN_FILENO, POLLIN)}, kPollMs);
            if (woken == 0)
                break;
            if (woken != 1) {
                tick();
                continue;
            }
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (!pending.empty())
                    handleLine(pending);
                break;
            }
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
                handleLine(pending.substr(0, end));
                pending.erase(0, end + 1);
                if (m_interrupt.IsSet())
                    return false;
            }
        }
        return m_allGood && !m_interrupt.IsSet();
    }

private:
    void fail(const std::string& message)
    {
        std::fprintf(stderr, "telvane-cli console: %s\n", message.c_str());
        m_allGood = false;
    }

    void tick()
    {
        m_engine.QueryCommandState();
        m_engine.PollLink();
    }

    void handleLine(const std::string& line)
    {
        ConsoleLine parsed;
        std::string error;
        if (!ParseConsoleLine(line, m_commands, SendProperties{}, parsed, error))
            return fail(error);
        if (parsed.empty)
            return;
        if (!m_engine.IsOpen())
            return fail("the link is not open");
        const bool await = parsed.request.waitReply != 0;
        if (!m_engine.Queue(await ? &m_replies.writer : nullptr, parsed.request))
            return fail("the request was not queued");
        if (await)
            awaitReply(parsed.request.status);
    }

    void awaitReply(int timeoutMs)
    {
        _MCDATA reply;
        bool interrupted = false;
        while (!m_replies.fifo.TryRead(reply)) {
            const int woken = WaitForAny({CWaitItem::Of(m_replies.fifo.DataEvent()), CWaitItem::Of(m_interrupt)},
                                         interrupted ? kAbortRepeatMs : kPollMs);
            if (woken == 1 || interrupted) {
                // Again until it ends: the request may still wait in the queue.
                interrupted = true;
                m_engine.AbortWait();
            } else if (woken != 0) {
                tick();
            }
        }
        switch (reply.status) {
        case _MCDATA::kGood: return;
        case _MCDATA::kReadTimeout: return fail("no reply: the read timed out");
        case _MCDATA::kReplyTimeout: return fail("no reply within " + std::to_string(timeoutMs) + " ms");
        case _MCDATA::kReplyAborted: return fail("the reply wait was aborted");
        default: return fail("no reply: the read failed");
        }
    }

    struct Replies {
        CFifo<_MCDATA> fifo{3};
        CFifoWr<_MCDATA> writer{fifo};
    };

    CConnectionEngine& m_engine;
    const CStructList* m_commands;
    CEvent& m_interrupt;
    Replies m_replies;
    bool m_allGood = true;
};

int openLink(CConnectionEngine& engine)
{
    if (!engine.Connect())
        return 1;
    if (!engine.Link().WaitUntilOpen(kOpenWaitMs)) {
        std::fputs(formatErrorText("Open Error:", GetLastErr()).c_str(), stderr);
        engine.Disconnect();
        return 1;
    }
    return 0;
}

}  // namespace

int runConsole(const Args& args)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        for (const auto& c : kCliCommands)
            if (c.run == runConsole)
                std::printf("usage: telvane-cli %s\n\n", c.usage);
        std::fputs(kHelp, stdout);
        return 0;
    }
    Options options;
    if (!parseOptions(args, options))
        return usageError(runConsole);

    CVa_Compiler commandTables;
    if (!options.commandFile.empty()) {
        commandTables.Clear();
        if (!commandTables.Compile(options.commandFile, true)) {
            std::fprintf(stderr, "telvane-cli console: %s\n", commandTables.GetErrorText().c_str());
            return 1;
        }
    }

    CStdOutFile events(stderr);
    StdoutSink sink;
    CEvent interrupt;
    auto engine = std::make_unique<CConnectionEngine>(events);
    CTrafficBox& box = engine->Box();
    box.SetSink(&sink);
    box.SetEnTime(options.time);
    if (!options.logFile.empty()) {
        box.SetLogFile(options.logFile);
        box.SetEnLog(true);
    }
    if (!options.decodeFile.empty())
        engine->LoadDecodeFile(options.decodeFile);
    else
        box.SetEnDecode(false);
    box.Queue().Notifier().SetCallback([&box](void*) { box.Drain(); }, nullptr);

    if (!applyLinkSettings(engine->Link(), options.settings, "console"))
        return 1;
    int status = openLink(*engine);
    if (status == 0) {
        InterruptGuard guard(interrupt);
        ConsoleSession session(*engine, options.commandFile.empty() ? nullptr : &commandTables.Structs(), interrupt);
        const bool good = session.Run();
        engine->WaitUntilSent(kInfinite);
        engine->Disconnect();
        status = good ? 0 : 1;
    }
    box.Queue().Notifier().Stop();
    box.Drain();
    engine.reset();
    return status;
}
