#include "hardening_support.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "flash/flash_protocol.h"
#include "recording_view.h"
#include "update/firmware_catalogue.h"
#include "update/update_worker.h"

namespace {

View* const kView = reinterpret_cast<View*>(0x4711);

std::vector<AttemptRecord>& AttemptLog() {
    static std::vector<AttemptRecord> log;
    return log;
}

}  // namespace

// The worker calls RunWriteAndVerify once per attempt. The test binary is linked with
// --wrap on that symbol, so each call passes through here: the real sequence runs, and the
// handle counters of the simulated machine are read before and after it. That is how an
// attempt that leaves a device record open, or closes one twice, is told apart from the
// next attempt, which might otherwise hide it by ending in a clean state.
extern "C" UpdateResult __real__Z17RunWriteAndVerifyRK13FlashProgressPKhjP12UpdateTarget(
    const FlashProgress& progress, const uint8_t* image, uint32_t endAddress, UpdateTarget* target);
extern "C" UpdateResult __wrap__Z17RunWriteAndVerifyRK13FlashProgressPKhjP12UpdateTarget(
    const FlashProgress& progress, const uint8_t* image, uint32_t endAddress, UpdateTarget* target) {
    const SimCounters before = sim_counters();
    const UpdateResult result =
        __real__Z17RunWriteAndVerifyRK13FlashProgressPKhjP12UpdateTarget(progress, image, endAddress, target);
    const SimCounters after = sim_counters();
    AttemptRecord record;
    record.result = static_cast<uint32_t>(result);
    record.opensDuring = after.opens - before.opens;
    record.closesDuring = after.closes - before.closes;
    record.badClosesDuring = after.badCloses - before.badCloses;
    record.openHandlesAfter = after.openHandles;
    record.listsOpenAfter = after.listCreates - after.listReleases;
    AttemptLog().push_back(record);
    return result;
}

const std::vector<AttemptRecord>& Attempts() { return AttemptLog(); }

SensorInfo DefaultRequest(uint16_t family) {
    const SimSensorConfig config = sim_sensor_config_for_family(family);
    // As identification gives it: the product and the simulated machine's port too.
    SensorInfo sensor{family, config.normalVersion, family == 1 ? config.report5Word : kValueNotRead,
                      family == 1 ? config.report6Word : kValueNotRead,
                      static_cast<uint16_t>(family == 1 ? 0x00E6 : 0x0090)};
    std::snprintf(sensor.port, sizeof sensor.port, "usb-sim-1");
    return sensor;
}

WorkerRun RunWorker(const SimScenario& scenario, const SensorInfo* requestOverride,
                    uint32_t startAtMs) {
    recording_view_reset();
    sim_reset(scenario);
    sim_advance_ms(startAtMs);
    // Room for every attempt, so a long soak does not grow the log while it runs.
    AttemptLog().clear();
    AttemptLog().reserve(kMaxAttempts + 1);

    WorkerRun run;
    if (requestOverride != nullptr) {
        run.request = *requestOverride;
    } else {
        IdentifySensor(&run.request);
    }
    const size_t diagnosticsBefore = sim_debug_lines().size();

    UpdateRequest request{kView, run.request, nullptr};
    run.exitCode = UpdateWorker(&request);

    for (const AttemptRecord& a : AttemptLog()) run.results.push_back(a.result);
    run.status = recording_view_part(RecordedPart::Status).text;
    run.notice = recording_view_part(RecordedPart::Notice).text;
    run.currentVersion = recording_view_part(RecordedPart::CurrentVersion).text;
    const std::vector<std::string> currentTexts = recording_view_texts(RecordedPart::CurrentVersion);
    if (!currentTexts.empty()) run.currentBefore = currentTexts.front();
    run.newVersion = recording_view_part(RecordedPart::NewVersion).text;
    const std::vector<std::string> lines = sim_debug_lines();
    run.diagnostics.assign(lines.begin() + static_cast<std::ptrdiff_t>(diagnosticsBefore),
                           lines.end());
    const PartState progress = recording_view_part(RecordedPart::Progress);
    run.progressEnabled = progress.enabled;
    run.progressPos = progress.done;
    run.updateEnabled = recording_view_part(RecordedPart::Update).enabled;
    run.exitEnabled = recording_view_part(RecordedPart::Exit).enabled;
    return run;
}

std::string ExpectedMessage(uint32_t result) {
    switch (result) {
    case kResultOk: return TEXT_UPDATE_COMPLETE;
    case kResultBootTimeout: return "Failed to enter a flash mode.";
    case kResultWrite: return "Program Error. ";
    case kResultExit: return "Failed to entr a normal mode.";
    case kResultVerify: return "Verify Error";
    case kResultMark: return "";
    case kResultErase: return "Failed to erase a firmware.";
    case kResultSwitch: return "Failed to send a Feature Report.";
    case kResultMarkCheck: return "Failed to verify a updating mark.";
    case kResultUnsupported: return TEXT_MCU_MISMATCH;
    default: return "File type mismatch.";  // 6 among them
    }
}

std::string SequenceDiagnostic(uint32_t result) {
    switch (result) {
    case kResultNoSensor: return "Failed to detct ORVELL USB device";
    case kResultBootTimeout: return "Failed to set a boot mode.";
    case kResultSwitch: return "Failed to send the Feature Report.";
    case kResultErase: return "Filed to erase!!";
    case kResultWrite: return "Filed to write firmware!!";
    case kResultMark: return "Filed to erase a writing mark!!";
    case kResultVerify: return "Filed to verify firmware!!";
    case kResultMarkCheck: return "faild to verify a writing mark!!";
    case kResultExit: return "Filed to exit flash mode!!";
    default: return "";
    }
}

std::string DiagLine(const std::string& module, const std::string& message) {
    return "---------- < " + module + " > ---------\n" + message;
}

uint32_t ImageEnd(uint16_t kind) { return ImageEndAddress(ImageForKind(kind)); }

uint32_t ImageBlocks(uint16_t kind) { return (ImageEnd(kind) + 1 - kFlashStartAddress) / kFlashBlockSize; }

bool FlashHoldsImage(uint16_t kind) {
    const FirmwareImage& image = ImageForKind(kind);
    const uint32_t count = ImageEnd(kind) + 1 - kFlashStartAddress;
    std::vector<uint8_t> flash(count);
    sim_flash_read(kFlashStartAddress, flash.data(), count);
    return std::memcmp(flash.data(), ImageBytes(image), count) == 0;
}

bool MarkSet() {
    uint8_t mark[8];
    sim_flash_read(0x23FF8, mark, sizeof mark);
    static const uint8_t kPattern[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return std::memcmp(mark, kPattern, sizeof mark) == 0;
}

std::vector<uint8_t> ApplicationFlash() {
    std::vector<uint8_t> flash(0x28000 - kFlashStartAddress);
    sim_flash_read(kFlashStartAddress, flash.data(), static_cast<uint32_t>(flash.size()));
    return flash;
}

std::string Describe(const WorkerRun& run) {
    std::ostringstream out;
    out << "attempt results:";
    for (uint32_t r : run.results) out << ' ' << r;
    out << "; status \"" << run.status << "\"; sensor mode " << sim_mode_name(sim_mode())
        << "; diagnostics:";
    for (const std::string& line : run.diagnostics) {
        std::string flat = line;
        for (char& c : flat) {
            if (c == '\n' || c == '\r') c = '|';
        }
        out << "\n  " << flat;
    }
    return out.str();
}

int FailureCount() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}
