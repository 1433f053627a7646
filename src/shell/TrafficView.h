#pragma once
// How a window that prints traffic records shows them: which directions,
// decoded with which file, with the time, and logged to which file; kept
// in the window's profile under "PrintRX", "PrintTX", "DecodeFile",
// "EnDecode", "EnTime", "EnLog" and "LogFile".
//
// Threads: a plain value; its owner's thread.

#include "shell/SettingsStore.h"

#include <string>

struct CTrafficView {
    static constexpr char kDefaultDecodeFile[] = "Cb_v126.dec";

    bool printRX = true;
    bool printTX = true;
    std::string decodeFile = kDefaultDecodeFile;
    bool enDecode = true;
    bool enTime = false;
    bool enLog = false;
    std::string logFile;

    // Values missing from the store keep what they are.
    void Read(CSettingsStore& store);
    void Write(CSettingsStore& store) const;

private:
    // Calls visit(key, field) for every setting, in the profile's order.
    template <class Self, class Visit>
    static void Each(Self& view, Visit&& visit)
    {
        visit("PrintRX", view.printRX);
        visit("PrintTX", view.printTX);
        visit("DecodeFile", view.decodeFile);
        visit("EnDecode", view.enDecode);
        visit("EnTime", view.enTime);
        visit("EnLog", view.enLog);
        visit("LogFile", view.logFile);
    }
};
