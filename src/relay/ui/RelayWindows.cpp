#include "relay/ui/RelayWindows.h"

#include "relay/ui/ChildFrameServer.h"
#include "relay/ui/ChildFrameSpy.h"
#include "shell/StringTable.h"
#include "shell/ui/ToolWindows.h"

void RegisterRelayWindows(CToolWindowRegistry& registry)
{
    AddStrings({
        {CChildFrame_Spy::kViewGroup, "View Properties"},
        {CChildFrame_Spy::kPrintTX, "Print TX Data\nShow the commands sent by the watched link"},
        {CChildFrame_Spy::kPrintRX, "Print RX Data\nShow the replies received by the watched link"},
        {CChildFrame_Spy::kEnDecode, "Decode Data\nDecode replies with the decode file"},
        {CChildFrame_Spy::kDecodeFile, "Decode File\nThe decode file compiled for this window"},
        {CChildFrame_Spy::kEnTime, "Print Time\nPut the time in front of each command"},
        {CChildFrame_Spy::kEnLog, "Enable Log\nWrite the shown text to the log file too"},
        {CChildFrame_Spy::kLogFile, "Log File\nThe file the shown text is appended to"},
    });
    registry.Add(kCmdServer, "Server", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_Server(frame, name);
    });
    registry.Add(kCmdSpy, "Spy", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_Spy(frame, name);
    });
}
