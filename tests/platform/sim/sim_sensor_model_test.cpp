// The sensor model on its own: interfaces, mode changes over time, the boot loader's flash
// commands, and the injected faults.
#include "platform/sim/sim_sensor_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim_test_support.h"

namespace {

struct Model {
    std::unique_ptr<SimSensor> s{new SimSensor};
    uint64_t now = 0;

    explicit Model(const SimSensorConfig& config = SimSensorConfig()) {
        sim_sensor_init(s.get(), &config, 0);
    }
    SimPort Open(uint32_t index = 0) {
        SimPort port{};
        EXPECT_EQ(kSimOk, sim_sensor_open(s.get(), now, index, &port));
        return port;
    }
    // The boot loader's main (only) interface.
    SimPort OpenMain() {
        uint32_t n = sim_sensor_interface_count(s.get(), now);
        for (uint32_t i = 0; i < n; ++i) {
            SimInterface itf;
            sim_sensor_interface(s.get(), i, &itf);
            if (itf.isMain) return Open(i);
        }
        ADD_FAILURE() << "no main interface";
        return SimPort{};
    }
    uint32_t Set(const SimPort& port, const Report& r) {
        return sim_sensor_set_feature(s.get(), now, &port, r.data(), r.size());
    }
    uint32_t Get(const SimPort& port, Report* reply) {
        *reply = ReplyRequest();
        return sim_sensor_get_feature(s.get(), now, &port, reply->data(), reply->size());
    }
    // One exchange; answers the reply's status byte, or 0x100 + error when a call failed.
    unsigned Exchange(const SimPort& port, const Report& command, Report* reply = nullptr) {
        Report local;
        Report* r = reply != nullptr ? reply : &local;
        uint32_t e = Set(port, command);
        if (e != kSimOk) return 0x100 + e;
        e = Get(port, r);
        if (e != kSimOk) return 0x100 + e;
        return (*r)[3];
    }
    void SwitchToBoot() {
        SimPort port = OpenMain();
        const uint8_t request[2] = {0x02, 0x02};
        ASSERT_EQ(kSimOk, sim_sensor_set_feature(s.get(), now, &port, request, 2));
        now += s->config.bootAppearDelayMs;
        ASSERT_EQ(kSimModeBootLoader, (sim_sensor_advance(s.get(), now), s->mode));
    }
    std::vector<uint8_t> Flash(uint32_t address, uint32_t length) {
        std::vector<uint8_t> out(length);
        sim_sensor_read_flash(s.get(), address, out.data(), length);
        return out;
    }
};

SimSensorConfig BootConfig(uint16_t bootVersion = 0x0011) {
    SimSensorConfig c;
    c.startInBootLoader = 1;
    c.bootLoaderVersion = bootVersion;
    return c;
}

// ---- Interfaces ------------------------------------------------------------------------

struct InterfaceCase {
    const char* name;
    uint16_t family;
    uint8_t boot;
    uint16_t product;
    uint16_t version;
    uint16_t usagePage;
    uint16_t usage;
    uint16_t featureLength;
    uint16_t outputLength;
};

class InterfaceTable : public ::testing::TestWithParam<InterfaceCase> {};

TEST_P(InterfaceTable, MainInterfaceOfEachModeAndFamily) {
    const InterfaceCase& c = GetParam();
    SimSensorConfig config = sim_sensor_config_for_family(c.family);
    config.startInBootLoader = c.boot;
    config.bootLoaderVersion = 0x0012;
    Model m(config);
    ASSERT_EQ(1u, sim_sensor_interface_count(m.s.get(), 0));
    SimInterface itf;
    ASSERT_EQ(1, sim_sensor_interface(m.s.get(), 0, &itf));
    EXPECT_EQ(0xF0A5, itf.vendorId);
    EXPECT_EQ(c.product, itf.productId);
    EXPECT_EQ(c.version, itf.versionNumber);
    EXPECT_EQ(c.usagePage, itf.collection.usagePage);
    EXPECT_EQ(c.usage, itf.collection.usage);
    EXPECT_EQ(c.featureLength, itf.collection.featureReportLength);
    EXPECT_EQ(c.outputLength, itf.collection.outputReportLength);
    EXPECT_EQ(1, itf.isMain);
    EXPECT_EQ(0, sim_sensor_interface(m.s.get(), 1, &itf));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, InterfaceTable,
    ::testing::Values(
        InterfaceCase{"family0", 0, 0, 0x0090, 0x0140, 0x000D, 0x0002, 2, 0},
        InterfaceCase{"family1", 1, 0, 0x00E6, 0x0139, 0xFF00, 0x0001, 9, 0},
        InterfaceCase{"boot0", 0, 1, 0x0094, 0x0012, 0x000D, 0x0001, 137, 65},
        InterfaceCase{"boot1", 1, 1, 0x0094, 0x0012, 0x000D, 0x0001, 137, 65}),
    [](const ::testing::TestParamInfo<InterfaceCase>& info) { return info.param.name; });

TEST(SimModel, ExtraCollectionsAreListedBeforeAndAfterTheMainOne) {
    SimSensorConfig c;
    c.extraBefore[0] = {0x0001, 0x0002, 5, 0, 0, 1};
    c.extraBefore[1] = {0x000D, 0x0004, 20, 0, 0, 1};
    c.extraBeforeCount = 2;
    c.extraAfter[0] = {0x000D, 0x000E, 3, 0, 3, 0};  // held by another program
    c.extraAfterCount = 1;
    Model m(c);
    ASSERT_EQ(4u, sim_sensor_interface_count(m.s.get(), 0));
    SimPort port;
    EXPECT_EQ(kSimErrAccessDenied, sim_sensor_open(m.s.get(), 0, 3, &port));
    EXPECT_EQ(kSimOk, sim_sensor_open(m.s.get(), 0, 1, &port));
    const uint16_t usages[4][2] = {{1, 2}, {0xD, 4}, {0xD, 2}, {0xD, 0xE}};
    for (uint32_t i = 0; i < 4; ++i) {
        SimInterface itf;
        ASSERT_EQ(1, sim_sensor_interface(m.s.get(), i, &itf));
        EXPECT_EQ(0x0090, itf.productId) << i;
        EXPECT_EQ(usages[i][0], itf.collection.usagePage) << i;
        EXPECT_EQ(usages[i][1], itf.collection.usage) << i;
        EXPECT_EQ(i == 2 ? 1 : 0, itf.isMain) << i;
    }
}

TEST(SimModel, FeatureReportsOnlyOnTheMainCollection) {
    SimSensorConfig c;
    c.extraBefore[0] = {0x0001, 0x0002, 5, 0, 0, 1};
    c.extraBeforeCount = 1;
    Model m(c);
    SimPort mouse = m.Open(0);
    const uint8_t request[2] = {0x02, 0x02};
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_set_feature(m.s.get(), 0, &mouse, request, 2));
    EXPECT_EQ(kSimModeNormal, m.s->mode);
}

