#include "fuzz_platform.h"

#include <cstdio>
#include <cstring>

#include "platform/hid.h"
#include "platform/records.h"
#include "platform/system.h"
#include "platform/view.h"

FuzzMachine fuzzMachine;

namespace {

constexpr uint32_t kGenFailure = 31;  // ERROR_GEN_FAILURE: the device stalled the request
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kReportLength = 137;

// One interface list object; the core only passes it back.
int listToken;

// The one failure result these answers give: the code is what the diagnostic line shows.
PlatResult Fail(uint32_t code) {
    return PlatResult{PlatStatus::IoError, code};
}

constexpr PlatResult kSucceeded{PlatStatus::Ok, 0};

uint8_t NextByte(uint8_t fallback) {
    FuzzMachine& m = fuzzMachine;
    if (m.streamPos >= m.streamSize) return fallback;
    return m.stream[m.streamPos++];
}

}  // namespace

// The sensor's one interface; the core only passes it back.
struct HidConnection {
    int unused;
};

namespace {

HidConnection sensorConnection;

}  // namespace

void fuzz_machine_reset(const FuzzSetup& setup, const uint8_t* stream, size_t streamSize) {
    FuzzMachine& m = fuzzMachine;
    // The big arrays are rewritten before they are read; only the counters start over.
    m.setup = setup;
    m.stream = stream;
    m.streamSize = streamSize;
    m.streamPos = 0;
    m.inBootLoader = setup.startInBootLoader;
    m.nowMs = 0x10000;
    m.opens = m.closes = m.badCloses = 0;
    m.listsOut = 0;
    m.switchRequests = m.outputWrites = 0;
    m.lastOutput[0] = m.lastOutput[1] = 0;
    m.commandCount = 0;
    m.pendingSelector = 0;
    m.systemTextSet = 0;
    m.systemText[0] = '\0';
    m.lineCount = 0;
    m.progressSteps = m.progressMessages = 0;
}

// ---- hid.h, system.h, records.h -----------------------------------------------------------

HidInterfaceList* plat_hid_list_present() {
    ++fuzzMachine.listsOut;
    return reinterpret_cast<HidInterfaceList*>(&listToken);
}

namespace {

HidInterfaceInfo SensorInfo() {
    if (fuzzMachine.inBootLoader) {
        const uint16_t version = fuzzMachine.setup.bootLoaderVersion;
        return HidInterfaceInfo{0xF0A5, 0x0094, version, 0x000D, 0x0001, 65};
    }
    return HidInterfaceInfo{0xF0A5, 0x0090, 0x0140, 0x000D, 0x0002, 0};
}

}  // namespace

int plat_hid_list_entry(HidInterfaceList*, uint32_t index, char* path, size_t pathCapacity,
                        HidInterfaceInfo* info) {
    if (index != 0 || pathCapacity < 8) return kHidListEnd;
    std::memcpy(path, "sensor", 7);
    *info = SensorInfo();
    return kHidListFound;
}

void plat_hid_list_release(HidInterfaceList* list) {
    if (list != nullptr) --fuzzMachine.listsOut;
}

PlatResult plat_hid_open(const char*, HidConnection** connection, HidInterfaceInfo* info) {
    *connection = nullptr;
    if (fuzzMachine.opens != fuzzMachine.closes) {
        // One record at a time: the core never holds two.
        return PlatResult{PlatStatus::NoAccess, 32};  // ERROR_SHARING_VIOLATION
    }
    ++fuzzMachine.opens;
    *connection = &sensorConnection;
    *info = SensorInfo();
    return kSucceeded;
}

void plat_hid_close(HidConnection* connection) {
    if (connection != &sensorConnection || fuzzMachine.opens == fuzzMachine.closes) {
        ++fuzzMachine.badCloses;
        return;
    }
    ++fuzzMachine.closes;
}

PlatResult plat_hid_set_feature(HidConnection* connection, const uint8_t* buffer,
                                uint32_t length) {
    FuzzMachine& m = fuzzMachine;
    if (connection != &sensorConnection || length == 0) return Fail(kInvalidParameter);
    if (!m.inBootLoader) {
        if (buffer[0] == 2 && length >= 2 && buffer[1] == 2) {
            ++m.switchRequests;
            if (m.setup.switchFails) return Fail(kGenFailure);
            m.inBootLoader = 1;  // it is back as the boot loader by the first poll
            return kSucceeded;
        }
        return Fail(kInvalidParameter);
    }
    if (m.commandCount >= kFuzzMaxCommands) return Fail(kGenFailure);
    FuzzCommand& c = m.commands[m.commandCount++];
    std::memset(&c, 0, sizeof c);
    std::memcpy(c.bytes, buffer, length < kReportLength ? length : kReportLength);
    c.length = length;
    m.pendingSelector = NextByte(0);
    if (m.pendingSelector == kFuzzSelectFailSet) {
        c.setFailed = 1;
        return Fail(kGenFailure);
    }
    return kSucceeded;
}

