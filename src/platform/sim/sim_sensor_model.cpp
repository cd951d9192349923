// The sensor model: interfaces over time, the normal-mode feature reports, the boot
// loader's command/reply protocol on a NOR flash, mode changes and injected faults.
#include "platform/sim/sim_sensor_model.h"

#include <cstring>

const SimEraseBlock kSimEraseBlocks[kSimEraseBlockCount] = {
    {kSimBootLoaderEnd, 0x8000},  // block 0: 0x04000..0x0BFFF
    {0x0C000, 0x8000},  // block 1: 0x0C000..0x13FFF
    {0x14000, 0x8000},  // block 2: 0x14000..0x1BFFF
    {0x1C000, 0x8000},  // block 3: 0x1C000..0x23FFF, holds both write marks
    {0x24000, 0x4000},  // block 4: 0x24000..0x27FFF
};

namespace {

// Boot-loader command layout (feature report 1).
constexpr uint32_t kCmdOpcode = 1;
constexpr uint32_t kCmdSequence = 2;
constexpr uint32_t kCmdAddress = 3;
constexpr uint32_t kCmdLength = 7;
constexpr uint32_t kCmdData = 8;
constexpr uint8_t kOpErase = 0;
constexpr uint8_t kOpProgram = 1;
constexpr uint8_t kOpVerify = 2;
constexpr uint8_t kOpExit = 3;

// Report lengths of the normal-mode reports, ID byte included.
constexpr uint32_t kSwitchReportLength = 2;
constexpr uint32_t kWordReportLength = 9;

// Collections of the sensor's own reports.
constexpr SimCollection kFamily0Main = {0x000D, 0x0002, 10, 0, kSwitchReportLength, 1};
constexpr SimCollection kFamily1Main = {0xFF00, 0x0001, 65, 0, kWordReportLength, 1};

// A boot loader that has received no command yet answers "no command": 0xFF in the
// opcode, sequence and status bytes, so no first command can read it as its own echo.
void ResetReply(SimSensor* s) {
    std::memset(s->reply, 0, sizeof s->reply);
    s->reply[0] = 2;
    s->reply[1] = 0xFF;
    s->reply[2] = 0xFF;
    s->reply[3] = 0xFF;
}

uint16_t NormalProduct(const SimSensor* s) {
    return s->config.family == 0 ? kProductFamily0 : kProductFamily1;
}

void Log(SimSensor* s, uint64_t nowMs, SimEventKind kind, const SimPort* port,
         const uint8_t* data, uint32_t length, uint32_t outcome) {
    if (s->transcript.size() >= s->transcript.capacity()) {
        ++s->transcriptDropped;  // never grows on the hot path
        return;
    }
    SimTranscriptEntry e;
    std::memset(&e, 0, sizeof e);
    e.timeMs = nowMs;
    e.kind = kind;
    e.direction = kind == kSimEventGetFeature ? kSimFromDevice : kSimToDevice;
    e.fromMode = e.toMode = s->mode;
    e.productId = port->productId;
    e.usagePage = port->usagePage;
    e.usage = port->usage;
    e.length = length;
    e.outcome = outcome;
    if (data != nullptr) {
        std::memcpy(e.data, data, length < kSimTranscriptDataCapacity ? length
                                                                      : kSimTranscriptDataCapacity);
    }
    s->transcript.push_back(e);
}

void ChangeMode(SimSensor* s, uint64_t atMs, SimMode to) {
    SimMode from = s->mode;
    s->mode = to;
    ++s->counters.modeChanges;
    if (to == kSimModeNormal || to == kSimModeBootLoader) {
        ++s->appearance;
        ++s->counters.appearances;
        s->appearedAtMs = atMs;
    }
    if (s->transcript.size() >= s->transcript.capacity()) {
        ++s->transcriptDropped;
        return;
    }
    SimTranscriptEntry e;
    std::memset(&e, 0, sizeof e);
    e.timeMs = atMs;
    e.kind = kSimEventModeChange;
    e.direction = kSimNoDirection;
    e.fromMode = from;
    e.toMode = to;
    e.productId = to == kSimModeNormal       ? NormalProduct(s)
                  : to == kSimModeBootLoader ? kProductBootLoader
                                             : 0;
    s->transcript.push_back(e);
}

// Leaves the bus now; shows up again as `next` after `delayMs`, unless `never`.
void LeaveBus(SimSensor* s, uint64_t nowMs, SimMode next, uint32_t delayMs, bool never) {
    ChangeMode(s, nowMs, kSimModeAbsent);
    s->changePending = !never;
    s->pendingMode = next;
    s->pendingAtMs = nowMs + delayMs;
}

void FillOldFirmware(uint8_t* flash) {
    for (uint32_t a = 0; a < kSimFlashSize; ++a) {
        if (a < kSimBootLoaderEnd) {
            flash[a] = static_cast<uint8_t>(0xB0 ^ (a & 0xFF) ^ (a >> 8));
        } else if (a < 0x20000) {
            flash[a] = static_cast<uint8_t>(a * 7 + (a >> 8) + 0x5A);
        } else {
            flash[a] = 0xFF;
        }
    }
    for (uint32_t mark : {kSimMarkAddress, kSimSecondMarkAddress}) {
        flash[mark] = 0x00;
        std::memset(flash + mark + 1, 0xFF, 7);
    }
}

bool PortAlive(const SimSensor* s, const SimPort* port) {
    if (s->mode != kSimModeNormal && s->mode != kSimModeBootLoader) return false;
    if (port->appearance != s->appearance) return false;
    SimInterface unused{};
    return sim_sensor_interface(s, port->interfaceIndex, &unused) == 1;
}

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool RuleMatches(const SimFaultRule& rule, uint32_t number, const uint8_t* command) {
    if (rule.kind == kSimFaultNone) return false;
    if (rule.commandNumber != 0 && rule.commandNumber != number) return false;
    if (rule.opcode >= 0 && rule.opcode != command[kCmdOpcode]) return false;
    if (rule.matchAddress && rule.address != ReadLe32(command + kCmdAddress)) return false;
    return true;
}

// The first rule that matches and has not used up its count; it is counted as fired.
const SimFaultRule* FireRule(SimSensor* s, uint32_t number, const uint8_t* command) {
    for (uint32_t i = 0; i < kSimMaxFaultRules; ++i) {
        const SimFaultRule& rule = s->config.faults.rules[i];
        if (!RuleMatches(rule, number, command)) continue;
        if (rule.times != kSimEveryTime && s->counters.ruleFired[i] >= rule.times) continue;
        ++s->counters.ruleFired[i];
        return &rule;
    }
    return nullptr;
}

// Program and verify accept 1..16 units of 8 bytes at an 8-byte aligned address of the
// application area.
uint8_t CheckRange(uint32_t address, uint8_t units) {
    if (units == 0 || units > 16 || address % 8 != 0) return kSimStatusBadLength;
    if (address < kSimBootLoaderEnd) return kSimStatusProtected;
    if (address > kSimFlashSize || kSimFlashSize - address < units * 8u) return kSimStatusBadAddress;
    return kSimStatusDone;
}

// Carries out one erase, program or verify command; answers its status byte.
uint8_t RunCommand(SimSensor* s, const uint8_t* command) {
    uint8_t opcode = command[kCmdOpcode];
    uint32_t address = ReadLe32(command + kCmdAddress);
    uint8_t units = command[kCmdLength];
    const uint8_t* data = command + kCmdData;
    switch (opcode) {
        case kOpErase: {
            if (address >= kSimEraseBlockCount) return kSimStatusBadAddress;
            const SimEraseBlock& block = kSimEraseBlocks[address];
            std::memset(s->flash + block.start, 0xFF, block.length);
            ++s->counters.erases;
            return kSimStatusDone;
        }
        case kOpProgram: {
            uint8_t status = CheckRange(address, units);
            if (status != kSimStatusDone) return status;
            // NOR flash: programming can only clear bits; an unerased byte keeps its zeros,
            // which a later verify of the intended data then reports.
            for (uint32_t i = 0; i < units * 8u; ++i) s->flash[address + i] &= data[i];
            ++s->counters.programs;
            return kSimStatusDone;
        }
        case kOpVerify: {
            uint8_t status = CheckRange(address, units);
            if (status != kSimStatusDone) return status;
            ++s->counters.verifies;
            if (std::memcmp(s->flash + address, data, units * 8u) != 0) {
                ++s->counters.verifyMismatches;
                return kSimStatusMismatch;
            }
            return kSimStatusDone;
        }
        default:
            return kSimStatusBadOpcode;
    }
}

void SetReply(SimSensor* s, uint8_t opcode, uint8_t sequence, uint8_t status) {
    std::memset(s->reply, 0, sizeof s->reply);
    s->reply[0] = 2;
    s->reply[1] = opcode;
    s->reply[2] = sequence;
    s->reply[3] = status;
}

// Exit from the boot loader (either form): the sensor restarts and comes back in normal
// mode when its flash holds a marked image, else in its boot loader again.
void ExitBootLoader(SimSensor* s, uint64_t nowMs) {
    ++s->counters.exits;
    bool valid = sim_sensor_image_valid(s) == 1;
    s->returnWithUpdate = valid;
    LeaveBus(s, nowMs, valid ? kSimModeNormal : kSimModeBootLoader, s->config.returnDelayMs,
             s->config.faults.neverReturns);
}

uint32_t SetBootCommand(SimSensor* s, uint64_t nowMs, const SimPort* port,
                        const uint8_t* buffer, uint32_t length) {
    uint32_t number = ++s->counters.bootCommands;
    const SimFaultRule* rule = FireRule(s, number, buffer);
    SimFaultKind kind = rule != nullptr ? rule->kind : kSimFaultNone;
    uint8_t opcode = buffer[kCmdOpcode];
    uint8_t sequence = buffer[kCmdSequence];

    if (kind == kSimFaultFailSet) {
        Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimErrGenFailure);
        return kSimErrGenFailure;
    }
    if (kind == kSimFaultDeviceGone) {
        Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimErrNotConnected);
        ChangeMode(s, nowMs, kSimModeGone);
        s->changePending = false;
        return kSimErrNotConnected;
    }
    if (kind == kSimFaultRefuse) {
        SetReply(s, opcode, sequence, rule->value >= 0 ? static_cast<uint8_t>(rule->value)
                                                       : kSimStatusInjected);
        Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimOk);
        return kSimOk;
    }
    if (opcode == kOpExit) {
        Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimOk);
        // Boot loaders below version 16 take the exit only as an output report and
        // ignore this form.
        if (s->config.bootLoaderVersion >= 16) ExitBootLoader(s, nowMs);
        return kSimOk;
    }
    SetReply(s, opcode, sequence, RunCommand(s, buffer));
    if (kind == kSimFaultWrongOpcode) {
        s->reply[1] = rule->value >= 0 ? static_cast<uint8_t>(rule->value) : opcode ^ 0x80;
    } else if (kind == kSimFaultWrongSequence) {
        s->reply[2] = rule->value >= 0 ? static_cast<uint8_t>(rule->value) : sequence ^ 0x80;
    } else if (kind == kSimFaultFailGet) {
        s->replyGetFails = true;
    }
    Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimOk);
    return kSimOk;
}

}  // namespace

