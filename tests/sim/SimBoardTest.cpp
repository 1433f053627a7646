#include "sim/SimCrateBoard.h"

#include <gtest/gtest.h>
#include <thread>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

SimTiming fastTiming() { return SimTiming{50, 100}; }

Bytes run(CSimBoard& b, Bytes cmd)
{
    auto r = b.Execute(cmd);
    return r ? *r : Bytes{0xDE, 0xAD};
}

uint32_t statusVersion(const Bytes& s) { return (uint32_t(s[3]) << 24) | (uint32_t(s[4]) << 16) | (s[5] << 8) | s[6]; }

}  // namespace

TEST(SimBoard, StatusLayoutsCarryTheInstalledVersion)
{
    CSimBoard fw(101, 0x00010019);
    Bytes s = run(fw, {0xEA});
    ASSERT_EQ(s.size(), 201u) << "0x13 and the packed long layout";
    EXPECT_EQ(s[0], 0x13);
    EXPECT_EQ((s[1] << 8) | s[2], 101);
    EXPECT_EQ(statusVersion(s), 0x00010019u);

    CSimBoard boot(102, 0);
    Bytes b = run(boot, {0xEA});
    ASSERT_EQ(b.size(), 80u) << "0xE9 and the packed short layout";
    EXPECT_EQ(b[0], 0xE9);
}