TEST(SimModel, OpenRefusalsAreCounted) {
    SimSensorConfig c;
    c.faults.normalUnopenable = 1;
    Model m(c);
    SimPort port;
    EXPECT_EQ(kSimErrAccessDenied, sim_sensor_open(m.s.get(), 0, 0, &port));
    EXPECT_EQ(kSimErrFileNotFound, sim_sensor_open(m.s.get(), 0, 1, &port));
    EXPECT_EQ(1u, m.s->counters.openDenials);
}

TEST(SimModel, OpenDeniedForAWhileAfterEachAppearance) {
    SimSensorConfig c;
    c.faults.openDeniedAfterAppearMs = 300;
    c.bootAppearDelayMs = 1000;
    Model m(c);
    SimPort port;
    m.now = 299;
    EXPECT_EQ(kSimErrAccessDenied, sim_sensor_open(m.s.get(), m.now, 0, &port));
    m.now = 300;
    ASSERT_EQ(kSimOk, sim_sensor_open(m.s.get(), m.now, 0, &port));
    const uint8_t request[2] = {0x02, 0x02};
    ASSERT_EQ(kSimOk, sim_sensor_set_feature(m.s.get(), m.now, &port, request, 2));
    m.now = 1300 + 299;  // boot loader appeared at 1300
    EXPECT_EQ(kSimErrAccessDenied, sim_sensor_open(m.s.get(), m.now, 0, &port));
    m.now = 1300 + 300;
    EXPECT_EQ(kSimOk, sim_sensor_open(m.s.get(), m.now, 0, &port));
    EXPECT_EQ(2u, m.s->counters.openDenials);
}

// ---- Normal-mode reports ------------------------------------------------------------------

struct WordCase {
    uint16_t report5;
    uint16_t report6;
    uint8_t b5[2];
    uint8_t b6[2];
};

class WordReports : public ::testing::TestWithParam<WordCase> {};

TEST_P(WordReports, Family1AnswersReports5And6BigEndianInBytes7And8) {
    SimSensorConfig c = sim_sensor_config_for_family(1);
    c.report5Word = GetParam().report5;
    c.report6Word = GetParam().report6;
    Model m(c);
    SimPort port = m.Open();
    for (uint8_t id : {5, 6}) {
        uint8_t buffer[9] = {id};
        ASSERT_EQ(kSimOk, sim_sensor_get_feature(m.s.get(), 0, &port, buffer, 9));
        const uint8_t* expect = id == 5 ? GetParam().b5 : GetParam().b6;
        EXPECT_EQ(id, buffer[0]);
        EXPECT_EQ(expect[0], buffer[7]) << int(id);
        EXPECT_EQ(expect[1], buffer[8]) << int(id);
    }
}

INSTANTIATE_TEST_SUITE_P(Words, WordReports,
                         ::testing::Values(WordCase{0x0006, 0x0001, {0x00, 0x06}, {0x00, 0x01}},
                                           WordCase{0x0180, 0xABCD, {0x01, 0x80}, {0xAB, 0xCD}}));