const char* sim_mode_name(SimMode mode) {
    switch (mode) {
        case kSimModeNormal: return "normal";
        case kSimModeBootLoader: return "boot loader";
        case kSimModeAbsent: return "absent";
        case kSimModeGone: return "gone";
    }
    return "?";
}

SimSensorConfig sim_sensor_config_for_family(uint16_t family) {
    SimSensorConfig config;
    config.family = family == 0 ? 0 : 1;
    if (config.family == 1) {
        config.normalVersion = 0x0139;
        config.report5Word = 0x0002;
        config.report6Word = 0x0001;
        config.versionAfterUpdate = 0x0139;
        config.report5AfterUpdate = 0x0006;
        config.report6AfterUpdate = 0x0001;
    }
    return config;
}

void sim_sensor_init(SimSensor* s, const SimSensorConfig* config, uint64_t nowMs) {
    s->config = *config;
    s->mode = config->startInBootLoader ? kSimModeBootLoader : kSimModeNormal;
    s->normalVersion = config->normalVersion;
    s->report5Word = config->report5Word;
    s->report6Word = config->report6Word;
    s->appearance = 1;
    s->appearedAtMs = nowMs;
    s->changePending = false;
    s->pendingMode = kSimModeNormal;
    s->pendingAtMs = 0;
    ResetReply(s);
    s->replyGetFails = false;
    s->returnWithUpdate = false;
    std::memset(&s->counters, 0, sizeof s->counters);
    s->counters.appearances = 1;
    s->transcriptDropped = 0;
    s->transcript.clear();
    s->transcript.reserve(config->transcriptCapacity);
    if (config->flashContent == kSimFlashOldFirmware) {
        FillOldFirmware(s->flash);
    } else {
        std::memset(s->flash, 0xFF, sizeof s->flash);
    }
}

