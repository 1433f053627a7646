#include "relay/ui/RelayWindows.h"

#include "relay/ui/ChildFrameServer.h"
#include "relay/ui/ChildFrameSpy.h"
#include "shell/StringTable.h"
#include "shell/ui/ToolWindows.h"

void RegisterRelayWindows(CToolWindowRegistry& registry)
{
    AddStrings({
        {kViewGroup, "View Properties"},
        {kViewPrintTX, "Print TX Data\nShow the commands sent by the watched link"},
        {kViewPrintRX, "Print RX Data\nShow the replies received by the watched link"},
        {kViewDecode, "Decode Data\nDecode replies with the decode file"},
        {kViewDecodeFile, "Decode File\nThe decode file compiled for this window"},
        {kViewTime, "Print Time\nPut the time in front of each command"},
        {kViewEnableLog, "Enable Log\nWrite the shown text to the log file too"},
        {kViewLogFile, "Log File\nThe file the shown text is appended to"},
    });
    registry.Add(kCmdServer, "Server", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_Server(frame, name);
    });
    registry.Add(kCmdSpy, "Spy", [](CMainFrameServices& frame, const std::string& name) {
        return new CChildFrame_Spy(frame, name);
    });
}