TEST(SimModel, ReportWordsFailWhereConfiguredOrUndeclared) {
    SimSensorConfig c = sim_sensor_config_for_family(1);
    c.faults.failReport6 = 1;
    Model m1(c);
    SimPort port = m1.Open();
    uint8_t buffer[9] = {5};
    EXPECT_EQ(kSimOk, sim_sensor_get_feature(m1.s.get(), 0, &port, buffer, 9));
    buffer[0] = 6;
    EXPECT_EQ(kSimErrGenFailure, sim_sensor_get_feature(m1.s.get(), 0, &port, buffer, 9));
    EXPECT_EQ(1u, m1.s->counters.report6Failures);
    EXPECT_EQ(0u, m1.s->counters.report5Failures);
    buffer[0] = 5;
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_get_feature(m1.s.get(), 0, &port, buffer, 8));

    Model m0;  // family 0 declares no reports 5 and 6
    SimPort port0 = m0.Open();
    buffer[0] = 5;
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_get_feature(m0.s.get(), 0, &port0, buffer, 9));
}

// ---- Switch to the boot loader -------------------------------------------------------------

TEST(SimModel, SwitchLeavesTheBusAtOnceAndTheBootLoaderAppearsAfterTheDelay) {
    SimSensorConfig c;
    c.bootAppearDelayMs = 5000;
    Model m(c);
    m.now = 100;
    SimPort port = m.Open();
    const uint8_t request[2] = {0x02, 0x02};
    ASSERT_EQ(kSimOk, sim_sensor_set_feature(m.s.get(), m.now, &port, request, 2));
    EXPECT_EQ(kSimModeAbsent, m.s->mode);
    EXPECT_EQ(0u, sim_sensor_interface_count(m.s.get(), 100));
    EXPECT_EQ(0u, sim_sensor_interface_count(m.s.get(), 5099));
    uint64_t due = 0;
    ASSERT_EQ(1, sim_sensor_next_change(m.s.get(), &due));
    EXPECT_EQ(5100u, due);
    EXPECT_EQ(1u, sim_sensor_interface_count(m.s.get(), 5100));
    EXPECT_EQ(kSimModeBootLoader, m.s->mode);
    EXPECT_EQ(0, sim_sensor_next_change(m.s.get(), &due));
    EXPECT_EQ(1u, m.s->counters.switchRequests);
    EXPECT_EQ(2u, m.s->counters.appearances);

    // The port of the normal-mode appearance is stale now.
    EXPECT_EQ(kSimErrNotConnected, sim_sensor_set_feature(m.s.get(), 5100, &port, request, 2));

    const std::vector<SimTranscriptEntry>& t = m.s->transcript;
    ASSERT_EQ(4u, t.size());
    EXPECT_EQ(kSimEventSetFeature, t[0].kind);
    EXPECT_EQ(kSimToDevice, t[0].direction);
    EXPECT_EQ(100u, t[0].timeMs);
    EXPECT_EQ(2u, t[0].length);
    EXPECT_EQ(0x02, t[0].data[0]);
    EXPECT_EQ(0x02, t[0].data[1]);
    EXPECT_EQ(kSimEventModeChange, t[1].kind);
    EXPECT_EQ(100u, t[1].timeMs);
    EXPECT_EQ(kSimModeNormal, t[1].fromMode);
    EXPECT_EQ(kSimModeAbsent, t[1].toMode);
    EXPECT_EQ(kSimEventModeChange, t[2].kind);
    EXPECT_EQ(5100u, t[2].timeMs);
    EXPECT_EQ(kSimModeBootLoader, t[2].toMode);
    EXPECT_EQ(0x0094, t[2].productId);
    EXPECT_EQ(kSimErrNotConnected, t[3].outcome);
}

TEST(SimModel, OtherRequestBytesInReport2DoNothing) {
    Model m;
    SimPort port = m.Open();
    const uint8_t request[2] = {0x02, 0x01};
    EXPECT_EQ(kSimOk, sim_sensor_set_feature(m.s.get(), 0, &port, request, 2));
    EXPECT_EQ(kSimModeNormal, m.s->mode);
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_set_feature(m.s.get(), 0, &port, request, 1));
    EXPECT_EQ(0u, m.s->counters.switchRequests);
}

TEST(SimModel, RefusedSwitchAndBootLoaderThatNeverAppears) {
    SimSensorConfig refused;
    refused.faults.switchRefused = 1;
    Model m1(refused);
    SimPort port = m1.Open();
    const uint8_t request[2] = {0x02, 0x02};
    EXPECT_EQ(kSimErrGenFailure, sim_sensor_set_feature(m1.s.get(), 0, &port, request, 2));
    EXPECT_EQ(kSimModeNormal, m1.s->mode);
    EXPECT_EQ(1u, m1.s->counters.switchRefusals);

    SimSensorConfig never;
    never.faults.bootLoaderNeverAppears = 1;
    Model m2(never);
    SimPort port2 = m2.Open();
    EXPECT_EQ(kSimOk, sim_sensor_set_feature(m2.s.get(), 0, &port2, request, 2));
    EXPECT_EQ(0u, sim_sensor_interface_count(m2.s.get(), 10'000'000));
    EXPECT_EQ(kSimModeAbsent, m2.s->mode);
}