uint32_t sim_sensor_advance(SimSensor* s, uint64_t nowMs) {
    uint32_t changes = 0;
    while (s->changePending && s->pendingAtMs <= nowMs) {
        s->changePending = false;
        if (s->pendingMode == kSimModeNormal && s->returnWithUpdate) {
            s->normalVersion = s->config.versionAfterUpdate;
            s->report5Word = s->config.report5AfterUpdate;
            s->report6Word = s->config.report6AfterUpdate;
            s->returnWithUpdate = false;
        }
        if (s->pendingMode == kSimModeBootLoader) ResetReply(s);
        ChangeMode(s, s->pendingAtMs, s->pendingMode);
        ++changes;
    }
    return changes;
}

bool sim_sensor_next_change(const SimSensor* s, uint64_t* dueMs) {
    if (!s->changePending) return false;
    *dueMs = s->pendingAtMs;
    return true;
}

uint32_t sim_sensor_interface_count(SimSensor* s, uint64_t nowMs) {
    sim_sensor_advance(s, nowMs);
    if (s->mode == kSimModeBootLoader) return 1;
    if (s->mode == kSimModeNormal) {
        return s->config.extraBeforeCount + 1 + s->config.extraAfterCount;
    }
    return 0;
}

bool sim_sensor_interface(const SimSensor* s, uint32_t index, SimInterface* out) {
    const SimSensorConfig& c = s->config;
    out->vendorId = kSensorVendorId;
    if (s->mode == kSimModeBootLoader) {
        if (index != 0) return false;
        out->productId = kProductBootLoader;
        out->versionNumber = c.bootLoaderVersion;
        out->collection = {0x000D, 0x0001, 65, c.bootOutputReportLength,
                           static_cast<uint16_t>(kSimBootReportLength),
                           !c.faults.bootUnopenable};
        out->isMain = true;
        return true;
    }
    if (s->mode != kSimModeNormal) return false;
    out->productId = NormalProduct(s);
    out->versionNumber = s->normalVersion;
    out->isMain = false;
    if (index < c.extraBeforeCount) {
        out->collection = c.extraBefore[index];
        return true;
    }
    index -= c.extraBeforeCount;
    if (index == 0) {
        out->collection = c.family == 0 ? kFamily0Main : kFamily1Main;
        out->collection.openable = !c.faults.normalUnopenable;
        out->isMain = true;
        return true;
    }
    index -= 1;
    if (index < c.extraAfterCount) {
        out->collection = c.extraAfter[index];
        return true;
    }
    return false;
}

