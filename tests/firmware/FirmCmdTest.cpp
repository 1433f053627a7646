// The command channel against a simulated board over the crate server: the
// request bytes on the wire, reply checks, retries and their log lines.

#include "FirmTestSupport.h"
#include "base/Error.h"
#include "firmware/FirmCmd.h"
#include "links/PortMCSim.h"

#include <gtest/gtest.h>

namespace {

class FirmCmdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimConfig config;
        config.crates = {{0, 1, 1, 101, 0, 0x00010019}, {0, 1, 2, 102, 0, 0}};
        config.timing = QuickBoards();
        config.secondaryServer = config.primaryBus = config.secondaryBus = false;
        sim = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(sim->Start());
        link = std::make_unique<CPortMC_All>();
        TcpTemplate(*link, sim->CrateServerPort());
        link->SetProperty("CCB ID", CVariant::FromInt(101));
        ASSERT_TRUE(link->Open());
        ASSERT_TRUE(link->WaitUntilOpen(5000));
        link->SetMonitor(&traffic, &TrafficLog::Hook);
        cmd = std::make_unique<CFirmCmd>(*link, FirmReplyTimeouts{250, 250});
        cmd->SetOutput(&out, "Firm_101>");
    }
    void TearDown() override
    {
        cmd.reset();
        if (link)
            link->Close();
    }

    // Request payloads sent since the last call, without 0xEC and sequence.
    std::vector<Bytes> Sent()
    {
        std::lock_guard lock(traffic.lock);
        std::vector<Bytes> requests;
        for (const auto& frame : traffic.sent)
            requests.emplace_back(frame.begin() + 2, frame.end());
        traffic.sent.clear();
        traffic.received.clear();
        return requests;
    }
    CSimBoard& Board() { return *sim->Board(101); }

    std::unique_ptr<CSimSystem> sim;
    std::unique_ptr<CPortMC_All> link;
    TrafficLog traffic;
    CCapturedOut out;
    std::unique_ptr<CFirmCmd> cmd;
};

}  // namespace

TEST_F(FirmCmdTest, RequestBytesAndResults)
{
    uint8_t r8 = 0;
    uint16_t s16 = 0xFFFF;
    uint32_t id = 0;
    struct Case {
        const char* what;
        std::function<bool()> call;
        std::vector<Bytes> requests;
    } cases[] = {
        {"ProtectFlash off", [&] { return cmd->ProtectFlash(false); }, {{0xED, 0x00}}},
        {"WriteMem", [&] { const uint8_t d[] = {1, 2, 3}; return cmd->WriteMem(0x012345, d, 3); },
         {{0xFE, 0x01, 0x23, 0x45, 1, 2, 3}}},
        {"ReadMem", [&] { uint8_t d[3]; return cmd->ReadMem(0x012345, d, 3) && d[2] == 3; },
         {{0xF5, 0x01, 0x23, 0x45, 0x00, 0x00, 0x03}}},
        {"Power", [&] { return cmd->Power(0x14, true, r8) && r8 == 1; }, {{0x2F, 0x14, 0x01}}},
        {"OffLine", [&] { return cmd->OffLine(true, r8) && r8 == 1; }, {{0x0E, 0x04, 0x01}}},
        {"OnFpgaFlash", [&] { return cmd->OnFpgaFlash(1, true, s16) && s16 == 0; }, {{0xBF, 0x0A, 0x01, 0x01}}},
        {"RdFpgaFlashID", [&] { return cmd->RdFpgaFlashID(1, s16, id) && s16 == 0 && id == 0x373016; },
         {{0xBF, 0x61, 0x01}}},
        {"SelFpgaFlash", [&] { return cmd->SelFpgaFlash(1, s16) && s16 == 0; }, {{0xBF, 0x63, 0x01}}},
        {"JtagBus", [&] { return cmd->JtagBus(1, 2, s16) && s16 == 0; }, {{0xBF, 0x65, 0x01, 0x02}}},
        {"WriteFlash 5 bytes: the first half, then the rest",
         [&] { const uint8_t d[] = {9, 8, 7, 6, 5}; return cmd->WriteFlash(0x080010, d, 5); },
         {{0xF3, 0x08, 0x00, 0x10, 9, 8}, {0xF3, 0x08, 0x00, 0x12, 7, 6, 5}}},
        {"WriteFlash 1 byte: the byte, then an empty request",
         [&] { const uint8_t d[] = {0x42}; return cmd->WriteFlash(0x080020, d, 1); },
         {{0xF3, 0x08, 0x00, 0x20, 0x42}, {0xF3, 0x08, 0x00, 0x21}}},
        {"Script", [&] { return cmd->Script("sb", 0x80200); }, {{0xEE, 0x08, 0x02, 0x00, 's', 'b', 0x00}}},
        {"Reset", [&] { return cmd->Reset(); }, {{0xF8}}},
    };
    uint64_t wireBytes = 0;
    for (const auto& c : cases) {
        SetLastErr(12345);
        EXPECT_TRUE(c.call()) << c.what << " ->" << GetLastErr();
        EXPECT_EQ(GetLastErr(), 0u) << c.what;
        const auto sent = Sent();
        EXPECT_EQ(sent, c.requests) << c.what;
        for (const auto& request : sent)
            wireBytes += request.size();
    }
    EXPECT_EQ(Board().Peek(0x80010, 5), (Bytes{9, 8, 7, 6, 5}));
    EXPECT_EQ(out.Text(), "") << "good replies log nothing";
    EXPECT_EQ(cmd->BytesSent(), wireBytes);
}

