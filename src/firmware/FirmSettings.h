#pragma once
// What an update is told: the update window's settings, the application
// values it reads, the waits of the update steps, and the host that
// answers the questions a worker must ask the operator. The records are
// copied at start and only read by the update's threads; the host is called
// on them (see CFirmHost).

#include "base/Event.h"
#include "firmware/FirmCmd.h"

#include <cstdint>
#include <string>
#include <vector>

enum FirmType : int32_t { kFirmFlash = 1, kFirmRam = 2, kFirmFpgaFlash = 3 };

// The window's settings, under their profile keys.
struct _FIRMSETTINGS {
    int32_t getFirmwareFile = 0;       // "GetFirmwareFile": 0 Auto (web page), 1 Manual
    std::string firmwareFile;          // "FirmwareFile"
    std::vector<uint16_t> destinations;  // "Destinations"
    int32_t firmType = kFirmFlash;     // "FirmType"
    bool firmWrite = true;             // "FirmWrite"
    bool firmVerify = false;           // "FirmVerify"
    int32_t rdSecSize = 64;            // "RdSecSize": 64 or 128
    int32_t repeat = 3;                // "Repeat": 0 counts as 1
    bool mcReset = true;               // "MCReset"
    int32_t flashTrb = 0;              // "FlashTrb": 0 TRB6, 1 TRB7
    int32_t timeout = 10000;           // "Timeout" (ms)
    int32_t cmdTimeOut = 5000;         // "CmdTimeOut" (ms), kept only
};

// Application values read when a lookup or a mini-firmware load starts.
inline constexpr char kKeyHtmlPage[] = "HTML_Page";
inline constexpr char kKeyLinkRegExp[] = "HTML_LinkRegExp";
inline constexpr char kKeyLinkRegExpRam[] = "HTML_LinkRegExpRam";
inline constexpr char kKeyInstallDir[] = "InstallDir";

inline constexpr char kDefaultHtmlPage[] = "http://firmware.divadiduv.local/releases.html";
inline constexpr char kDefaultLinkRegExp[] =
    "^HC16[ \t]+Divadiduv[ \t]+Firmware[ \t]+V[ \t]*\\c[0-9]+\\c[.,]\\c[0-9]+\\c$";
inline constexpr char kDefaultLinkRegExpRam[] =
    "^Ram[ \t]+Version[ \t]+of[ \t]+the[ \t]+Firmware[ \t]+V[ \t]*\\c[0-9]+\\c[.,]\\c[0-9]+\\c$";
inline constexpr char kMiniRamFile[] = "Cb_mini_ram.s19";

// The waits of an update. The defaults are the crates' own; tests shorten them.
struct FirmTiming {
    int busyWaitMs = 10000;       // after a Reset for a busy status
    int statusBudgetMs = 10000;   // a status time-out waits this minus "Timeout"
    int scriptWaitMs = 15000;     // after the boot loader started the flash firmware
    int resetWaitMs = 10000;      // after a Reset, and after starting the mini firmware
    int lingerMs = 600;           // the coordinator's pause before the image row finishes
    int openWaitMs = 10000;       // a link still connecting in the background
    FirmReplyTimeouts replies;
};

// Answers for the engine from the application: its values and the
// operator. Called on the coordinator and worker threads.
class CFirmHost {
public:
    virtual ~CFirmHost() = default;
    // An application value, or fallback when it is not set.
    virtual std::string AppValue(const char* key, const std::string& fallback) = 0;
    virtual void SetAppValue(const char* key, const std::string& value) = 0;
    // Shows message and lets the operator choose a folder, starting at
    // startFolder. Blocks the calling worker until answered; an answer is
    // not awaited once abort is set. False: cancelled.
    virtual bool AskFolder(const std::string& message, const std::string& startFolder, CEvent& abort,
                           std::string& folder) = 0;
};
