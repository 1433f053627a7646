#include "nodes/NodeGrid.h"

#include <cstdio>
#include <span>

const std::array<const char*, kNodeGridRows> kNodeGridLabels = {
    "TX Can ErrCnt",    "RX Can ErrCnt",   "Can Err Code",     "Rs Err Code",      "Ack Time",
    "Ack Time1",        "Rs Err Cnt",      "CAN_ERR_HDOVFL",   "CAN_ERR_TXOVFL",   "CAN_ERR_SW",
    "CAN_ERR_CMDOVFL",  "CAN_ERR_LOCACKRX", "CAN_ERR_TX",      "CAN_ERR_ACKOVFL",  "CAN_ERR_RXPORT",
    "CAN_ERR_DBLRX",    "CAN_ERR_DBLRX1",  "CAN_ERR_ACKRX",    "CAN_ERR_ACKRX1",   "CAN_ERR_ACKRX2",
    "CAN_ERR_NFRAME",   "CAN_ERR_TX2RPT",  "RS_OERR",          "RS_FERR",          "RS_BOERR",
    "RS_SYNCERR",       "RS_SFTERR",       "RS_TOERR",         "RS_CRCERR",        "RS_CMDOVFL",
    "RS_BOERR1",        "",                "V left",           "V right",          "RS485 N",
    "RS485 P",          "Board Current",   "Vcc A",            "Vcc B",            "Dest",
    "Temperature",      "Threshold",       "Laser",            "Latchup left",     "Latchup right",
    "Firmware Version",
};

namespace {

// Row offsets of the counters by node kind.
constexpr int kCanMapInner[] = {0, 3, 6, 7, 2, 5, 8, 9, 10, 11, 12, 13, 14};
constexpr int kCanMapEdge[] = {0, 1, 2, 3, 4, 5};
constexpr int kRsMapInner[] = {0, 1, 2, 6, 3, 8, 5};
constexpr int kRsMapNode8[] = {0, 1, 2, 6, 3};
constexpr int kRsMapEdge[] = {0, 1, 2, 3, 4, 5, 6, 7};

// Analog value i goes to row kAnalogRows[i]; the values are shown as read.
constexpr int kAnalogRows[] = {kRowVLeft, kRowVRight, kRowBoardCurrent, kRowVccA};

bool edgeNode(int node) { return node == 0 || node == 9; }

int mapped(std::span<const int> map, int base, size_t counter)
{
    return counter < map.size() ? base + map[counter] : 0;
}

std::string format(const char* f, unsigned a, unsigned b = 0)
{
    char text[32];
    std::snprintf(text, sizeof text, f, a, b);
    return text;
}

}  // namespace

NodeCellColour CounterColour(unsigned value)
{
    if (value == 0)
        return NodeCellColour::White;
    return value < 128 ? NodeCellColour::Yellow : NodeCellColour::Red;
}

uint32_t NodeCellBgr(NodeCellColour colour)
{
    switch (colour) {
    case NodeCellColour::Yellow: return 0x00FFFF;
    case NodeCellColour::Red: return 0x0000FF;
    default: return 0xFFFFFF;
    }
}

int CanCounterRow(int node, size_t counter)
{
    return edgeNode(node) ? mapped(kCanMapEdge, kRowCanCounters, counter) : mapped(kCanMapInner, kRowCanCounters, counter);
}

int RsCounterRow(int node, size_t counter)
{
    if (edgeNode(node))
        return mapped(kRsMapEdge, kRowRsCounters, counter);
    return node == 8 ? mapped(kRsMapNode8, kRowRsCounters, counter) : mapped(kRsMapInner, kRowRsCounters, counter);
}

NodeGrid BuildNodeGrid(const NodeMonitorData& data)
{
    NodeGrid grid;
    for (int n = 0; n < kNodeCount; ++n) {
        const NodeData& d = data.nodes[static_cast<size_t>(n)];
        auto cell = [&grid, n](int row) -> NodeGridCell& { return grid[static_cast<size_t>(row - 1)][static_cast<size_t>(n)]; };
        if (d.error.valid) {
            for (int i = 0; i < 4; ++i)
                cell(kRowTxCanErrCnt + i).text = format("%d", d.error.code[static_cast<size_t>(i)]);
            cell(kRowAckTime).text = format("%d", d.error.timeA);
            cell(kRowAckTime1).text = format("%d", d.error.timeB);
        }
        if (d.counters.valid) {
            auto put = [&cell](int row, unsigned value) {
                if (row == 0)
                    return;
                cell(row) = {format("%d", value), CounterColour(value)};
            };
            for (size_t i = 0; i < d.counters.can.size(); ++i)
                put(CanCounterRow(n, i), d.counters.can[i]);
            for (size_t i = 0; i < d.counters.rs485.size(); ++i)
                put(RsCounterRow(n, i), d.counters.rs485[i]);
        }
        for (size_t i = 0; i < std::size(kAnalogRows); ++i)
            if (d.analog.mask & (1u << i))
                cell(kAnalogRows[i]).text = format("%u", d.analog.value[i]);
        if (d.destination.valid)
            cell(kRowDest).text = format("0x%04X", d.destination.value);
        if (d.dac.valid) {
            cell(kRowThreshold).text = format("%u", d.dac.threshold);
            cell(kRowLaser).text = format("%u", d.dac.laser);
        }
        if (d.latchUp.valid) {
            cell(kRowLatchupLeft).text = format("%u", d.latchUp.state[0]);
            cell(kRowLatchupRight).text = format("%u", d.latchUp.state[1]);
        }
        if (d.version.valid)
            cell(kRowFirmwareVersion).text = format("%u.%u", d.version.major, d.version.minor);
    }
    if (data.temperaturesValid) {
        std::string& text = grid[kRowTemperature - 1][kTemperatureNode].text;
        for (float t : data.temperatures) {
            char value[32];
            std::snprintf(value, sizeof value, "%.1f", static_cast<double>(t));
            text += (text.empty() ? "" : " ") + std::string(value);
        }
    }
    return grid;
}
