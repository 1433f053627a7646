#pragma once
// Temporary files that must not outlive a program ended by SIGINT or
// SIGTERM: a download in progress, a catalogue copy waiting to be parsed.
//
// Threads: any thread may create and destroy guards at any time; the
// signal handler reads the register without locks and only deletes what is
// registered when the signal arrives. A guard does not delete its file when
// destroyed: its owner does, as before.

#include <string>

class CTempFileGuard {
public:
    // Registers the path. When all places are taken (more temporary files
    // than any program here keeps at once) the file is left unregistered.
    explicit CTempFileGuard(const std::string& path);
    ~CTempFileGuard();
    CTempFileGuard(const CTempFileGuard&) = delete;
    CTempFileGuard& operator=(const CTempFileGuard&) = delete;

private:
    int m_slot = -1;
};

// Installs handlers for SIGINT and SIGTERM that delete every registered
// file and then end the program by the same signal, as without them.
// Called once at program start; false with the last error when the system
// refuses.
bool RemoveTempFilesOnTermination();