TEST_F(FirmCmdTest, StatusLayoutsGiveTypeAndVersion)
{
    _FIRMSTATUS status;
    ASSERT_TRUE(cmd->Status(status));
    EXPECT_EQ(status.type, _FIRMSTATUS::kLong);
    EXPECT_EQ(status.fields.size(), std::string(kStatusLongLayout).size());
    EXPECT_EQ(status.Version(), 0x00010019u);
    EXPECT_EQ(Sent(), std::vector<Bytes>{{0xEA}});

    link->SetProperty("CCB ID", CVariant::FromInt(102));
    ASSERT_TRUE(cmd->Status(status));
    EXPECT_EQ(status.type, _FIRMSTATUS::kShort);
    EXPECT_EQ(status.fields.size(), std::string(kStatusShortLayout).size());
    EXPECT_EQ(status.fields[1].value, 102u) << "the short layout's 2nd field";
}

TEST_F(FirmCmdTest, BadStatusReplyIsLoggedWithItsDump)
{
    Board().ReplaceAnswer({0xEA}, {0x14, 0xAB, 0x01});
    cmd->SetAttempts(2);
    _FIRMSTATUS status;
    EXPECT_FALSE(cmd->Status(status));
    EXPECT_EQ(GetLastErr(), 13u);
    const std::string line = "Firm_101>" + formatErrorText("Status ERROR:", 13) + "Firm_101>dump:14AB01\r\n";
    EXPECT_EQ(out.Text(), line + line) << "one pair of lines per try, no other line";
}

