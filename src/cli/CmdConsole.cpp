// telvane-cli console: the connection engine in a terminal. Reads commands
// line by line from standard input, sends them over the crate link and
// prints the traffic exactly as the traffic box does.

#include "cli/Commands.h"

#include "base/Error.h"
#include "cli/DecodeFiles.h"
#include "cli/LinkSettings.h"
#include "console/ConnectionEngine.h"
#include "console/ConsoleLine.h"
#include "language/VaCompiler.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kOpenWaitMs = 10000;
constexpr int kPollMs = 1000;
constexpr int kAbortRepeatMs = 100;
constexpr int kBatchMs = 10;

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

// Flushed by the session once the records waiting are printed. The log
// file, written by the box itself, keeps the CR LF line ends.
class StdoutSink : public CTextSink {
public:
    void Append(std::string_view text) override { WriteOut(text); }
};

// Reads standard input line by line and queues each request as soon as
// the send queue has room, so that a script runs at the pace of the link;
// the engine still sends one request at a time and waits for its reply.
// This one thread also prints the traffic box's records and reports the
// replies, in the order of the lines, so nothing it waits for can wait on
// it in turn.
class ConsoleSession {
public:
    ConsoleSession(CConnectionEngine& engine, const CStructList* commands, CEvent& interrupt)
        : m_engine(engine), m_commands(commands), m_interrupt(interrupt)
    {
    }

    // Until end of input or an interrupt; true when every line went well.
    bool Run()
    {
        using Clock = std::chrono::steady_clock;
        auto nextTick = Clock::now() + std::chrono::milliseconds(kPollMs);
        for (;;) {
            queueLines();
            printOutput();
            if (finished())
                return m_allGood && !m_interrupted;

            // While replies are due, each wakes the loop, which prints the
            // records that came before it in one batch and queues the next
            // lines. Otherwise the records and the queue's room wake it.
            const bool repliesDue = !m_awaited.empty();
            std::vector<CWaitItem> items{CWaitItem::Of(m_replies.DataEvent())};
            if (!repliesDue)
                items.push_back(CWaitItem::Of(m_engine.Box().Queue().DataEvent()));
            int stdinItem = -1;
            if (!m_interrupted)
                items.push_back(CWaitItem::Of(m_interrupt));
            if (hasLine()) {
                if (!repliesDue)
                    items.push_back(CWaitItem::Of(m_engine.QueueSpaceEvent()));
            } else if (!m_endOfInput) {
                stdinItem = static_cast<int>(items.size());
                items.push_back(CWaitItem::Fd(STDIN_FILENO, POLLIN));
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now()).count();
            int waitMs = m_interrupted ? kAbortRepeatMs : static_cast<int>(std::max<int64_t>(left, 0));
            // Records that come without a reply (requests without Wait
            // Reply, frames the crate sends by itself) must not fill the
            // box while the loop sleeps.
            if (repliesDue)
                waitMs = std::min(waitMs, kBatchMs);
            const int woken = WaitForAny(items, waitMs);
            if (m_interrupt.IsSet() && !m_interrupted)
                interrupt();
            if (m_interrupted)
                m_engine.AbortWait();  // again: the request may have started after the last one
            if (woken >= 0 && woken == stdinItem)
                readInput();
            if (Clock::now() >= nextTick) {
                m_engine.QueryCommandState();
                m_engine.PollLink();
                nextTick = Clock::now() + std::chrono::milliseconds(kPollMs);
            }
        }
    }

private:
    // A reply writer that never blocks the engine: room for every request
    // that can be queued or in flight.
    static constexpr size_t kReplySlots = CConnectionEngine::kSendQueueSlots + 2;

    struct Awaited {
        int line;
        uint32_t timeoutMs;
    };

    void fail(int line, const std::string& message)
    {
        FlushOut();
        std::fprintf(stderr, "telvane-cli: line %d: %s\n", line, message.c_str());
        m_allGood = false;
    }

    bool hasLine() const
    {
        return !m_interrupted && (m_input.find('\n') != std::string::npos || (m_endOfInput && !m_input.empty()));
    }

