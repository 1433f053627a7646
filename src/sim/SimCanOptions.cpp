#include "sim/SimCanOptions.h"

#include "base/NumberText.h"

#include <string>

const char kSimCanUsage[] =
    "  --node-controller CCBID[:NODE]  the crate board CCBID is a node controller with CAN nodes\n"
    "                       0 to 9, sitting on node NODE (default 3)\n"
    "  --gateway-port N     CAN gateway port (default 0: any free port)\n"
    "  --gateway-ccbid CCBID  the node controller whose nodes the gateway reaches (default the first)\n"
    "  --no-gateway         leave the CAN gateway out\n";

int ParseSimCanOption(int argc, char** argv, int& i, SimCanConfig& config)
{
    const std::string a = argv[i];
    if (a == "--no-gateway") {
        config.gateway = false;
        return 1;
    }
    if (a != "--node-controller" && a != "--gateway-port" && a != "--gateway-ccbid")
        return 0;
    if (i + 1 >= argc)
        return -1;
    const std::string v = argv[++i];
    const int number = ParseNumberText(v);
    if (a == "--gateway-port") {
        if (number < 0 || number > 0xFFFF)
            return -1;
        config.gatewayPort = static_cast<uint16_t>(number);
        return 1;
    }
    if (number <= 0 || number > 0xFFFF)
        return -1;
    if (a == "--gateway-ccbid") {
        config.gatewayCcbid = static_cast<uint16_t>(number);
        return 1;
    }
    SimNodeControllerSpec controller;
    controller.ccbid = static_cast<uint16_t>(number);
    const size_t colon = v.find(':');
    if (colon != std::string::npos) {
        const int node = ParseNumberText(v.substr(colon + 1));
        if (node < 0 || node > 9)
            return -1;
        controller.connectionNode = static_cast<uint8_t>(node);
    }
    config.controllers.push_back(controller);
    return 1;
}

void PrintSimCanListening(CSimCanSystem& can, FILE* out)
{
    if (can.GatewayPort())
        std::fprintf(out, "can-gateway %s:%u\n", can.Config().address.c_str(), can.GatewayPort());
    for (const auto& c : can.Config().controllers)
        std::fprintf(out, "node-controller ccbid %u connection-node %u\n", c.ccbid, c.connectionNode);
}
