// The update engine against simulated crates: parallel updates over the
// crate server, every branch of the installed-version check, the three
// firmware types, verify, abort and the checks of the image.

#include "FirmTestSupport.h"
#include "base/Error.h"
#include "base/Sha256.h"
#include "firmware/FirmUpdate.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr uint32_t kFlash = 0x80000;
constexpr uint32_t kImageVersion = 0x0001001A;

class FirmUpdateTest : public ::testing::Test {
protected:
    void StartSim(std::vector<SimCrateSpec> crates, bool serialBuses = false)
    {
        SimConfig config;
        config.crates = std::move(crates);
        config.timing = QuickBoards();
        config.secondaryServer = false;
        config.primaryBus = config.secondaryBus = serialBuses;
        sim = std::make_unique<CSimSystem>(config);
        ASSERT_TRUE(sim->Start());
        linkTemplate = std::make_unique<CPortMC_All>();
        TcpTemplate(*linkTemplate, sim->CrateServerPort());
    }
    static SimCrateSpec Crate(uint16_t ccbid, uint32_t version)
    {
        return SimCrateSpec{0, 1 + ccbid % 12, 1 + ccbid % 5, ccbid, 0, version};
    }

    // A manual update of the file, writing and verifying.
    _FIRMSETTINGS Manual(const std::string& file, std::vector<uint16_t> destinations, int32_t type = kFirmFlash)
    {
        _FIRMSETTINGS s;
        s.getFirmwareFile = 1;
        s.firmwareFile = file;
        s.destinations = std::move(destinations);
        s.firmType = type;
        s.firmVerify = true;
        return s;
    }
    std::string FlashFile(size_t size = 2048, uint32_t version = kImageVersion)
    {
        const std::string path = dir.File("flash.s19");
        WriteFile(path, SRecordText(kFlash, FlashBytes(size, version)));
        return path;
    }
    void PutMiniFirmware()
    {
        WriteFile(dir.File(kMiniRamFile), MiniFirmwareText());
        host.values[kKeyInstallDir] = dir.Path();
    }

    CFirmUpdate& Begin(const _FIRMSETTINGS& settings)
    {
        engine = std::make_unique<CFirmUpdate>("Firm", &out, host, timing);
        EXPECT_EQ(engine->Start(settings, *linkTemplate), CFirmUpdate::StartResult::Started);
        return *engine;
    }
    // Runs an update to its end.
    void Update(const _FIRMSETTINGS& settings, int budgetMs = 20000)
    {
        Begin(settings);
        EXPECT_TRUE(WaitFor([&] { return !engine->AnyUnfinished(); }, budgetMs)) << out.Text();
        engine->Join();
    }
    std::string State(size_t row) { return engine->Row(row).GetState(); }
    Bytes Flash(uint16_t ccbid, size_t size) { return sim->Board(ccbid)->Peek(kFlash, size); }

    CTempDir dir;
    CCapturedOut out;
    CFixedHost host;
    FirmTiming timing = QuickTiming();
    std::unique_ptr<CSimSystem> sim;
    std::unique_ptr<CPortMC_All> linkTemplate;
    std::unique_ptr<CFirmUpdate> engine;
};

}  // namespace

TEST_F(FirmUpdateTest, CratesUpdateInParallelOverTheCrateServer)
{
    const Bytes image = FlashBytes(2048, kImageVersion);
    for (int n : {1, 8, 32}) {
        SCOPED_TRACE(n);
        std::vector<SimCrateSpec> crates;
        std::vector<uint16_t> ids;
        for (int i = 0; i < n; ++i) {
            crates.push_back(Crate(static_cast<uint16_t>(101 + i), 0x00010019));
            ids.push_back(static_cast<uint16_t>(101 + i));
        }
        StartSim(crates);
        Update(Manual(FlashFile(), ids));
        ASSERT_EQ(engine->RowCount(), ids.size() + 1);
        EXPECT_EQ(State(0), "OK");
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(State(i + 1), "OK") << ids[i];
            EXPECT_EQ(Flash(ids[i], image.size()), image) << ids[i];
            EXPECT_TRUE(sim->Board(ids[i])->FlashProtected()) << "protected again after writing";
        }
        EXPECT_EQ(out.Count("Hex File Start 0x00080000 End 0x00080800\r\n"), 1u);
        engine.reset();
        out.Clear();
    }
}

