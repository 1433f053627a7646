#pragma once
// The command file shared read-only by all command windows: its path, its
// compiled tables and the watch for changes on disk. Loading and polling
// run on the GUI thread; both only read the file, without waiting.

#include "language/VaCompiler.h"

#include <ctime>
#include <string>

class CStdOut;

constexpr const char* kDefaultCommandFile = "Cb_v126_cmd.dec";
constexpr const char* kRawCommandName = "     RAW COMMAND";

// The full path of a relative path that names an existing file, or else of
// the example file of that name (FindExampleFile); the path unchanged
// otherwise.
std::string AbsoluteIfFound(const std::string& path);

class CCommandFile {
public:
    const std::string& Path() const { return m_path; }
    void SetPath(const std::string& path) { m_path = path; }

    // Resets the tables, prints "Loading Commands file: %s\r\n", compiles
    // (the tables dumped to out when debug is on) and prints "Read Commands
    // Success\r\n" or the compiler's message. On success the file's
    // modification time is kept and the watch starts; on failure the
    // tables are empty and the watch stops.
    bool Load(CStdOut& out, bool debug = false);
    bool IsLoaded() const { return m_loaded; }
    const CVa_Compiler& Tables() const { return m_compiler; }

    // The watch, polled once a second: true once when the file's
    // modification time differs from the time at load; the watch then
    // stops until the next load.
    bool PollModified();
    bool IsWatching() const { return m_watching; }
    void StopWatching() { m_watching = false; }

private:
    std::string m_path;
    CVa_Compiler m_compiler;
    bool m_loaded = false;
    bool m_watching = false;
    timespec m_modTime{};
};

// The names offered by a command list: "     RAW COMMAND" first, then the
// command names in the order of a case-insensitive sort.
std::vector<std::string> CommandListNames(const CVa_Compiler* tables);
// The index of the first name that starts with prefix, ignoring case; -1
// when none does.
int FindCommandByPrefix(const std::vector<std::string>& names, const std::string& prefix);