TEST(SimBoard, CommandTableAnswers)
{
    CSimBoard b(7, 0x00010019);
    struct Case {
        const char* what;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"WriteMem", {0xFE, 0x00, 0x10, 0x00, 0xA1, 0xA2}, {0xFC, 0xFE}},
        {"ReadMem", {0xF5, 0x00, 0x10, 0x00, 0x00, 0x00, 0x02}, {0xF4, 0x00, 0x10, 0x00, 0xA1, 0xA2}},
        {"WriteFlash protected", {0xF3, 0x08, 0x00, 0x00, 0x11}, {0xF2, 0x01}},
        {"ProtectFlash off", {0xED, 0x00}, {0xFC, 0xED}},
        {"WriteFlash", {0xF3, 0x08, 0x00, 0x00, 0x11, 0x22}, {0xF2, 0x00}},
        {"WriteFlash empty", {0xF3, 0x08, 0x00, 0x02}, {0xF2, 0x00}},
        {"ReadMem flash", {0xF5, 0x08, 0x00, 0x00, 0x00, 0x00, 0x03}, {0xF4, 0x08, 0x00, 0x00, 0x11, 0x22, 0xFF}},
        {"WriteFlash outside", {0xF3, 0x0C, 0x00, 0x00, 0x11}, {0xF2, 0x02}},
        {"Power on", {0x2F, 0x01, 0x01}, {0xFC, 0x2F, 0x01}},
        {"Power on again", {0x2F, 0x01, 0x01}, {0xFC, 0x2F, 0x03}},
        {"Power off", {0x2F, 0x01, 0x00}, {0xFC, 0x2F, 0x00}},
        {"OffLine", {0x0E, 0x04, 0x01}, {0x0F, 0x04, 0x01}},
        {"RdFpgaFlashID off", {0xBF, 0x61, 0x00}, {0xBE, 0x61, 0x00, 0x02, 0, 0, 0, 0}},
        {"OnFpgaFlash", {0xBF, 0x0A, 0x00, 0x01}, {0xBE, 0x0A, 0x00, 0x00}},
        {"RdFpgaFlashID", {0xBF, 0x61, 0x00}, {0xBE, 0x61, 0x00, 0x00, 0x00, 0x37, 0x30, 0x16}},
        {"SelFpgaFlash", {0xBF, 0x63, 0x00}, {0xBE, 0x63, 0x00, 0x00}},
        {"SelFpgaFlash bad board", {0xBF, 0x63, 0x05}, {0xBE, 0x63, 0x00, 0x01}},
        {"JtagBus", {0xBF, 0x65, 0x00, 0x02}, {0xBE, 0x65, 0x00, 0x00}},
        {"WriteFlash FPGA", {0xF3, 0xC0, 0x00, 0x10, 0x5A}, {0xF2, 0x00}},
        {"ReadMem FPGA", {0xF5, 0xC0, 0x00, 0x10, 0x00, 0x00, 0x02}, {0xF4, 0xC0, 0x00, 0x10, 0x5A, 0xFF}},
        {"Script unknown", {0xEE, 0x00, 0x00, 0x00, 'x', 0x00}, {0xEE, 0x00}},
        {"ReadMem too long", {0xF5, 0, 0, 0, 0, 0, 241}, {0x02, 'B', 'a', 'd', ' ', 'l', 'e', 'n', 'g', 't', 'h', ' ', '0', 'x', 'F', '5', 0}},
        {"unknown code", {0x77}, {0x02, 'U', 'n', 'k', 'n', 'o', 'w', 'n', ' ', 'c', 'o', 'm', 'm', 'a', 'n', 'd', ' ', '0', 'x', '7', '7', 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(b, c.request), c.reply) << c.what;
}

TEST(SimBoard, ResetIsBusyThenBootLoaderThenFlashFirmware)
{
    CSimBoard b(9, 0x00010018, fastTiming());
    EXPECT_EQ(run(b, {0xF8}), (Bytes{0xFC, 0xF8}));
    EXPECT_EQ(run(b, {0xEA}), Bytes{'?'});
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(run(b, {0xEA})[0], 0xE9) << "boot loader after the busy time";
    std::this_thread::sleep_for(110ms);
    Bytes s = run(b, {0xEA});
    EXPECT_EQ(s[0], 0x13) << "auto-started the flash image";
    EXPECT_EQ(statusVersion(s), 0x00010018u);
}

TEST(SimBoard, MemoryAccessStopsTheAutoStart)
{
    CSimBoard b(9, 0x00010018, fastTiming());
    run(b, {0xF8});
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(run(b, {0xF5, 0, 0, 0, 0, 0, 1}).size(), 5u);
    std::this_thread::sleep_for(110ms);
    EXPECT_EQ(b.GetState(), CSimBoard::State::BootLoader);
}

TEST(SimBoard, ScriptMovesBetweenBootLoaderRamAndFlash)
{
    CSimBoard b(9, 0, fastTiming());
    EXPECT_EQ(b.GetState(), CSimBoard::State::BootLoader);
    const Bytes startFlash{0xEE, 0x08, 0x02, 0x00, 's', 'b', 0x00};
    const Bytes startRam{0xEE, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(run(b, startFlash), (Bytes{0xEE, 0x00})) << "erased flash cannot start";
    EXPECT_EQ(run(b, startRam), (Bytes{0xEE, 0x00})) << "empty RAM cannot start";

    // A RAM image of version 1.30.
    EXPECT_EQ(run(b, {0xFE, 0x00, 0x02, 0x00, 0x4E, 0, 0, 0, 0x00, 0x01, 0x00, 0x1E}), (Bytes{0xFC, 0xFE}));
    EXPECT_EQ(run(b, startRam), (Bytes{0xEE, 0x01}));
    EXPECT_EQ(b.GetState(), CSimBoard::State::RamFirmware);
    EXPECT_EQ(statusVersion(run(b, {0xEA})), 0x0001001Eu);

    // Flash image without a version word reads as version 1.
    run(b, {0xED, 0x00});
    EXPECT_EQ(run(b, {0xF3, 0x08, 0x02, 0x00, 0x4E}), (Bytes{0xF2, 0x00}));
    EXPECT_EQ(run(b, startFlash), (Bytes{0xEE, 0x01}));
    EXPECT_EQ(b.GetState(), CSimBoard::State::FlashFirmware);
    EXPECT_EQ(statusVersion(run(b, {0xEA})), 1u);
}

TEST(SimBoard, BridgeCommandsReachOtherBoards)
{
    CSimBoard a(1, 0x00010019), other(0x0102, 0x00010019);
    a.SetBridge([&](uint16_t id) { return id == 0x0102 ? &other : nullptr; });
    Bytes s = run(a, {0xDE, 0x01, 0x02, 0xEA});
    EXPECT_EQ((s[1] << 8) | s[2], 0x0102) << "mode 2 addresses the board in the command";
    EXPECT_EQ(run(a, {0xDF, 0x01, 0x02}), (Bytes{0xFC, 0xDF}));
    s = run(a, {0xDE, 0x00, 0x00, 0xEA});
    EXPECT_EQ((s[1] << 8) | s[2], 0x0102) << "mode 1 uses the destination set by 0xDF";
    EXPECT_FALSE(a.Execute(Bytes{0xDE, 0x09, 0x09, 0xEA})) << "a missing board does not answer";
}

TEST(SimBoard, FaultsChangeTheAnswerForTheirCount)
{
    CSimBoard b(3, 0x00010019);
    const Bytes req{0xEC, 0x21, 0xED, 0x01};
    b.Faults().Set(SimFault::LostReply, 1);
    EXPECT_FALSE(b.Serve(req));
    EXPECT_TRUE(b.Serve(req));

    b.Faults().Set(SimFault::Busy, 2);
    EXPECT_EQ(b.Serve(req)->payload, (Bytes{0xEC, 0x21, '?'}));
    EXPECT_EQ(b.Serve(req)->payload, (Bytes{0xEC, 0x21, '?'}));
    EXPECT_EQ(b.Serve(req)->payload, (Bytes{0xEC, 0x21, 0xFC, 0xED}));

    b.Faults().Set(SimFault::StaleSequence, 1);
    EXPECT_EQ(b.Serve(req)->payload[1], 0x20);

    b.Faults().SetLateMs(123);
    b.Faults().Set(SimFault::LateReply, -1);
    EXPECT_EQ(b.Serve(req)->delayMs, 123);
    EXPECT_EQ(b.Serve(req)->delayMs, 123) << "-1 affects every answer";
    b.Faults().ClearAll();
    EXPECT_EQ(b.Serve(req)->delayMs, 0);

    EXPECT_FALSE(b.Serve(Bytes{0xE8, 0x01})) << "echoed unsolicited frames get no answer";
    EXPECT_EQ(b.Serve(Bytes{0xED, 0x00})->payload, (Bytes{0xFC, 0xED})) << "no header, none added";
}

TEST(SimBoard, CorruptWriteStoresAWrongFirstByteAndAnswersGood)
{
    CSimBoard b(11, 0x00010019);
    b.Faults().Set(SimFault::CorruptWrite, 1);
    EXPECT_EQ(run(b, {0xFE, 0x00, 0x10, 0x00, 0x12, 0x34}), (Bytes{0xFC, 0xFE}));
    EXPECT_EQ(b.Peek(0x1000, 2), (Bytes{0xED, 0x34}));
    EXPECT_EQ(run(b, {0xFE, 0x00, 0x10, 0x00, 0x12, 0x34}), (Bytes{0xFC, 0xFE}));
    EXPECT_EQ(b.Peek(0x1000, 2), (Bytes{0x12, 0x34})) << "one write affected";

    EXPECT_EQ(run(b, {0xED, 0x00}), (Bytes{0xFC, 0xED}));
    b.Faults().Set(SimFault::CorruptWrite, 1);
    EXPECT_EQ(run(b, {0xF3, 0x08, 0x00, 0x00, 0x56, 0x78}), (Bytes{0xF2, 0x00}));
    EXPECT_EQ(b.Peek(0x80000, 2), (Bytes{0xA9, 0x78}));
}

TEST(SimBoard, ReplacedAnswersCountDownByPrefix)
{
    CSimBoard b(12, 0x00010019);
    b.ReplaceAnswer({0xBF, 0x65, 0x00, 0x00}, {0xBE, 0x65, 0x00, 0x07}, 1);
    EXPECT_EQ(run(b, {0xBF, 0x65, 0x00, 0x02}), (Bytes{0xBE, 0x65, 0x00, 0x00})) << "another mode is not replaced";
    EXPECT_EQ(run(b, {0xBF, 0x65, 0x00, 0x00}), (Bytes{0xBE, 0x65, 0x00, 0x07}));
    EXPECT_EQ(run(b, {0xBF, 0x65, 0x00, 0x00}), (Bytes{0xBE, 0x65, 0x00, 0x00})) << "count used up";
}

TEST(SimBoard, AnswerTimeDelaysEveryServedAnswer)
{
    CSimBoard b(13, 0x00010019, SimTiming{50, 100, 7});
    auto a = b.Serve(Bytes{0xEC, 0x01, 0xED, 0x01});
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->delayMs, 7);
    EXPECT_EQ(a->payload, (Bytes{0xEC, 0x01, 0xFC, 0xED}));
}