TEST_F(FirmUpdateTest, MissingCrateFailsOnlyItsRow)
{
    timing.replies.shortReplyMs = 100;
    StartSim({Crate(101, 0x00010019), Crate(102, 0x00010019)});
    _FIRMSETTINGS s = Manual(FlashFile(), {101, 150, 102});
    s.timeout = timing.statusBudgetMs;
    Update(s);
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(State(2), "FAIL");
    EXPECT_EQ(State(3), "OK");
    EXPECT_EQ(out.Count("Firm_150>" + formatErrorText("Status", 1460)), 4u * 3) << "4 passes of 3 tries";
}

TEST_F(FirmUpdateTest, SecondaryBusLinkAddressesEachDestination)
{
    StartSim({Crate(101, 0x00010019)}, true);
    linkTemplate->SetPropertyById(CPortMC_All::kIOType, CVariant::FromInt(CPortMC_All::kSecondary));
    linkTemplate->SetProperty("ComName", CVariant::FromString(sim->SecondaryBusPath()));
    const auto address = CSimSystem::SecondaryAddress(Crate(101, 0).sector, 101);
    Update(Manual(FlashFile(), {address}));
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(Flash(101, 2048), FlashBytes(2048, kImageVersion));
}

TEST_F(FirmUpdateTest, InstalledVersionCheckOfFlashUpdates)
{
    // Puts a board into its boot loader with the flash image kept.
    const auto bootLoader = [](CSimBoard& b) {
        b.Execute(Bytes{0xF8});
        std::this_thread::sleep_for(40ms);
        b.Execute(Bytes{0xF5, 0, 0, 0, 0, 0, 1});
    };
    struct Case {
        const char* what;
        uint32_t installed;
        std::function<void(CSimBoard&)> arrange;
        bool miniInFolder;
        std::string state;
        std::vector<std::pair<std::string, size_t>> logCounts;
    } cases[] = {
        {"newer than 1.25", 0x00010020, nullptr, false, "OK", {{"TX Script", 0}, {"TX Reset", 0}}},
        {"version 1", 1, nullptr, false, "OK", {{"TX Reset", 0}}},
        {"older: mini firmware first", 0x00010018, nullptr, true, "OK", {{"Firm_101>TX Reset\r\n", 1}}},
        {"boot loader starts the flash firmware", 0x00010019, bootLoader, false, "OK",
         {{"Firm_101>TX Script\r\n", 1}, {"TX Reset", 0}}},
        {"boot loader refuses: erased flash, mini firmware", 0, nullptr, true, "OK",
         {{"Firm_101>TX Script\r\n", 1}, {"Firm_101>TX Reset\r\n", 1}}},
        {"busy for one pass", 0x00010019, [](CSimBoard& b) { b.Faults().Set(SimFault::Busy, 3); }, false, "OK",
         {{"Firm_101>BUSY\r\n", 1}, {"Firm_101>TX Script\r\n", 1}}},
        {"always busy", 0x00010019, [](CSimBoard& b) { b.Faults().Set(SimFault::Busy, -1); }, false, "FAIL",
         {{"Firm_101>BUSY\r\n", 4}}},
        {"status of a wrong form ends the check", 0x00010019,
         [](CSimBoard& b) { b.ReplaceAnswer({0xEA}, {0x55}); }, false, "FAIL",
         {{"Status ERROR:", 3}, {"dump:55\r\n", 3}}},
        {"boot loader answers the script badly", 0x00010019,
         [&](CSimBoard& b) {
             bootLoader(b);
             b.ReplaceAnswer({0xEE}, {0xEE});
         },
         false, "FAIL", {{"Firm_101>Script fail\r\n", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartSim({Crate(101, c.installed)});
        if (c.arrange)
            c.arrange(*sim->Board(101));
        host.values.clear();
        if (c.miniInFolder)
            PutMiniFirmware();
        const Bytes before = Flash(101, 2048);
        Update(Manual(FlashFile(), {101}));
        EXPECT_EQ(State(1), c.state) << out.Text();
        for (const auto& [piece, count] : c.logCounts)
            EXPECT_EQ(out.Count(piece), count) << piece;
        EXPECT_EQ(Flash(101, 2048), c.state == "OK" ? FlashBytes(2048, kImageVersion) : before);
        if (c.miniInFolder) {
            EXPECT_EQ(sim->Board(101)->Peek(0x200, 2), (Bytes{0x4E, 0x71})) << "mini firmware in RAM";
        }
        engine.reset();
        out.Clear();
    }
}

TEST_F(FirmUpdateTest, StatusTimeoutWaitsTheRestOfTheBudget)
{
    for (int setting : {100, 300}) {
        SCOPED_TRACE(setting);
        timing.replies.shortReplyMs = 50;
        StartSim({Crate(101, 0x00010019)});
        sim->Board(101)->Faults().Set(SimFault::LostReply, 3);
        _FIRMSETTINGS s = Manual(FlashFile(), {101});
        s.timeout = setting;
        const auto t0 = std::chrono::steady_clock::now();
        Update(s);
        const auto elapsed = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(State(1), "OK");
        EXPECT_EQ(out.Count(formatErrorText("Status", 1460)), 3u);
        if (setting < timing.statusBudgetMs) {
            EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 50 + timing.statusBudgetMs - setting));
        }
        engine.reset();
        out.Clear();
    }
}

TEST_F(FirmUpdateTest, MiniFirmwareFolderIsAskedForAndKept)
{
    for (bool answer : {false, true}) {
        SCOPED_TRACE(answer);
        StartSim({Crate(101, 0x00010018)});
        host.values.clear();
        host.questions.clear();
        WriteFile(dir.File(kMiniRamFile), MiniFirmwareText());
        host.folder = answer ? dir.Path() : "";
        Update(Manual(FlashFile(), {101}));
        ASSERT_EQ(host.questions.size(), 1u);
        EXPECT_EQ(host.questions[0], "Cb_mini_ram.s19 Application folder not found\nPlease Select");
        EXPECT_EQ(State(1), answer ? "OK" : "FAIL");
        EXPECT_EQ(host.Value(kKeyInstallDir), answer ? dir.Path() : "");
        engine.reset();
    }
}

TEST_F(FirmUpdateTest, WithoutWriteAndVerifyOnlyTheVersionIsChecked)
{
    StartSim({Crate(101, 0x00010019)});
    _FIRMSETTINGS s = Manual(FlashFile(), {101});
    s.firmWrite = false;
    s.firmVerify = false;
    const Bytes before = Flash(101, 2048);
    Update(s);
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(Flash(101, 2048), before);
    EXPECT_EQ(sim->Board(101)->GetState(), CSimBoard::State::FlashFirmware) << "no reset";
}

TEST_F(FirmUpdateTest, CorruptedWriteIsCaughtByVerify)
{
    for (int32_t type : {kFirmFlash, kFirmRam}) {
        SCOPED_TRACE(type);
        StartSim({Crate(101, 0x00010019)});
        sim->Board(101)->Faults().Set(SimFault::CorruptWrite, 1);
        const uint32_t start = type == kFirmFlash ? kFlash : 0x1000;
        WriteFile(dir.File("image.s19"), SRecordText(start, FlashBytes(512, 0)));
        Update(Manual(dir.File("image.s19"), {101}, type));
        EXPECT_EQ(State(1), "FAIL Verify");
        char line[64];
        std::snprintf(line, sizeof line, "Firm_101>Compare Fail MEMORY 0x%08X\r\n", start);
        EXPECT_EQ(out.Count(line), 1u) << out.Text();
        engine.reset();
        out.Clear();
    }
}

TEST_F(FirmUpdateTest, AbortWhileWritingStopsWithinOneChunk)
{
    StartSim({Crate(101, 1)});
    sim->Board(101)->SetTiming(SimTiming{30, 1000, 2});
    const Bytes image = FlashBytes(64 * 1024, kImageVersion);
    WriteFile(dir.File("big.s19"), SRecordText(kFlash, image));
    CFirmUpdate& update = Begin(Manual(dir.File("big.s19"), {101}));
    uint32_t position = 0;
    ASSERT_TRUE(WaitFor([&] { return update.Row(1).GetPosition(position) && position >= 4096; }, 20000));
    update.Row(1).GetPosition(position);
    update.Row(1).Abort();
    ASSERT_TRUE(WaitFor([&] { return !update.AnyUnfinished(); }, 2000));
    update.Join();
    EXPECT_EQ(State(1), "FAIL: Abort by user");
    const Bytes flash = Flash(101, image.size());
    size_t written = 0;
    while (written < image.size() && flash[written] == image[written])
        ++written;
    EXPECT_GE(written, position - 256);
    EXPECT_LE(written, static_cast<size_t>(position) + 256) << "at most the chunk under way";
}

TEST_F(FirmUpdateTest, AbortDuringTheWaitAfterTheScriptEndsAtOnce)
{
    timing.scriptWaitMs = 15000;
    StartSim({Crate(101, 0x00010019)});
    CSimBoard& board = *sim->Board(101);
    board.Execute(Bytes{0xF8});
    std::this_thread::sleep_for(40ms);
    board.Execute(Bytes{0xF5, 0, 0, 0, 0, 0, 1});
    CFirmUpdate& update = Begin(Manual(FlashFile(), {101}));
    ASSERT_TRUE(WaitFor([&] { return out.Has("TX Script"); }, 5000));
    std::this_thread::sleep_for(50ms);
    const auto t0 = std::chrono::steady_clock::now();
    update.AbortAll();
    ASSERT_TRUE(WaitFor([&] { return !update.AnyUnfinished(); }, 2000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    update.Join();
    EXPECT_EQ(State(1), "FAIL: Abort by user");
}

TEST_F(FirmUpdateTest, RamUpdateStopsTheBootLoaderAndStartsTheImage)
{
    StartSim({Crate(101, 0x00010019)});
    Bytes ram = FlashBytes(0x400, 0);
    ram[0x200] = 0x4E;
    WriteFile(dir.File("ram.s19"), SRecordText(0, ram));
    Update(Manual(dir.File("ram.s19"), {101}, kFirmRam));
    EXPECT_EQ(State(1), "OK");
    EXPECT_EQ(out.Count("Firm_101>TX Reset\r\n"), 1u);
    EXPECT_EQ(sim->Board(101)->Peek(0, ram.size()), ram);
    EXPECT_EQ(sim->Board(101)->GetState(), CSimBoard::State::RamFirmware);
}

TEST_F(FirmUpdateTest, FpgaFlashStepsAndTheirFailures)
{
    const Bytes fpga = FlashBytes(1000, 0, 3);
    WriteFile(dir.File("fpga.bin"), std::string(fpga.begin(), fpga.end()));
    struct Case {
        Bytes prefix;
        Bytes reply;
        std::string state;
        bool written;  // the image is in the FPGA flash
    } cases[] = {
        {{}, {}, "OK", true},
        {{0x0E, 0x04, 0x01}, {0x0F, 0x04, 0x00}, "FAIL OffLine", false},
        {{0x2F, 0x14, 0x01}, {0xFC, 0x2F, 0x00}, "FAIL Power", false},
        {{0xBF, 0x0A, 0x01, 0x01}, {0xBE, 0x0A, 0x00, 0x01}, "FAIL OnFpgaFlash", false},
        {{0xBF, 0x61, 0x01}, {0xBE, 0x61, 0x00, 0x00, 0x00, 0x37, 0x30, 0x17}, "FAIL RdFpgaFlashID", false},
        {{0xBF, 0x63, 0x01}, {0xBE, 0x63, 0x00, 0x01}, "FAIL SelFpgaFlash", false},
        {{0xBF, 0x65, 0x01, 0x02}, {0xBE, 0x65, 0x00, 0x01}, "FAIL JtagBus", false},
        {{0xBF, 0x65, 0x01, 0x00}, {0xBE, 0x65, 0x00, 0x01}, "FAIL JtagBus", true},
        {{0xBF, 0x0A, 0x01, 0x00}, {0xBE, 0x0A, 0x00, 0x01}, "FAIL OnFpgaFlash", true},
        {{0x0E, 0x04, 0x00}, {0x0F}, "FAIL OffLine", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state + " " + std::to_string(c.prefix.size()));
        StartSim({Crate(101, 0x00010019)});
        if (!c.prefix.empty())
            sim->Board(101)->ReplaceAnswer(c.prefix, c.reply);
        _FIRMSETTINGS s = Manual(dir.File("fpga.bin"), {101}, kFirmFpgaFlash);
        s.flashTrb = 1;
        s.repeat = 1;
        Update(s);
        EXPECT_EQ(State(1), c.state);
        EXPECT_EQ(sim->Board(101)->Peek(0xC00000, fpga.size()) == fpga, c.written);
        engine.reset();
    }

    StartSim({Crate(101, 0x00010018)});
    Update(Manual(dir.File("fpga.bin"), {101}, kFirmFpgaFlash));
    EXPECT_EQ(State(1), "Firmware too old");
}

TEST_F(FirmUpdateTest, ImageAddressesAreCheckedAtTheirLimits)
{
    struct Case {
        int32_t type;
        uint32_t lastStart;  // a 16-byte block ends at lastStart + 16
        uint32_t firstStart;
        std::string state;
    } cases[] = {
        {kFirmFlash, 0xBFFF0, 0x80000, "OK"},
        {kFirmFlash, 0xBFFF1, 0x80000, "FAIL: Invalid Flash address on file"},
        {kFirmFlash, 0x90000, 0x7FFF0, "FAIL: Invalid Flash address on file"},
        {kFirmFlash, 0xC00100, 0xC00000, "OK"},
        {kFirmRam, 0x7FFF0, 0x0, "OK"},
        {kFirmRam, 0x7FFF1, 0x0, "FAIL: Invalid Ram address on file"},
    };
    StartSim({Crate(101, 0x00010019)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lastStart);
        const std::string text = SRecordText(c.firstStart, Bytes(16, 0x11)) + SRecordText(c.lastStart, Bytes(16, 0x22));
        WriteFile(dir.File("limits.s19"), text);
        _FIRMSETTINGS s = Manual(dir.File("limits.s19"), {101}, c.type);
        s.firmWrite = s.firmVerify = false;
        Update(s);
        EXPECT_EQ(State(0), c.state);
        EXPECT_EQ(State(1), c.state == "OK" ? "OK" : "") << "no worker starts after a failed check";
        EXPECT_TRUE(engine->Row(1).IsFinished());
        engine.reset();
    }
}

TEST_F(FirmUpdateTest, ImageProblemsStopBeforeAnyWorker)
{
    StartSim({Crate(101, 0x00010019)});
    WriteFile(dir.File("bad.s19"), SRecord('2', kFlash, Bytes(16, 1), 3, 1));
    struct Case {
        _FIRMSETTINGS settings;
        std::string state;
    } cases[] = {
        {Manual(dir.File("none.s19"), {101}), "FAIL: Open File " + dir.File("none.s19")},
        {Manual(dir.File("bad.s19"), {101}), "FAIL: Sumcheck Error"},
        {[&] { auto s = Manual("", {101}, kFirmFpgaFlash); s.getFirmwareFile = 0; return s; }(),
         "FAIL: AUTO not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        Update(c.settings);
        EXPECT_EQ(State(0), c.state);
        EXPECT_EQ(State(1), "");
        EXPECT_TRUE(engine->Row(0).IsFinished() && engine->Row(1).IsFinished());
        engine.reset();
    }
}

TEST_F(FirmUpdateTest, StartRefusesEmptyListsAndUnknownTypes)
{
    StartSim({Crate(101, 0x00010019)});
    CFirmUpdate update("Firm", &out, host, timing);
    EXPECT_EQ(update.Start(Manual(FlashFile(), {}), *linkTemplate), CFirmUpdate::StartResult::EmptyDestinations);
    EXPECT_EQ(update.RowCount(), 0u);
    EXPECT_EQ(update.Start(Manual(FlashFile(), {101, 102}, 4), *linkTemplate), CFirmUpdate::StartResult::InvalidType);
    EXPECT_EQ(out.Text(), "Invalid Operation selected: check Firmware Properties\n");
    EXPECT_EQ(update.RowCount(), 3u);
    EXPECT_FALSE(update.AnyUnfinished());
}

TEST_F(FirmUpdateTest, LogStatesTheImageDigestBeforeAnyWorker)
{
    StartSim({Crate(101, 0x00010019)});
    const std::string path = FlashFile(1000);
    const std::string sha = RunCommand("sha256sum '" + path + "'").out.substr(0, 64);
    ASSERT_EQ(sha.size(), 64u);
    Update(Manual(path, {101}));
    const std::string text = out.Text();
    const std::string line = "Image 1000 data bytes from " + path + ": " +
                             std::to_string(std::filesystem::file_size(path)) + " bytes, SHA-256 " + sha + "\r\n";
    const size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_LT(at, text.find("Firm_101>")) << "before any worker's line";
}