    void readInput()
    {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0)
            m_input.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            m_endOfInput = true;
    }

    void queueLines()
    {
        while (hasLine() && !m_engine.IsQueueFull()) {
            const size_t end = m_input.find('\n');
            const std::string text = m_input.substr(0, end);
            m_input.erase(0, end == std::string::npos ? std::string::npos : end + 1);
            queueLine(++m_lineNumber, text);
        }
    }

    void queueLine(int line, const std::string& text)
    {
        ConsoleLine parsed;
        std::string error;
        if (!ParseConsoleLine(text, m_commands, SendProperties{}, parsed, error))
            return fail(line, error);
        if (parsed.empty)
            return;
        if (!m_engine.IsOpen())
            return fail(line, "the link is not open");
        const bool await = parsed.request.waitReply != 0;
        if (await)
            m_awaited.push_back({line, static_cast<uint32_t>(parsed.request.status)});
        if (!m_engine.Queue(await ? &m_replyWriter : nullptr, parsed.request)) {
            if (await)
                m_awaited.pop_back();
            fail(line, "the request was not queued");
        }
    }

    void printOutput()
    {
        m_engine.Box().Drain();
        _MCDATA replies[kReplySlots];
        const size_t n = m_replies.TryRead(replies, std::min(std::size(replies), m_awaited.size()));
        for (size_t i = 0; i < n; ++i) {
            const Awaited a = m_awaited.front();
            m_awaited.pop_front();
            report(a, replies[i].status);
        }
        FlushOut();
    }

    void report(const Awaited& a, int32_t status)
    {
        switch (status) {
        case _MCDATA::kGood: return;
        case _MCDATA::kReadTimeout: return fail(a.line, "no reply: the read timed out");
        case _MCDATA::kReplyTimeout: return fail(a.line, "no reply within " + std::to_string(a.timeoutMs) + " ms");
        case _MCDATA::kReplyAborted: return fail(a.line, "the reply wait was aborted");
        default: return fail(a.line, "no reply: the read failed");
        }
    }

    void interrupt()
    {
        m_interrupted = true;
        // The newest lines are the ones still queued.
        std::vector<Awaited> unsent;
        for (const _TXDATA& request : m_engine.DropQueued()) {
            if (request.data.waitReply) {
                unsent.insert(unsent.begin(), m_awaited.back());
                m_awaited.pop_back();
            }
        }
        m_engine.AbortWait();
        for (const Awaited& a : unsent)
            fail(a.line, "not sent");
    }

    bool finished()
    {
        if (!m_interrupted && (!m_endOfInput || hasLine()))
            return false;
        return m_awaited.empty() && m_engine.WaitUntilSent(0) && m_engine.Box().Queue().IsEmpty();
    }

    CConnectionEngine& m_engine;
    const CStructList* m_commands;
    CEvent& m_interrupt;
    CFifo<_MCDATA> m_replies{kReplySlots};
    CFifoWr<_MCDATA> m_replyWriter{m_replies};
    std::deque<Awaited> m_awaited;
    std::string m_input;
    int m_lineNumber = 0;
    bool m_endOfInput = false;
    bool m_interrupted = false;
    bool m_allGood = true;
};

// The engine prints the open error among its events; the message names
// where the link goes.
bool openLink(CConnectionEngine& engine)
{
    const std::string place = LinkPlace(engine.Link());
    if (!engine.Connect()) {
        Fail("%s: the link did not open", place.c_str());
        return false;
    }
    if (!engine.Link().WaitUntilOpen(kOpenWaitMs)) {
        Fail("%s: %s", place.c_str(), LastErrorLine("Open Error:", GetLastErr()).c_str());
        engine.Disconnect();
        return false;
    }
    return true;
}

int runConsole(const CliArgs& args)
{
    std::vector<LinkSetting> settings;
    if (!ParseLinkSettings(args, settings))
        return kExitUsage;
    const std::string* commandFile = args.Value("--commands");
    const std::string* decodeFile = args.Value("--decode");
    const std::string* logFile = args.Value("--log");

    CVa_Compiler commandTables;
    if (commandFile && !CompileDecodeFile(commandTables, *commandFile, true))
        return kExitFailed;

    CLfStdOut events(stderr);
    StdoutSink sink;
    CEvent interrupt;
    auto engine = std::make_unique<CConnectionEngine>(events);
    CTrafficBox& box = engine->Box();
    box.SetSink(&sink);
    box.SetEnTime(args.Has("--time"));
    if (logFile) {
        box.SetLogFile(*logFile);
        box.SetEnLog(true);
    }
    if (decodeFile)
        engine->LoadDecodeFile(*decodeFile);
    else
        box.SetEnDecode(false);

    if (!ApplyLinkSettings(kConsoleCommand, "crate", engine->Link(), settings))
        return kExitUsage;
    if (!openLink(*engine))
        return kExitFailed;
    InterruptGuard guard(interrupt);
    auto session = std::make_unique<ConsoleSession>(*engine, commandFile ? &commandTables.Structs() : nullptr,
                                                    interrupt);
    const bool good = session->Run();
    // Frames still arriving are printed while the link closes.
    box.Queue().Notifier().SetCallback([&box](void*) { box.Drain(); }, nullptr);
    engine->Disconnect();
    box.Queue().Notifier().Stop();
    box.Drain();
    FlushOut();
    // The engine goes first: its threads may still hold the session's reply writer.
    engine.reset();
    return good ? kExitOk : kExitFailed;
}

}  // namespace

const CliCommand kConsoleCommand{
    .name = "console",
    .summary = "Opens a crate link and sends one request per line of standard input.",
    .options =
        {
            {"--set", "NAME=VALUE", "a crate-link setting (telvane-cli settings crate lists them)", true},
            {"--commands", "FILE", "the command file whose commands the lines name"},
            {"--decode", "FILE", "the decode file for the replies (none: replies print as bytes)"},
            {"--log", "FILE", "also append the traffic to FILE, as the traffic box logs it"},
            {"--time", nullptr, "start sent lines with the time"},
        },
    .run = runConsole,
    .details =
        "Lines of standard input:\n"
        "  NAME ARG...    a command of the command file, e.g. Power TRB6 ON\n"
        "  raw BYTES...   hexadecimal bytes as they are, e.g. raw 2F 13 01\n"
        "Each line may add --wait or --nowait (Wait Reply, on by default) and --timeout MS\n"
        "(1000 by default); text in double quotes is one argument; blank lines and lines\n"
        "starting with # are skipped. Arguments are checked against the command's fields:\n"
        "a line with a word that is no enum name or number, or a value too wide, is refused.\n"
        "Requests go out one at a time in the order of the lines, each with Wait Reply after\n"
        "the reply to the one before. The traffic goes to standard output; messages, refused\n"
        "lines and missing replies (\"line N: ...\") to standard error. End of input closes the\n"
        "link once every request is answered; Ctrl-C drops the requests not sent yet, ends the\n"
        "reply wait and closes it. Exit status 0 when every line was sent and every awaited\n"
        "reply came, 1 otherwise, 2 for a usage error.\n",
};
