#pragma once
// Numbers of the connection and command windows: their strings (property
// names and descriptions, "Name\nDescription"), toolbar commands and
// timers. RegisterConsoleStrings adds the texts to the string table once.

enum ConsoleStringId : int {
    // Connection window
    kStrConnectionProperties = 1412,
    kStrPrintTX = 1413,
    kStrViewProperties = 1414,
    kStrPrintRX = 1415,
    kStrDecodeData = 1416,
    kStrDecodeFile = 1417,
    kStrPrintTime = 1418,
    kStrEnableLog = 1419,
    kStrLogFile = 1420,
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
