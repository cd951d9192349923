// Host cost of the flash protocol against the simulated sensor with no device latency:
// one block exchange, a whole write-and-verify of image B, and heap allocations per block.
#include <benchmark/benchmark.h>


#include "alloc_counter.h"
#include "flash/flash_protocol.h"
#include "platform/sim/sim_control.h"
#include "update/firmware_catalogue.h"
#include "update/update_worker.h"

namespace {


HidDevice OpenBootLoader() {
    SimScenario scenario = sim_scenario_for_family(1);
    scenario.sensor.startInBootLoader = 1;
    scenario.sensor.transcriptCapacity = 0;  // keep no record: measure the exchange alone
    sim_reset(scenario);
    HidDevice device = ClosedHidDevice();
    FindHidDeviceById(&device, 0xF0A5, 0x0094);
    return device;
}

// One write command and its reply, as the programming pass sends them.
void BM_BlockExchange(benchmark::State& state) {
    HidDevice device = OpenBootLoader();
    EraseFlash(&device);
    FlashCommand command{};
    command.reportId = 1;
    command.opcode = kFlashOpVerify;
    command.sequence = 1;
    command.address[1] = 0x40;
    command.length = 0x10;
    for (int i = 0; i < 128; ++i) command.data[i] = 0xFF;
    FlashReply reply;
    const uint64_t before = AllocationCount();
    for (auto _ : state) {
        ExchangeCommand(&device, &command, 0, "Module Name : flash_verify", &reply);
        benchmark::DoNotOptimize(reply);
    }
    state.counters["allocs/block"] = benchmark::Counter(
        static_cast<double>(AllocationCount() - before) / static_cast<double>(state.iterations()));
    CloseHidDevice(&device);
}
BENCHMARK(BM_BlockExchange);

// Programming and verification of all 488 blocks of image B.
void BM_WriteAndVerifyImageB(benchmark::State& state) {
    const FirmwareImage& image = ImageForKind(1);
    uint64_t blocks = 0;
    uint64_t allocated = 0;
    for (auto _ : state) {
        state.PauseTiming();
        HidDevice device = OpenBootLoader();
        EraseFlash(&device);
        state.ResumeTiming();
        const uint64_t before = AllocationCount();
        ViewBar viewBar = {nullptr, 0, kProgressStartMaximum};
        const FlashProgress bar = ViewFlashProgress(&viewBar);
        const bool written = WriteBlocks(bar, &device, ImageBytes(image), ImageEndAddress(image), 0x4000);
        const bool verified = VerifyBlocks(bar, &device, ImageBytes(image), ImageEndAddress(image), 0x4000);
        allocated += AllocationCount() - before;
        if (!written || !verified) state.SkipWithError("the simulated sensor refused the image");
        blocks += 2 * ImageByteCount(image) / 128;
        state.PauseTiming();
        CloseHidDevice(&device);
        state.ResumeTiming();
    }
    state.counters["blocks"] = benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kIsRate);
    state.counters["allocs/block"] =
        benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(blocks));
}
BENCHMARK(BM_WriteAndVerifyImageB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