// ---- Boot-loader commands on the flash model ------------------------------------------------

TEST(SimModel, ReplyBeforeAnyCommandIsNoCommandAndARepeatedGetAnswersTheSameReply) {
    Model m(BootConfig());
    SimPort port = m.Open();
    Report reply;
    ASSERT_EQ(kSimOk, m.Get(port, &reply));
    EXPECT_EQ(0x02, reply[0]);
    EXPECT_EQ(0xFF, reply[1]);
    EXPECT_EQ(0xFF, reply[2]);
    EXPECT_EQ(0xFF, reply[3]);
    auto data = Pattern(1);
    ASSERT_EQ(kSimOk, m.Set(port, BootCommand(1, 7, 0x4000, 0x10, data.data(), 128)));
    Report first, second;
    ASSERT_EQ(kSimOk, m.Get(port, &first));
    ASSERT_EQ(kSimOk, m.Get(port, &second));
    EXPECT_EQ(first, second);
    EXPECT_EQ(0x01, first[1]);
    EXPECT_EQ(7, first[2]);
    EXPECT_EQ(0, first[3]);
    for (size_t i = 4; i < first.size(); ++i) EXPECT_EQ(0, first[i]) << i;
}

TEST(SimModel, EraseClearsExactlyItsBlock) {
    for (uint8_t block = 0; block < kSimEraseBlockCount; ++block) {
        Model m(BootConfig());  // old firmware: the application area is not 0xFF
        SimPort port = m.Open();
        Report reply;
        ASSERT_EQ(0u, m.Exchange(port, EraseCommand(block), &reply)) << int(block);
        EXPECT_EQ(0x00, reply[1]);
        EXPECT_EQ(block, reply[2]);
        const SimEraseBlock& b = kSimEraseBlocks[block];
        std::vector<uint8_t> inside = m.Flash(b.start, b.length);
        for (uint8_t v : inside) ASSERT_EQ(0xFF, v) << int(block);
        // The bytes just outside the block keep their content.
        uint8_t before = m.Flash(b.start - 1, 1)[0];
        Model fresh(BootConfig());
        EXPECT_EQ(fresh.Flash(b.start - 1, 1)[0], before) << int(block);
        if (b.start + b.length < kSimFlashSize) {
            EXPECT_EQ(fresh.Flash(b.start + b.length, 1)[0], m.Flash(b.start + b.length, 1)[0]);
        }
    }
}

TEST(SimModel, EraseBlocksCoverTheApplicationAreaAndBothMarks) {
    uint32_t next = kSimBootLoaderEnd;
    for (const SimEraseBlock& b : kSimEraseBlocks) {
        EXPECT_EQ(next, b.start);
        next = b.start + b.length;
    }
    EXPECT_EQ(kSimFlashSize, next);
    EXPECT_GT(next, kSimMarkAddress + 8);
}

struct StatusCase {
    const char* name;
    uint8_t opcode;
    uint32_t address;
    uint8_t units;
    uint8_t status;
};

class CommandStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(CommandStatus, RefusedCommandsLeaveTheFlashAlone) {
    const StatusCase& c = GetParam();
    SimSensorConfig config = BootConfig();
    config.flashContent = kSimFlashErased;
    Model m(config);
    SimPort port = m.Open();
    auto zeros = std::array<uint8_t, 128>{};
    Report reply;
    EXPECT_EQ(c.status, m.Exchange(port, BootCommand(c.opcode, 9, c.address, c.units, zeros.data(), 128), &reply));
    EXPECT_EQ(c.opcode, reply[1]);
    EXPECT_EQ(9, reply[2]);
    if (c.status != 0 && c.address < kSimFlashSize) {
        for (uint8_t v : m.Flash(c.address, 8)) EXPECT_EQ(0xFF, v);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, CommandStatus,
    ::testing::Values(StatusCase{"EraseBlock5", 0, 5, 0, kSimStatusBadAddress},
                      StatusCase{"ProgramBootLoader", 1, 0x3FF8, 1, kSimStatusProtected},
                      StatusCase{"ProgramUnaligned", 1, 0x4004, 1, kSimStatusBadLength},
                      StatusCase{"ProgramLength0", 1, 0x4000, 0, kSimStatusBadLength},
                      StatusCase{"ProgramLength17", 1, 0x4000, 17, kSimStatusBadLength},
                      StatusCase{"ProgramPastEnd", 1, 0x27F80 + 8, 0x10, kSimStatusBadAddress},
                      StatusCase{"ProgramLastBlock", 1, 0x27F80, 0x10, kSimStatusDone},
                      StatusCase{"VerifyBootLoader", 2, 0x0000, 1, kSimStatusProtected},
                      StatusCase{"UnknownOpcode", 7, 0x4000, 1, kSimStatusBadOpcode}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

TEST(SimModel, ProgramIsNorProgrammingAndVerifyComparesTheFlash) {
    SimSensorConfig config = BootConfig();
    Model m(config);
    SimPort port = m.Open();
    auto a = Pattern(0x11);
    auto b = Pattern(0x5E);
    ASSERT_EQ(0u, m.Exchange(port, EraseCommand(0)));
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 1, 0x4000, 0x10, a.data(), 128)));
    EXPECT_EQ(0u, m.Exchange(port, BootCommand(2, 1, 0x4000, 0x10, a.data(), 128)));
    // Programming again without an erase only clears more bits: the flash holds a AND b,
    // and a verify of b reports the difference.
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 2, 0x4000, 0x10, b.data(), 128)));
    EXPECT_EQ(kSimStatusMismatch, m.Exchange(port, BootCommand(2, 2, 0x4000, 0x10, b.data(), 128)));
    std::array<uint8_t, 128> both;
    for (size_t i = 0; i < 128; ++i) both[i] = a[i] & b[i];
    std::vector<uint8_t> flash = m.Flash(0x4000, 128);
    EXPECT_TRUE(std::equal(both.begin(), both.end(), flash.begin()));
    EXPECT_EQ(0u, m.Exchange(port, BootCommand(2, 3, 0x4000, 0x10, both.data(), 128)));
    // After an erase, b programs cleanly.
    ASSERT_EQ(0u, m.Exchange(port, EraseCommand(0)));
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 4, 0x4000, 0x10, b.data(), 128)));
    EXPECT_EQ(0u, m.Exchange(port, BootCommand(2, 4, 0x4000, 0x10, b.data(), 128)));
    EXPECT_EQ(3u, m.s->counters.programs);
    EXPECT_EQ(4u, m.s->counters.verifies);
    EXPECT_EQ(1u, m.s->counters.verifyMismatches);
}