uint32_t sim_sensor_open(SimSensor* s, uint64_t nowMs, uint32_t index, SimPort* port) {
    if (index >= sim_sensor_interface_count(s, nowMs)) return kSimErrFileNotFound;
    SimInterface itf{};
    sim_sensor_interface(s, index, &itf);
    if (!itf.collection.openable ||
        nowMs - s->appearedAtMs < s->config.faults.openDeniedAfterAppearMs) {
        ++s->counters.openDenials;
        return kSimErrAccessDenied;
    }
    port->interfaceIndex = index;
    port->appearance = s->appearance;
    port->productId = itf.productId;
    port->usagePage = itf.collection.usagePage;
    port->usage = itf.collection.usage;
    return kSimOk;
}

bool sim_sensor_port_alive(const SimSensor* s, const SimPort* port) {
    return PortAlive(s, port);
}

uint32_t sim_sensor_set_feature(SimSensor* s, uint64_t nowMs, const SimPort* port,
                                const uint8_t* buffer, uint32_t length) {
    sim_sensor_advance(s, nowMs);
    ++s->counters.featureSets;
    uint32_t outcome = kSimOk;
    SimInterface itf{};
    if (!PortAlive(s, port)) {
        outcome = kSimErrNotConnected;
    } else if (sim_sensor_interface(s, port->interfaceIndex, &itf), !itf.isMain || length == 0) {
        outcome = kSimErrInvalidParameter;  // this collection declares no feature reports
    } else if (s->mode == kSimModeBootLoader) {
        if (buffer[0] != 1 || length < kSimBootReportLength) {
            outcome = kSimErrInvalidParameter;
        } else {
            return SetBootCommand(s, nowMs, port, buffer, length);
        }
    } else if (buffer[0] != 2 || length < kSwitchReportLength) {
        outcome = kSimErrInvalidParameter;  // reports 5 and 6 are input-only features
    } else if (s->config.faults.switchRefused) {
        ++s->counters.switchRefusals;
        outcome = kSimErrGenFailure;
    } else if (buffer[1] == 0x02) {
        ++s->counters.switchRequests;
        Log(s, nowMs, kSimEventSetFeature, port, buffer, length, kSimOk);
        LeaveBus(s, nowMs, kSimModeBootLoader, s->config.bootAppearDelayMs,
                 s->config.faults.bootLoaderNeverAppears);
        return kSimOk;
    }
    // Any other request byte in report 2 is accepted and has no effect.
    Log(s, nowMs, kSimEventSetFeature, port, buffer, length, outcome);
    return outcome;
}

