// CAN Command round trips against the in-process simulator: through the
// crate server to a node controller, and through the CAN gateway.

#include "links/PortCAN_All.h"
#include "sim/SimCanSystem.h"

#include <benchmark/benchmark.h>

namespace {

constexpr uint16_t kController = 102;

struct Simulator {
    Simulator()
    {
        SimConfig config;
        config.crates = {{0, 1, 2, kController, 0, 0x00010019}};
        config.secondaryServer = config.primaryBus = config.secondaryBus = false;
        crates = std::make_unique<CSimSystem>(config);
        crates->Start();
        can = std::make_unique<CSimCanSystem>(*crates, SimCanConfig{{{kController, 3}}});
        can->Start();
    }
    std::unique_ptr<CSimSystem> crates;
    std::unique_ptr<CSimCanSystem> can;
};

void roundTrips(benchmark::State& state, CPortCAN_All& link)
{
    if (!link.Open() || !link.WaitUntilOpen(5000)) {
        state.SkipWithError("open failed");
        return;
    }
    const uint8_t request = 0x16;
    const CanMessage version = MakeCanMessage(4, 0, true, &request, 1);
    for (auto _ : state) {
        CanRecord reply;
        int count = 1;
        if (!link.Command(&version, 1, &reply, count)) {
            state.SkipWithError("command failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
    link.Close();
}

void BM_CanCommandThroughCrateServer(benchmark::State& state)
{
    Simulator sim;
    CPortCAN_All link;
    link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kCompatible));
    link.SetProperty("IOType", CVariant::FromInt(3));
    link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link.SetProperty("Port", CVariant::FromUInt16(sim.crates->CrateServerPort()));
    link.SetProperty("CCB ID", CVariant::FromInt(kController));
    roundTrips(state, link);
}
BENCHMARK(BM_CanCommandThroughCrateServer)->UseRealTime();

void BM_CanCommandThroughGateway(benchmark::State& state)
{
    Simulator sim;
    CPortCAN_All link;
    link.SetPropertyById(CPortCAN_All::kCANIOType, CVariant::FromInt(CPortCAN_All::kNode));
    link.SetProperty("Host", CVariant::FromString("127.0.0.1"));
    link.SetProperty("Port", CVariant::FromUInt16(sim.can->GatewayPort()));
    roundTrips(state, link);
}
BENCHMARK(BM_CanCommandThroughGateway)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