TEST(SimModel, UnerasedFlashFailsTheVerifyOfAProgrammedBlock) {
    Model m(BootConfig());  // old firmware still in place
    SimPort port = m.Open();
    auto a = Pattern(0x33);
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 1, 0x8000, 0x10, a.data(), 128)));
    EXPECT_EQ(kSimStatusMismatch, m.Exchange(port, BootCommand(2, 1, 0x8000, 0x10, a.data(), 128)));
}

TEST(SimModel, TheMarkCommandProgramsOnlyEightBytes) {
    SimSensorConfig config = BootConfig();
    config.flashContent = kSimFlashErased;
    Model m(config);
    SimPort port = m.Open();
    auto zeros = std::array<uint8_t, 128>{};
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 1, kSimMarkAddress, 0x01, zeros.data(), 128)));
    std::vector<uint8_t> flash = m.Flash(kSimMarkAddress, 16);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(0x00, flash[i]) << i;
    for (size_t i = 8; i < 16; ++i) EXPECT_EQ(0xFF, flash[i]) << i;
    EXPECT_EQ(1, sim_sensor_image_valid(m.s.get()));
    // The mark compares on its first 8 bytes only.
    auto mark = MarkData();
    EXPECT_EQ(kSimStatusMismatch, m.Exchange(port, BootCommand(2, 1, kSimMarkAddress, 0x01, mark.data(), 128)));
    EXPECT_EQ(0u, m.Exchange(port, BootCommand(2, 1, kSimMarkAddress, 0x01, zeros.data(), 128)));
}

TEST(SimModel, BootReportsNeedTheirIdsAndFullLength) {
    Model m(BootConfig());
    SimPort port = m.Open();
    Report command = EraseCommand(0);
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_set_feature(m.s.get(), 0, &port, command.data(), 136));
    command[0] = 2;
    EXPECT_EQ(kSimErrInvalidParameter, m.Set(port, command));
    Report reply = ReplyRequest();
    reply[0] = 1;
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_get_feature(m.s.get(), 0, &port, reply.data(), 137));
    EXPECT_EQ(0u, m.s->counters.bootCommands);
}

// ---- Exit from the boot loader ---------------------------------------------------------------

void MarkValid(Model& m, const SimPort& port) {
    ASSERT_EQ(0u, m.Exchange(port, EraseCommand(3)));
    auto mark = MarkData();
    ASSERT_EQ(0u, m.Exchange(port, BootCommand(1, 1, kSimMarkAddress, 1, mark.data(), 128)));
}

struct ExitCase {
    const char* name;
    uint16_t bootVersion;
    uint8_t outputForm;  // 1: output report {0x00, 0x03}; 0: feature report {0x01, 0x03}
    uint8_t markValid;
    SimMode after;       // mode once the return delay has passed
};