uint32_t sim_sensor_get_feature(SimSensor* s, uint64_t nowMs, const SimPort* port,
                                uint8_t* buffer, uint32_t length) {
    sim_sensor_advance(s, nowMs);
    ++s->counters.featureGets;
    uint32_t outcome = kSimOk;
    SimInterface itf{};
    uint8_t id = length > 0 ? buffer[0] : 0;
    if (!PortAlive(s, port)) {
        outcome = kSimErrNotConnected;
    } else if (sim_sensor_interface(s, port->interfaceIndex, &itf), !itf.isMain || length == 0) {
        outcome = kSimErrInvalidParameter;
    } else if (s->mode == kSimModeBootLoader) {
        if (id != 2 || length < kSimBootReportLength) {
            outcome = kSimErrInvalidParameter;
        } else if (s->replyGetFails) {
            s->replyGetFails = false;
            outcome = kSimErrGenFailure;
        } else {
            // Asked twice, the boot loader answers the same reply again: it keeps the
            // reply to its last command until the next command replaces it.
            std::memset(buffer, 0, length);
            std::memcpy(buffer, s->reply, kSimBootReportLength);
        }
    } else if (id == 2 && length >= kSwitchReportLength) {
        std::memset(buffer, 0, length);
        buffer[0] = 2;  // no request pending
    } else if ((id == 5 || id == 6) && s->config.family == 1 && length >= kWordReportLength) {
        bool fail = id == 5 ? s->config.faults.failReport5 : s->config.faults.failReport6;
        if (fail) {
            ++(id == 5 ? s->counters.report5Failures : s->counters.report6Failures);
            outcome = kSimErrGenFailure;
        } else {
            uint16_t word = id == 5 ? s->report5Word : s->report6Word;
            std::memset(buffer, 0, length);
            // Bytes 1..6 carry other sensor data; only 7 and 8 (big-endian) are the word.
            const uint8_t report[kWordReportLength] = {
                id, 0x31, 0x5C, 0x02, 0x7E, 0x11, 0xA0, static_cast<uint8_t>(word >> 8),
                static_cast<uint8_t>(word & 0xFF)};
            std::memcpy(buffer, report, sizeof report);
        }
    } else {
        outcome = kSimErrInvalidParameter;  // family 0 declares no reports 5 and 6
    }
    Log(s, nowMs, kSimEventGetFeature, port, buffer, length, outcome);
    return outcome;
}

uint32_t sim_sensor_write_output(SimSensor* s, uint64_t nowMs, const SimPort* port,
                                 const uint8_t* buffer, uint32_t length) {
    sim_sensor_advance(s, nowMs);
    ++s->counters.outputWrites;
    SimInterface itf{};
    uint32_t outcome = kSimOk;
    if (!PortAlive(s, port)) {
        outcome = kSimErrNotConnected;
    } else if (sim_sensor_interface(s, port->interfaceIndex, &itf),
               itf.collection.outputReportLength == 0 ||
                   length != itf.collection.outputReportLength) {
        outcome = kSimErrInvalidParameter;  // WriteFile takes exactly the output length
    } else if (s->config.faults.outputWriteHangs == kSimEveryTime ||
               s->counters.outputHangs < s->config.faults.outputWriteHangs) {
        ++s->counters.outputHangs;
        outcome = kSimErrIoPending;  // never delivered
    }
    Log(s, nowMs, kSimEventWriteOutput, port, buffer, length, outcome);
    // Boot loaders below version 16 leave flash mode on the output report {0x00, 0x03};
    // newer ones ignore it.
    if (outcome == kSimOk && s->mode == kSimModeBootLoader && itf.isMain && length >= 2 &&
        buffer[0] == 0x00 &&
        buffer[1] == kOpExit && s->config.bootLoaderVersion < 16) {
        ExitBootLoader(s, nowMs);
    }
    return outcome;
}

void sim_sensor_read_flash(const SimSensor* s, uint32_t address, uint8_t* out,
                           uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t a = address + i;
        out[i] = (a >= address && a < kSimFlashSize) ? s->flash[a] : 0xFF;
    }
}

bool sim_sensor_image_valid(const SimSensor* s) {
    return s->flash[kSimMarkAddress] == 0x00;
}
