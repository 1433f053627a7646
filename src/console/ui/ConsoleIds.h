#pragma once
// Numbers of the connection and command windows: their strings (property
// names and descriptions, "Name\nDescription"), toolbar commands and
// timers. RegisterConsoleStrings adds the texts to the string table once.

#include "shell/ui/TrafficViewPane.h"

enum ConsoleStringId : int {
    // Connection window
    kStrConnectionProperties = 1412,
    kStrPrintTX = kViewPrintTX,
    kStrViewProperties = kViewGroup,
    kStrPrintRX = kViewPrintRX,
    kStrDecodeData = kViewDecode,
    kStrDecodeFile = kViewDecodeFile,
    kStrPrintTime = kViewTime,
    kStrEnableLog = kViewEnableLog,
    kStrLogFile = kViewLogFile,
    // Command window
    kStrSendProperties = 1325,
    kStrCmdTimeout = 1326,
    kStrWaitReply = 1327,
    kStrRepetitiveProperties = 1328,
    kStrRepetitiveTime = 1329,
    kStrActiveWindow = 1330,
    kStrArguments = 1331,
    kStrBufferData = 1899,
    kStrRawData = 1900,
};

// Connection window toolbar commands in the properties pane.
enum : int { kCmdConnect = 190, kCmdDisconnect = 191 };

// Command window toolbar commands; the repetition timer has the id of its command.
enum : int {
    kCmdSendCommand = 32782,
    kCmdRepetitiveSend = 32781,
    kCmdStop = 32783,
    kCmdUseGlobal = 32784,
    kCmdSortArguments = 151,
    kCmdExpandAll = 154,
};

void RegisterConsoleStrings();