class ExitTable : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitTable, ExitFormAndWriteMarkDecideWhereTheSensorComesBack) {
    const ExitCase& c = GetParam();
    SimSensorConfig config = BootConfig(c.bootVersion);
    config.returnDelayMs = 1500;
    Model m(config);
    SimPort port = m.Open();
    if (c.markValid) {
        MarkValid(m, port);
    } else {
        ASSERT_EQ(0u, m.Exchange(port, EraseCommand(3)));  // the mark is erased
    }
    m.now = 1000;
    if (c.outputForm) {
        std::vector<uint8_t> out(65, 0);
        out[1] = 0x03;
        ASSERT_EQ(kSimOk, sim_sensor_write_output(m.s.get(), m.now, &port, out.data(), 65));
    } else {
        ASSERT_EQ(kSimOk, m.Set(port, BootCommand(3, 0, 0, 0)));
    }
    bool takesEffect = (c.bootVersion >= 16) != (c.outputForm == 1);
    if (!takesEffect) {
        EXPECT_EQ(kSimModeBootLoader, m.s->mode);
        EXPECT_EQ(0u, m.s->counters.exits);
        return;
    }
    EXPECT_EQ(kSimModeAbsent, m.s->mode);
    EXPECT_EQ(0u, sim_sensor_interface_count(m.s.get(), 2499));
    ASSERT_EQ(1u, sim_sensor_interface_count(m.s.get(), 2500));
    EXPECT_EQ(c.after, m.s->mode);
    SimInterface itf;
    sim_sensor_interface(m.s.get(), 0, &itf);
    if (c.after == kSimModeNormal) {
        EXPECT_EQ(0x0090, itf.productId);
        EXPECT_EQ(0x0610, itf.versionNumber);
    } else {
        EXPECT_EQ(0x0094, itf.productId);
    }
    EXPECT_EQ(1u, m.s->counters.exits);
}

