// Time per set+get pair of the flash loop through hidraw, against the emulated sensor at the
// kernel interface, side by side with a bare loop of the same two ioctls on the same node.
// The ratio of the two is printed at the end: what the platform layer and the exchange add
// to the round trip through the kernel interface (here: umockdev's socket to the model).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulated_sensor.h"
#include "flash/flash_protocol.h"
#include "platform/linux/hidraw_node.h"
#include "sensor/hid_device.h"

namespace {

EmulatedSensor* sensor = nullptr;
// Time per pair of every run of each loop (a fixed 2000 pairs per run, so no calibration
// runs mix in); the ratio is taken of the medians, since the two loops run interleaved on a
// machine whose load changes meanwhile.
std::vector<double> flashNsPerPair;
std::vector<double> bareNsPerPair;

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A write command for the block at 0x4000 with all-0xFF data: programming 0xFF leaves NOR
// flash as it is, so the command can be repeated without an erase, and every reply is an
// acknowledgement.
FlashCommand BlockCommand() {
    FlashCommand command;
    std::memset(&command, 0, sizeof command);
    command.reportId = kFlashCommandReportId;
    command.opcode = kFlashOpWrite;
    command.sequence = 1;
    command.address[1] = 0x40;
    command.length = 0x10;
    std::memset(command.data, 0xFF, sizeof command.data);
    return command;
}

double NsPerIteration(std::chrono::steady_clock::duration elapsed, int64_t iterations) {
    return iterations == 0 ? 0
                           : std::chrono::duration<double, std::nano>(elapsed).count() /
                                 static_cast<double>(iterations);
}

// The flash loop as the update runs it: ExchangeCommand over the Linux platform layer.
void BM_FlashExchangeThroughHidraw(benchmark::State& state) {
    HidDevice device = ClosedHidDevice();
    if (!FindHidDeviceById(&device, kSensorVendorId, kProductBootLoader)) {
        state.SkipWithError("boot loader not found");
        return;
    }
    const FlashCommand command = BlockCommand();
    FlashReply reply;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (ExchangeCommand(&device, &command, 0, "Module Name : hidraw_bench", &reply) !=
                ExchangeResult::Replied ||
            !IsAcknowledged(&command, &reply)) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    flashNsPerPair.push_back(NsPerIteration(std::chrono::steady_clock::now() - start, state.iterations()));
    CloseHidDevice(&device);
}
BENCHMARK(BM_FlashExchangeThroughHidraw)->Unit(benchmark::kMicrosecond)->Iterations(2000)->Repetitions(7);

// The same two ioctls on the same node with nothing around them.
void BM_BareIoctlPair(benchmark::State& state) {
    char node[32];
    emulated_sensor_node(sensor, node, sizeof node);
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("node not opened");
        return;
    }
    const FlashCommand command = BlockCommand();
    uint8_t buffer[kFlashReportLength];
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::memcpy(buffer, &command, sizeof buffer);
        if (ioctl(fd, HIDIOCSFEATURE(kFlashReportLength), buffer) < 0) {
            state.SkipWithError("set failed");
            break;
        }
        std::memset(buffer, 0, sizeof buffer);
        buffer[0] = kFlashReplyReportId;
        if (ioctl(fd, HIDIOCGFEATURE(kFlashReportLength), buffer) < 0) {
            state.SkipWithError("get failed");
            break;
        }
        benchmark::DoNotOptimize(buffer);
    }
    bareNsPerPair.push_back(NsPerIteration(std::chrono::steady_clock::now() - start, state.iterations()));
    close(fd);
}
BENCHMARK(BM_BareIoctlPair)->Unit(benchmark::kMicrosecond)->Iterations(2000)->Repetitions(7);

}  // namespace

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    // The repetitions of the two loops alternate in random order, so that both see the
    // same changes of the machine's load.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, &interleave[0]);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    argc = count;
    argv = args.data();
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SimSensorConfig config = sim_sensor_config_for_family(0);
    config.startInBootLoader = 1;
    config.bootLoaderVersion = 0x0011;
    config.transcriptCapacity = 16;  // the transcript stops recording; the model goes on
    sensor = emulated_sensor_start(config);
    if (sensor == nullptr || !emulated_sensor_wait_for_product(sensor, kProductBootLoader, 2000)) {
        std::fprintf(stderr, "hidraw_bench: no emulated sensor (umockdev missing?)\n");
        return 1;
    }
    linux_set_diag_sink(kDiagSinkStderr);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double flash = Median(flashNsPerPair);
    const double bare = Median(bareNsPerPair);
    if (flash > 0 && bare > 0) {
        std::printf("set+get pair (median of %zu and %zu runs): flash loop %.1f us, bare ioctls "
                    "%.1f us, ratio %.3f\n",
                    flashNsPerPair.size(), bareNsPerPair.size(), flash / 1000, bare / 1000,
                    flash / bare);
    }
    emulated_sensor_stop(sensor);
    return 0;
}
