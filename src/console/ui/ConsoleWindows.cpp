#include "console/ui/ConsoleWindows.h"

#include "console/ui/ChildFrame_MC.h"
#include "console/ui/CommandWnd.h"
#include "console/ui/ConsoleIds.h"
#include "shell/StringTable.h"
#include "shell/ui/ToolWindows.h"

void RegisterConsoleStrings()
{
    AddStrings({
        {kStrConnectionProperties, "Connection Properties\nThe crate link of this window"},
        {kStrPrintTX, "Print TX Data\nShow the frames written to the link"},
        {kStrViewProperties, "View Properties\nHow the traffic is shown"},
        {kStrPrintRX, "Print RX Data\nShow the frames read from the link"},
        {kStrDecodeData, "Decode Data\nDecode the replies with the decode file"},
        {kStrDecodeFile, "Decode File\nThe decode file of the replies"},
        {kStrPrintTime, "Print Time\nStart every sent frame with the time"},
        {kStrEnableLog, "Enable Log\nAlso write the traffic to the log file"},
        {kStrLogFile, "Log File\nThe file the traffic is written to"},
        {kStrSendProperties, "Send Properties\nHow and where the command is sent"},
        {kStrCmdTimeout, "Cmd Timeout (ms)\nHow long to wait for the reply"},
        {kStrWaitReply, "Wait Reply\nWait for the reply before the next command"},
        {kStrRepetitiveProperties, "Repetitive Properties\nRepetitive sending"},
        {kStrRepetitiveTime, "Time (ms)\nThe period of repetitive sending"},
        {kStrActiveWindow, "Active Window\nThe tool window the command goes to"},
        {kStrBufferData, "Buffer Data\nThe bytes of the raw command"},
        {kStrRawData, "Data\nUse 0x for hex value"},
    });
}

void RegisterConsoleWindows(CToolWindowRegistry& registry)
{
    RegisterConsoleStrings();
    registry.Add(kCmdNewConnection, "&New", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_MC(frame, name);
    });
    registry.SetCommandWindowMaker(
        [](CMainFrameServices& frame, int id, QWidget* parent) { return new CCommandWnd(frame, id, parent); });
}