INSTANTIATE_TEST_SUITE_P(
    Exits, ExitTable,
    ::testing::Values(ExitCase{"Feature16Valid", 16, 0, 1, kSimModeNormal},
                      ExitCase{"Feature31Valid", 31, 0, 1, kSimModeNormal},
                      ExitCase{"Feature40Valid", 40, 0, 1, kSimModeNormal},
                      ExitCase{"Feature16NoMark", 16, 0, 0, kSimModeBootLoader},
                      ExitCase{"Output15Valid", 15, 1, 1, kSimModeNormal},
                      ExitCase{"Output12NoMark", 12, 1, 0, kSimModeBootLoader},
                      ExitCase{"FeatureIgnoredBy15", 15, 0, 1, kSimModeBootLoader},
                      ExitCase{"OutputIgnoredBy16", 16, 1, 1, kSimModeBootLoader}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

TEST(SimModel, Family1ComesBackWithItsNewReport5Word) {
    SimSensorConfig config = sim_sensor_config_for_family(1);
    config.startInBootLoader = 1;
    Model m(config);
    SimPort port = m.Open();
    MarkValid(m, port);
    ASSERT_EQ(kSimOk, m.Set(port, BootCommand(3, 0, 0, 0)));
    m.now = config.returnDelayMs;
    SimPort normal = m.Open();
    SimInterface itf;
    sim_sensor_interface(m.s.get(), 0, &itf);
    EXPECT_EQ(0x00E6, itf.productId);
    EXPECT_EQ(0x0139, itf.versionNumber);
    uint8_t buffer[9] = {5};
    ASSERT_EQ(kSimOk, sim_sensor_get_feature(m.s.get(), m.now, &normal, buffer, 9));
    EXPECT_EQ(0x00, buffer[7]);
    EXPECT_EQ(0x06, buffer[8]);
}

TEST(SimModel, SensorThatNeverComesBack) {
    SimSensorConfig config = BootConfig();
    config.faults.neverReturns = 1;
    Model m(config);
    SimPort port = m.Open();
    ASSERT_EQ(kSimOk, m.Set(port, BootCommand(3, 0, 0, 0)));
    EXPECT_EQ(0u, sim_sensor_interface_count(m.s.get(), 100'000'000));
    EXPECT_EQ(kSimModeAbsent, m.s->mode);
}

TEST(SimModel, TheBootLoaderAfterAReturnAnswersNoCommandAgain) {
    SimSensorConfig config = BootConfig();
    Model m(config);
    SimPort port = m.Open();
    ASSERT_EQ(0u, m.Exchange(port, EraseCommand(3)));  // no valid mark: comes back in boot
    ASSERT_EQ(kSimOk, m.Set(port, BootCommand(3, 0, 0, 0)));
    m.now = config.returnDelayMs;
    SimPort again = m.Open();
    Report reply;
    ASSERT_EQ(kSimOk, m.Get(again, &reply));
    EXPECT_EQ(0xFF, reply[1]);
    EXPECT_EQ(kSimErrNotConnected, m.Get(port, &reply));  // the old appearance's port
}

// ---- Fault rules -----------------------------------------------------------------------------

// Sends program commands to the given addresses and records the outcome of each.
struct Sent {
    uint32_t setError;
    uint32_t getError;
    uint8_t opcode;
    uint8_t sequence;
    uint8_t status;
};

std::vector<Sent> SendPrograms(Model& m, const SimPort& port, const std::vector<uint32_t>& addresses) {
    std::vector<Sent> out;
    uint8_t sequence = 0;
    for (uint32_t address : addresses) {
        ++sequence;
        auto data = Pattern(sequence);
        Sent s{};
        s.setError = m.Set(port, BootCommand(1, sequence, address, 0x10, data.data(), 128));
        Report reply;
        s.getError = m.Get(port, &reply);
        s.opcode = reply[1];
        s.sequence = reply[2];
        s.status = reply[3];
        out.push_back(s);
    }
    return out;
}

struct RuleCase {
    const char* name;
    SimFaultKind kind;
    int16_t value;
    uint32_t times;
    // Expected per command at 0x7F80, 0x8000, 0x8080, 0x8000, 0x8000.
    uint8_t hits[5];
};

class RuleTable : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTable, FiresOnTheNamedAddressAsOftenAsConfigured) {
    const RuleCase& c = GetParam();
    SimSensorConfig config = BootConfig();
    config.flashContent = kSimFlashErased;
    config.faults.rules[0].kind = c.kind;
    config.faults.rules[0].opcode = 1;
    config.faults.rules[0].matchAddress = 1;
    config.faults.rules[0].address = 0x8000;
    config.faults.rules[0].times = c.times;
    config.faults.rules[0].value = c.value;
    Model m(config);
    SimPort port = m.Open();
    std::vector<Sent> sent = SendPrograms(m, port, {0x7F80, 0x8000, 0x8080, 0x8000, 0x8000});
    uint32_t fired = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const Sent& s = sent[i];
        uint8_t seq = static_cast<uint8_t>(i + 1);
        if (!c.hits[i]) {
            EXPECT_EQ(kSimOk, s.setError) << i;
            EXPECT_EQ(kSimOk, s.getError) << i;
            EXPECT_EQ(1, s.opcode) << i;
            EXPECT_EQ(seq, s.sequence) << i;
            // Commands 4 and 5 program the already programmed 0x8000 again with other data;
            // NOR programming accepts that (a verify would tell).
            EXPECT_EQ(0, s.status) << i;
            continue;
        }
        ++fired;
        switch (c.kind) {
            case kSimFaultFailSet:
                EXPECT_EQ(kSimErrGenFailure, s.setError) << i;
                break;
            case kSimFaultFailGet:
                EXPECT_EQ(kSimOk, s.setError) << i;
                EXPECT_EQ(kSimErrGenFailure, s.getError) << i;
                break;
            case kSimFaultRefuse:
                EXPECT_EQ(1, s.opcode) << i;
                EXPECT_EQ(seq, s.sequence) << i;
                EXPECT_EQ(c.value < 0 ? 1 : c.value, s.status) << i;
                break;
            case kSimFaultWrongOpcode:
                EXPECT_EQ(c.value < 0 ? 0x81 : c.value, s.opcode) << i;
                EXPECT_EQ(seq, s.sequence) << i;
                EXPECT_EQ(0, s.status) << i;
                break;
            case kSimFaultWrongSequence:
                EXPECT_EQ(1, s.opcode) << i;
                EXPECT_EQ(c.value < 0 ? (seq ^ 0x80) : c.value, s.sequence) << i;
                EXPECT_EQ(0, s.status) << i;
                break;
            default:
                FAIL();
        }
    }
    EXPECT_EQ(fired, m.s->counters.ruleFired[0]);
    EXPECT_EQ(5u, m.s->counters.bootCommands);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RuleTable,
    ::testing::Values(RuleCase{"FailSetOnce", kSimFaultFailSet, -1, 1, {0, 1, 0, 0, 0}},
                      RuleCase{"FailSetEvery", kSimFaultFailSet, -1, kSimEveryTime, {0, 1, 0, 1, 1}},
                      RuleCase{"FailGetTwice", kSimFaultFailGet, -1, 2, {0, 1, 0, 1, 0}},
                      RuleCase{"RefuseOnce", kSimFaultRefuse, -1, 1, {0, 1, 0, 0, 0}},
                      RuleCase{"RefuseStatus5", kSimFaultRefuse, 5, kSimEveryTime, {0, 1, 0, 1, 1}},
                      RuleCase{"WrongOpcode", kSimFaultWrongOpcode, -1, 1, {0, 1, 0, 0, 0}},
                      RuleCase{"WrongOpcodeAs2", kSimFaultWrongOpcode, 2, 1, {0, 1, 0, 0, 0}},
                      RuleCase{"WrongSequence", kSimFaultWrongSequence, -1, kSimEveryTime, {0, 1, 0, 1, 1}},
                      RuleCase{"WrongSequenceAs0", kSimFaultWrongSequence, 0, 1, {0, 1, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return info.param.name; });

TEST(SimModel, RefusedAndFailedSetCommandsAreNotCarriedOut) {
    for (SimFaultKind kind : {kSimFaultRefuse, kSimFaultFailSet}) {
        SimSensorConfig config = BootConfig();
        config.flashContent = kSimFlashErased;
        config.faults.rules[0].kind = kind;
        config.faults.rules[0].opcode = 1;
        Model m(config);
        SimPort port = m.Open();
        SendPrograms(m, port, {0x4000});
        for (uint8_t v : m.Flash(0x4000, 128)) ASSERT_EQ(0xFF, v) << int(kind);
        EXPECT_EQ(0u, m.s->counters.programs);
    }
}

TEST(SimModel, RulesByCommandNumber) {
    SimSensorConfig config = BootConfig();
    config.flashContent = kSimFlashErased;
    config.faults.rules[0].kind = kSimFaultFailSet;
    config.faults.rules[0].commandNumber = 3;
    config.faults.rules[1].kind = kSimFaultFailGet;
    config.faults.rules[1].commandNumber = 2;
    Model m(config);
    SimPort port = m.Open();
    std::vector<Sent> sent = SendPrograms(m, port, {0x4000, 0x4080, 0x4100, 0x4180});
    EXPECT_EQ(kSimOk, sent[0].setError);
    EXPECT_EQ(kSimOk, sent[0].getError);
    EXPECT_EQ(kSimOk, sent[1].setError);
    EXPECT_EQ(kSimErrGenFailure, sent[1].getError);
    EXPECT_EQ(kSimErrGenFailure, sent[2].setError);
    EXPECT_EQ(kSimOk, sent[3].setError);
    EXPECT_EQ(kSimOk, sent[3].getError);
    EXPECT_EQ(4, sent[3].sequence);
    EXPECT_EQ(1u, m.s->counters.ruleFired[0]);
    EXPECT_EQ(1u, m.s->counters.ruleFired[1]);
}

TEST(SimModel, RuleForTheFirstMarkByOpcodeAndAddress) {
    SimSensorConfig config = BootConfig();
    config.faults.rules[0].kind = kSimFaultRefuse;
    config.faults.rules[0].opcode = 2;  // only the mark's verify, not its programming
    config.faults.rules[0].matchAddress = 1;
    config.faults.rules[0].address = kSimMarkAddress;
    Model m(config);
    SimPort port = m.Open();
    auto mark = MarkData();
    EXPECT_EQ(0u, m.Exchange(port, BootCommand(1, 1, kSimMarkAddress, 1, mark.data(), 128)));
    EXPECT_EQ(1u, m.Exchange(port, BootCommand(2, 1, kSimMarkAddress, 1, mark.data(), 128)));
    EXPECT_EQ(1u, m.s->counters.ruleFired[0]);
}

TEST(SimModel, DeviceGoneAtACommand) {
    SimSensorConfig config = BootConfig();
    config.faults.rules[0].kind = kSimFaultDeviceGone;
    config.faults.rules[0].commandNumber = 2;
    Model m(config);
    SimPort port = m.Open();
    EXPECT_EQ(0u, m.Exchange(port, EraseCommand(0)));
    EXPECT_EQ(0x100 + kSimErrNotConnected, m.Exchange(port, EraseCommand(1)));
    EXPECT_EQ(kSimModeGone, m.s->mode);
    EXPECT_EQ(0u, sim_sensor_interface_count(m.s.get(), 1'000'000'000));
    Report reply;
    EXPECT_EQ(kSimErrNotConnected, m.Get(port, &reply));
    EXPECT_EQ(kSimErrNotConnected, m.Set(port, EraseCommand(2)));
    SimPort again;
    EXPECT_EQ(kSimErrFileNotFound, sim_sensor_open(m.s.get(), m.now, 0, &again));
    EXPECT_EQ(1u, m.s->counters.ruleFired[0]);
    EXPECT_EQ(1u, m.s->counters.erases);
}

TEST(SimModel, OutputWritesStayPendingAsOftenAsConfigured) {
    SimSensorConfig config = BootConfig(12);
    config.faults.outputWriteHangs = 2;
    Model m(config);
    SimPort port = m.Open();
    std::vector<uint8_t> out(65, 0);
    out[1] = 0x03;
    EXPECT_EQ(kSimErrIoPending, sim_sensor_write_output(m.s.get(), 0, &port, out.data(), 65));
    EXPECT_EQ(kSimModeBootLoader, m.s->mode);  // a pending write never arrives
    EXPECT_EQ(kSimErrIoPending, sim_sensor_write_output(m.s.get(), 0, &port, out.data(), 65));
    EXPECT_EQ(kSimErrInvalidParameter, sim_sensor_write_output(m.s.get(), 0, &port, out.data(), 64));
    EXPECT_EQ(kSimOk, sim_sensor_write_output(m.s.get(), 0, &port, out.data(), 65));
    EXPECT_EQ(kSimModeAbsent, m.s->mode);
    EXPECT_EQ(2u, m.s->counters.outputHangs);
}

TEST(SimModel, AFullTranscriptDropsAndCountsWithoutGrowing) {
    SimSensorConfig config = BootConfig();
    config.transcriptCapacity = 3;
    Model m(config);
    SimPort port = m.Open();
    for (uint8_t i = 0; i < 3; ++i) m.Exchange(port, EraseCommand(i));
    EXPECT_EQ(3u, m.s->transcript.size());
    EXPECT_EQ(3u, m.s->transcript.capacity());
    EXPECT_EQ(3u, m.s->transcriptDropped);
}

TEST(SimModel, TwoSensorsAreIndependent) {
    Model a(BootConfig());
    Model b(BootConfig());
    SimPort pa = a.Open();
    ASSERT_EQ(0u, a.Exchange(pa, EraseCommand(0)));
    EXPECT_EQ(0xFF, a.Flash(0x4000, 1)[0]);
    EXPECT_NE(0xFF, b.Flash(0x4000, 1)[0]);
    EXPECT_EQ(0u, b.s->counters.bootCommands);
}

}  // namespace
