#include "console/ConnectionPane.h"

#include "links/PortMC_All.h"

namespace {

enum : int32_t {
    kParity = CPortIO_Com::kParity,
    kPriBridge = CPortMC_Pri::kBridge,
    kPriDestId = CPortMC_Pri::kDestId,
    kSecCcbId = CPortMC_Sec::kCcbId,
    kHost = CPortIO_Socket::kHost,
    kPort = CPortIO_Socket::kPort,
    kProxy = CPortIO_Socket::kProxy,
    kProxyPort = CPortIO_Socket::kProxyPort,
    kProxyType = CPortIO_Socket::kProxyType,
    kEnProxy = CPortIO_Socket::kEnProxy,
};

}  // namespace

_PARAMSTATE LinkParameterState(int32_t id, bool linkFree, const std::function<int32_t(int32_t)>& valueOf,
                               _PARAMSTATE current)
{
    const int32_t mode = valueOf(CPortMC_Tcp::kCcbIdMode);
    const bool mcList = mode == CPortMC_Tcp::kMcListMode;
    const bool manual = mode == CPortMC_Tcp::kManual;
    switch (id) {
    case kParity: return {false, true};
    case kPriBridge:
    case kSecCcbId: return {true, true};
    case kPriDestId: return {valueOf(kPriBridge) != 0, true};
    case kHost:
    case kPort: return {linkFree, !mcList};
    case kProxy:
    case kProxyPort:
    case kProxyType: return {linkFree && valueOf(kEnProxy) != 0, true};
    case CPortMC_Tcp::kMcList:
    case CPortMC_Tcp::kPortType:
    case CPortMC_Tcp::kWheel: return {linkFree, !manual};
    case CPortMC_Tcp::kCcbId: return {current.editable, !mcList};
    case CPortMC_Tcp::kSector:
    case CPortMC_Tcp::kMcType: return {current.editable, !manual};
    case CPortMC_Tcp::kBridge: {
        const bool applies = manual || valueOf(CPortMC_Tcp::kPortType) == CPortMC_Tcp::kPrimary;
        return {applies, applies};
    }
    case CPortMC_Tcp::kDestId: return {valueOf(CPortMC_Tcp::kBridge) != 0, !mcList};
    case CPortMC_Tcp::kDestMc:
        return {valueOf(CPortMC_Tcp::kBridge) != 0,
                mcList && valueOf(CPortMC_Tcp::kPortType) == CPortMC_Tcp::kPrimary};
    default: return {linkFree, current.shown};
    }
}

std::vector<std::pair<std::string, int32_t>> SectorOptions(int32_t portType)
{
    std::vector<std::pair<std::string, int32_t>> options;
    // The blanks are part of the names: the bridged sectors line up.
    static const char* const kBridgedHigh[] = {"S7  bridge", "S8  bridge", "S9  bridge",
                                               "S10 bridge", "S11 bridge", "S12 bridge"};
    switch (portType) {
    case CPortMC_Tcp::kPrimary:
        for (int32_t s = 1; s <= 12; ++s)
            options.emplace_back("S" + std::to_string(s), s);
        break;
    case CPortMC_Tcp::kSecondaryLow:
        for (int32_t s = 1; s <= 6; ++s)
            options.emplace_back("S" + std::to_string(s), s);
        for (int32_t s = 7; s <= 12; ++s)
            options.emplace_back(kBridgedHigh[s - 7], s);
        break;
    case CPortMC_Tcp::kSecondaryHigh:
        for (int32_t s = 1; s <= 6; ++s)
            options.emplace_back("S" + std::to_string(s) + " bridge", s);
        for (int32_t s = 7; s <= 12; ++s)
            options.emplace_back("S" + std::to_string(s), s);
        break;
    default: break;
    }
    return options;
}
