#pragma once
// The self-update: the update page names the updater program; it is
// downloaded into the install folder and then started. The download runs
// on a worker thread of its own, which touches only its own strings, the
// network and the updater file; the window polls its progress and is told
// the end through a callback on the worker thread (hand it to the GUI
// thread with a queued call). Abort stops the download within one chunk.

#include "base/Event.h"
#include "shell/Abortable.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

constexpr const char* kProgramName = "Telvane";
constexpr const char* kUpdaterName = "Pevrolt";
constexpr const char* kDefaultUpdatePage = "https://localhost/telvane/update.html";

using ProgramVersion = std::array<int, 4>;
// The four parts of this build's version.
ProgramVersion ThisProgramVersion();
// "Telvane, Version %d.%d.%d.%d"
std::string AboutText(const ProgramVersion& version);

std::string ProgramFile(const std::string& installDir);
std::string UpdaterFile(const std::string& installDir);
// The updater's arguments: program name, version, update page, install
// folder without trailing slashes.
std::vector<std::string> UpdaterArguments(const ProgramVersion& version, const std::string& page,
                                          const std::string& installDir);
// The same as one line, "%s %d.%d.%d.%d %s \"%s\"".
std::string UpdaterArgumentText(const ProgramVersion& version, const std::string& page,
                                 const std::string& installDir);
// The page address up to its last '/' followed by href; an href that is
// itself an address (it has a scheme) or starts with '/' is resolved as
// such instead of being glued to the page's folder.
std::string DownloadAddress(const std::string& pageUrl, const std::string& href);
bool IsSecureUrl(const std::string& url);

class CSelfUpdate : public CAbortable {
public:
    // allowInsecure: the operator agreed to download from a plain http
    // address; without it only https addresses are downloaded.
    CSelfUpdate(std::string pageUrl, std::string installDir, bool allowInsecure);
    ~CSelfUpdate() override;

    void Start(std::function<void()> finished);

    std::string WorkerName() const override { return "Update Telvane"; }
    bool IsFinished() const override { return m_finished; }
    void Abort() override { m_abort.Set(); }

    // Bytes of the updater so far and in all (0 while unknown).
    int64_t Transferred() const { return m_transferred; }
    int64_t Total() const { return m_total; }

    // Valid once finished: true when the updater is ready to start; the
    // error text otherwise.
    bool Succeeded() const { return m_ok; }
    const std::string& ErrorText() const { return m_error; }
    const std::string& UpdaterPath() const { return m_updater; }

private:
    void run();
    static uint32_t progress(int64_t total, int64_t transferred, int64_t, int64_t, uint32_t, uint32_t,
                             const char*, const char*, void* data);

    std::string m_page;
    std::string m_installDir;
    std::string m_updater;
    bool m_allowInsecure;
    CEvent m_abort{true, false};
    std::atomic<bool> m_finished{false};
    std::atomic<int64_t> m_transferred{0};
    std::atomic<int64_t> m_total{0};
    bool m_ok = false;
    std::string m_error;
    std::function<void()> m_onFinished;
    std::thread m_thread;
};