PlatResult plat_hid_get_feature(HidConnection* connection, uint8_t* buffer, uint32_t length) {
    FuzzMachine& m = fuzzMachine;
    if (connection != &sensorConnection || !m.inBootLoader || m.commandCount == 0 ||
        length < kReportLength) {
        return Fail(kInvalidParameter);
    }
    FuzzCommand& c = m.commands[m.commandCount - 1];
    c.getAsked = 1;
    const uint8_t selector = m.pendingSelector;
    if (selector == kFuzzSelectFailGet) {
        c.getFailed = 1;
        return Fail(kGenFailure);
    }
    std::memset(c.reply, 0, sizeof c.reply);
    if (selector >= kFuzzSelectRaw) {
        for (int i = 0; i < 4; ++i) c.reply[i] = NextByte(0);
    } else {
        c.reply[0] = 2;
        c.reply[1] = c.bytes[1];
        c.reply[2] = c.bytes[2];
        c.reply[3] = 0;
    }
    std::memset(buffer, 0, length);
    std::memcpy(buffer, c.reply, kReportLength);
    return kSucceeded;
}

// One sensor on one port: the boot loader it restarts into is found there too.
bool plat_hid_port(HidConnection*, char* port, size_t capacity) {
    return std::snprintf(port, capacity, "usb-fuzz-1") > 0;
}

PlatResult plat_hid_write_output(HidConnection* connection, const uint8_t* buffer,
                                 uint32_t length, uint32_t timeoutMs) {
    FuzzMachine& m = fuzzMachine;
    ++m.outputWrites;
    if (connection != &sensorConnection || length < 2) return Fail(kInvalidParameter);
    m.lastOutput[0] = buffer[0];
    m.lastOutput[1] = buffer[1];
    if (m.setup.outputWriteFails) {
        m.nowMs += timeoutMs;
        return PlatResult{PlatStatus::TimedOut, 995};  // ERROR_OPERATION_ABORTED
    }
    return kSucceeded;
}

void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met) {
    for (uint32_t i = 0; i < count; ++i) {
        const bool bootLoader = productIds[i] == 0x0094 && fuzzMachine.setup.bootLoaderMet;
        met[i] = vendorId == 0xF0A5 && (productIds[i] == 0x0090 || bootLoader);
    }
}

void plat_note_product_met(uint16_t, uint16_t) {}
size_t plat_describe_products_met(char* text, size_t) { text[0] = '\0'; return 0; }
size_t plat_products_met_clearing(uint16_t, uint16_t, char* text, size_t) {
    text[0] = '\0';
    return 0;
}
void plat_sleep(uint32_t milliseconds) { fuzzMachine.nowMs += milliseconds; }
uint32_t plat_tick_count() { return static_cast<uint32_t>(fuzzMachine.nowMs); }

size_t plat_error_text(uint32_t, char* buffer, size_t capacity) {
    if (!fuzzMachine.systemTextSet) return 0;
    const size_t length = std::strlen(fuzzMachine.systemText);
    if (length + 1 > capacity) return 0;  // FormatMessageA fails on a short buffer
    std::memcpy(buffer, fuzzMachine.systemText, length + 1);
    return length;
}

void plat_record_update(const UpdateRecord*) {}

// The scripted machine has no files: every firmware folder is empty.
bool plat_read_regular_file(const char*, uint8_t*, size_t, PlatFileRead* read) {
    *read = PlatFileRead{kFileMissing, 0, 0, ""};
    return false;
}

void plat_debug_output(const char* text) {
    FuzzMachine& m = fuzzMachine;
    // strlen here is also the check that the line is terminated inside its storage.
    const size_t length = std::strlen(text);
    if (m.lineCount < kFuzzMaxLines) {
        const size_t kept = length < kFuzzLineCapacity - 1 ? length : kFuzzLineCapacity - 1;
        std::memcpy(m.lines[m.lineCount], text, kept);
        m.lines[m.lineCount][kept] = '\0';
        m.lineLengths[m.lineCount] = static_cast<uint32_t>(length);
    }
    ++m.lineCount;
}

// ---- view.h -------------------------------------------------------------------------------

void view_show_text(View*, ViewText, const char*) {}
void view_enable_button(View*, ViewButton, bool) {}
void view_show_progress(View*, uint32_t done, uint32_t, bool restart) {
    ++fuzzMachine.progressMessages;
    if (done > 0 && !restart) ++fuzzMachine.progressSteps;
}
void view_enable_progress(View*, bool) {}
void view_show_window(View*, bool) {}
void view_show_error(View*, ViewError) {}
void view_show_state(View*, const RunState&) {}
void view_run_on_loop(View*, void (*)(void*), void*) {}
void plat_keep_awake(bool) {}
