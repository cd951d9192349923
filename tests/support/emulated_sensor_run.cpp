// emulated-sensor-run: runs one command against an emulated sensor at the kernel interface,
// for trying the Linux edition (or another HID program) without hardware.
//
//   emulated-sensor-run [--family 0|1] [--version HEX] [--words R5,R6] [--boot-loader HEX]
//                       [--in-boot-loader] [--refuse-block HEX] [--quiet] -- COMMAND [ARGS...]
//
// The command runs under the umockdev preload and sees the sensor's /dev/hidraw node and
// sysfs tree; the sensor re-enumerates as the real one does. Afterwards a summary of what
// the sensor received is printed to standard error; the exit code is the command's.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulated_sensor.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: emulated-sensor-run [--family 0|1] [--version HEX] [--words R5,R6]\n"
                 "           [--boot-loader HEX] [--in-boot-loader] [--refuse-block HEX]\n"
                 "           [--quiet] -- COMMAND [ARGS...]\n");
}

uint16_t Hex(const char* text) { return static_cast<uint16_t>(std::strtoul(text, nullptr, 16)); }

}  // namespace

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    uint16_t family = 0;
    int command = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            command = i + 1;
            break;
        }
        if (std::strcmp(argv[i], "--family") == 0 && i + 1 < argc) family = Hex(argv[++i]) ? 1 : 0;
    }
    if (command < 0 || command >= argc) {
        Usage();
        return 2;
    }
    SimSensorConfig config = sim_sensor_config_for_family(family);
    config.bootAppearDelayMs = 500;
    config.returnDelayMs = 500;
    config.bootLoaderVersion = 0x0011;
    bool quiet = false;
    for (int i = 1; i < command - 1; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < command - 1 ? argv[i + 1] : nullptr;
        if (a == "--family") {
            ++i;
        } else if (a == "--version" && v) {
            config.normalVersion = Hex(v);
            ++i;
        } else if (a == "--words" && v) {
            config.report5Word = Hex(v);
            const char* comma = std::strchr(v, ',');
            if (comma) config.report6Word = Hex(comma + 1);
            ++i;
        } else if (a == "--boot-loader" && v) {
            config.bootLoaderVersion = Hex(v);
            ++i;
        } else if (a == "--in-boot-loader") {
            config.startInBootLoader = 1;
        } else if (a == "--refuse-block" && v) {
            config.faults.rules[0].kind = kSimFaultRefuse;
            config.faults.rules[0].opcode = 1;
            config.faults.rules[0].matchAddress = 1;
            config.faults.rules[0].address = static_cast<uint32_t>(std::strtoul(v, nullptr, 16));
            config.faults.rules[0].times = 1;
            ++i;
        } else if (a == "--quiet") {
            quiet = true;
        } else {
            Usage();
            return 2;
        }
    }
    EmulatedSensor* sensor = emulated_sensor_start(config);
    if (sensor == nullptr) {
        std::fprintf(stderr, "emulated-sensor-run: no umockdev testbed\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[command], argv + command);
        std::perror(argv[command]);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const uint32_t nodes = emulated_sensor_nodes_created(sensor);
    SimSensor* model = emulated_sensor_lock(sensor);
    if (!quiet) {
        const SimSensorCounters& c = model->counters;
        std::fprintf(stderr,
                     "emulated sensor: %u feature sets, %u gets, %u output writes; %u switch "
                     "requests, %u erases, %u programs, %u verifies (%u mismatches), %u exits; "
                     "mode now %s, image valid %d, nodes created %u\n",
                     c.featureSets, c.featureGets, c.outputWrites, c.switchRequests, c.erases,
                     c.programs, c.verifies, c.verifyMismatches, c.exits,
                     sim_mode_name(model->mode), sim_sensor_image_valid(model),
                     nodes);
    }
    emulated_sensor_unlock(sensor);
    emulated_sensor_stop(sensor);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