TEST_F(FirmCmdTest, FailedTriesAreLoggedAndRetried)
{
    const uint8_t two[] = {1, 2};
    struct Case {
        const char* what;
        const char* name;
        int attempts;
        std::function<void()> arrange;
        std::function<bool()> call;
        uint32_t error;
        size_t requests;
        size_t failedTries;
    } cases[] = {
        {"busy twice, then good", "ProtectFlash", 3, [&] { Board().Faults().Set(SimFault::Busy, 2); },
         [&] { return cmd->ProtectFlash(true); }, 0, 3, 2},
        {"always busy", "ProtectFlash", 3, [&] { Board().Faults().Set(SimFault::Busy, -1); },
         [&] { return cmd->ProtectFlash(true); }, 170, 3, 3},
        {"Repeat 0 is one try", "Reset", 0, [&] { Board().Faults().Set(SimFault::Busy, -1); },
         [&] { return cmd->Reset(); }, 170, 1, 1},
        {"write into protected flash", "WriteFlash", 2, [] {},
         [&] { return cmd->WriteFlash(0x80000, two, 2); }, 29, 2, 2},
        {"a fault on the second half starts again from the first", "WriteFlash", 2,
         [&] {
             cmd->ProtectFlash(false);
             Board().ReplaceAnswer({0xF3, 0x08, 0x00, 0x41}, {0xF2, 0x05}, 1);
         },
         [&] { return cmd->WriteFlash(0x80040, two, 2); }, 0, 2 + 2, 1},
        {"script not accepted", "Script", 3, [] {}, [&] { return cmd->Script("zz", 1); }, 11, 3, 3},
        {"reply of the wrong form", "SelFpgaFlash", 2,
         [&] { Board().ReplaceAnswer({0xBF, 0x63}, {0xBE, 0x63, 0x00}); },
         [&] { uint16_t s; return cmd->SelFpgaFlash(0, s); }, 13, 2, 2},
        {"reply from the wrong address", "ReadMem", 1,
         [&] { Board().ReplaceAnswer({0xF5}, {0xF4, 0x00, 0x00, 0x01, 0xAA}); },
         [&] { uint8_t d[1]; return cmd->ReadMem(0, d, 1); }, 13, 1, 1},
        {"no reply", "Reset", 2, [&] { Board().Faults().Set(SimFault::LostReply, -1); },
         [&] { return cmd->Reset(); }, 1460, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Board().Faults().ClearAll();
        c.arrange();
        Sent();
        const size_t before = out.Count("Firm_101>" + std::string(c.name) + " ->");
        cmd->SetAttempts(c.attempts);
        EXPECT_EQ(c.call(), c.error == 0);
        EXPECT_EQ(GetLastErr(), c.error);
        EXPECT_EQ(Sent().size(), c.requests);
        EXPECT_EQ(out.Count("Firm_101>" + std::string(c.name) + " ->") - before, c.failedTries);
        if (c.error != 0) {
            EXPECT_TRUE(out.Has("Firm_101>" + formatErrorText(c.name, c.error)));
        }
    }
    Board().Faults().ClearAll();
}

TEST_F(FirmCmdTest, LengthsOutsideTheCommandsAreRefusedUnsent)
{
    uint8_t buffer[300] = {};
    EXPECT_FALSE(cmd->ReadMem(0, buffer, 241));
    EXPECT_EQ(GetLastErr(), 87u);
    EXPECT_FALSE(cmd->WriteMem(0, buffer, 241));
    EXPECT_EQ(GetLastErr(), 87u);
    EXPECT_EQ(out.Text(), "Firm_101>" + formatErrorText("ReadMem", 87) + "Firm_101>" + formatErrorText("WriteMem", 87));

    EXPECT_FALSE(cmd->WriteFlash(0x80000, buffer, 0));
    EXPECT_FALSE(cmd->WriteFlash(0x80000, buffer, 257));
    EXPECT_EQ(GetLastErr(), 87u);
    EXPECT_EQ(out.Count(" ->"), 2u) << "WriteFlash refuses without a log line";
    EXPECT_TRUE(Sent().empty());

    ASSERT_TRUE(cmd->ProtectFlash(false));
    Sent();
    EXPECT_TRUE(cmd->ReadMem(0, buffer, 240));
    EXPECT_TRUE(cmd->WriteFlash(0x80000, buffer, 256));
    EXPECT_EQ(Sent().size(), 3u);
}

TEST(FirmStatusLayout, UnpacksBigEndianFieldsAndBoardFloats)
{
    const uint8_t bytes[] = {0x7F, 0x12, 0x34, 0x01, 0x02, 0x03, 0x04, 0x40, 0x00, 0x00, 0x01, 0x40, 0x00, 0x00, 0x00};
    std::vector<_FIRMSTATUS::Field> fields;
    std::string error;
    ASSERT_TRUE(UnpackStatus("CSLFF", bytes, sizeof bytes, fields, error));
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[0].value, 0x7Fu);
    EXPECT_EQ(fields[1].value, 0x1234u);
    EXPECT_EQ(fields[2].value, 0x01020304u);
    EXPECT_FLOAT_EQ(fields[3].real, 1.0f);
    EXPECT_FLOAT_EQ(fields[4].real, 0.5f);

    EXPECT_FALSE(UnpackStatus("CSX", bytes, sizeof bytes, fields, error));
    EXPECT_EQ(error, "Software error: Invalid struct description");
    EXPECT_FALSE(UnpackStatus("LLLL", bytes, sizeof bytes, fields, error)) << "16 bytes needed, 15 given";
    EXPECT_EQ(StatusLayoutBytes(kStatusLongLayout), 200u);
    EXPECT_EQ(StatusLayoutBytes(kStatusShortLayout), 79u);
}
