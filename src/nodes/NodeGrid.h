#pragma once
// The "Status" grid of the node monitor as texts and cell colours: 46 rows
// of labels and one column per node, built from the data of a read pass.
// The window shows it in a table, telvane-cli prints it. Pure functions:
// any thread.

#include "nodes/NodeData.h"

#include <array>
#include <cstdint>
#include <string>

inline constexpr int kNodeGridRows = 46;
// Row labels, grid rows 1 to 46; the top left cell reads "Node".
extern const std::array<const char*, kNodeGridRows> kNodeGridLabels;
inline constexpr char kNodeGridCorner[] = "Node";

// Grid rows (counted from 1, as the labels).
enum NodeGridRow : int {
    kRowTxCanErrCnt = 1,
    kRowAckTime = 5,
    kRowAckTime1 = 6,
    kRowCanCounters = 8,  // first row of the CAN error counters
    kRowRsCounters = 23,  // "RS_OERR", first row of the RS485 error counters
    kRowVLeft = 33,
    kRowVRight = 34,
    kRowBoardCurrent = 37,
    kRowVccA = 38,
    kRowDest = 40,
    kRowTemperature = 41,
    kRowThreshold = 42,
    kRowLaser = 43,
    kRowLatchupLeft = 44,
    kRowLatchupRight = 45,
    kRowFirmwareVersion = 46,
};

enum class NodeCellColour { Plain, White, Yellow, Red };

// Counter cells: white for 0, yellow from 1 to 127, red from 128 on.
NodeCellColour CounterColour(unsigned value);
// The colour as a Windows colour value (0x00BBGGRR): white 0xFFFFFF,
// yellow 0x00FFFF, red 0x0000FF; Plain has none and gives white.
uint32_t NodeCellBgr(NodeCellColour colour);

struct NodeGridCell {
    std::string text;
    NodeCellColour colour = NodeCellColour::Plain;
};

// cells[row - 1][node]
using NodeGrid = std::array<std::array<NodeGridCell, kNodeCount>, kNodeGridRows>;

NodeGrid BuildNodeGrid(const NodeMonitorData& data);

// Grid row of counter i of a node; 0 when the node kind has no row for it.
int CanCounterRow(int node, size_t counter);
int RsCounterRow(int node, size_t counter);
