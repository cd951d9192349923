// The sim platform: every call of the platform seams answered by one simulated machine (the
// sensor model, interfaces of other devices, the USB products met, a virtual or real clock).
//
// One mutex guards the whole machine. Waits (plat_sleep, the per-command latency, the
// bounded output write on the real clock) happen outside it, so readers on other threads
// are never held up by a sleeping worker.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "platform/records.h"
#include "platform/system.h"
#include "platform/sim/sim_control.h"

namespace {

constexpr uint32_t kMaxHandles = 64;
constexpr uint32_t kMaxLists = 8;
constexpr uint32_t kMaxListed = kSimMaxOtherInterfaces + 2 * kSimMaxExtraCollections + 1;
constexpr uint32_t kPathCapacity = 160;
constexpr uintptr_t kHandleBase = 0x100;  // handles look like Windows ones: small multiples of 4

constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorSharingViolation = 32;

// One interface listed on the machine: either the sensor's interface `index` or
// others[index].
struct Listed {
    uint8_t isSensor;
    uint32_t index;
    char path[kPathCapacity];
    HidInterfaceInfo info;
};

struct ListSlot {
    uint8_t inUse;
    uint32_t count;
    Listed entries[kMaxListed];
};

struct HandleSlot {
    uint8_t inUse;
    uint32_t generation;  // opens of this slot so far: part of the handle value
    uint8_t isSensor;
    uint32_t otherIndex;  // others[otherIndex] when not the sensor
    SimPort port;
};

struct Machine {
    std::mutex mutex;
    bool started = false;
    SimScenario scenario;
    SimSensor sensor;
    SimCounters counters;
    HandleSlot handles[kMaxHandles];
    ListSlot lists[kMaxLists];
    uint32_t unreadablePathsAnswered;
    std::vector<std::string> debugLines;
    uint64_t virtualNowMs;
    SimStepHook stepHook = nullptr;
    void* stepContext = nullptr;
    // Where notices go: the program's, kept across resets.
    PlatNoticeHandler noticeHandler = nullptr;
    void* noticeContext = nullptr;
    uint32_t steps = 0;
    bool severed = false;
    std::chrono::steady_clock::time_point realStart;
    int64_t latencyOwedUs;  // real clock: command latency not yet slept off
};

Machine machine;

// ---- Clock and machine set-up (callers hold the mutex) --------------------------------

uint64_t NowLocked() {
    if (!machine.scenario.realTime) return machine.virtualNowMs;
    auto elapsed = std::chrono::steady_clock::now() - machine.realStart;
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void ResetLocked(const SimScenario& scenario) {
    machine.scenario = scenario;
    machine.started = true;
    machine.virtualNowMs = 0;
    machine.realStart = std::chrono::steady_clock::now();
    sim_sensor_init(&machine.sensor, &scenario.sensor, 0);
    std::memset(&machine.counters, 0, sizeof machine.counters);
    std::memset(machine.handles, 0, sizeof machine.handles);
    std::memset(machine.lists, 0, sizeof machine.lists);
    machine.unreadablePathsAnswered = 0;
    machine.debugLines.clear();
    machine.debugLines.reserve(64);
    machine.latencyOwedUs = 0;
    machine.steps = 0;
    machine.severed = false;
}

// A HID call begins: the test's hook sees it first.
void Step() {
    SimStepHook hook = nullptr;
    void* context = nullptr;
    uint32_t step = 0;
    {
        std::lock_guard<std::mutex> lock(machine.mutex);
        hook = machine.stepHook;
        context = machine.stepContext;
        step = ++machine.steps;
    }
    if (hook != nullptr) hook(context, step);
}

std::unique_lock<std::mutex> Lock() {
    std::unique_lock<std::mutex> lock(machine.mutex);
    if (!machine.started) ResetLocked(SimScenario());
    return lock;
}

// Milliseconds passing while the caller does not hold the mutex: on the virtual clock the
// clock moves at once, on the real one the thread sleeps.
void Wait(std::unique_lock<std::mutex>& lock, uint32_t milliseconds) {
    if (!machine.scenario.realTime) {
        machine.virtualNowMs += milliseconds;
        return;
    }
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    lock.lock();
}

// The time one feature set or get takes. On the real clock the latency is owed and slept
// off in pieces of at least 20 ms, measured: a system whose sleeps are coarse (Windows
// rounds to about 15.6 ms) then still averages the configured latency per command.
void CommandLatency(std::unique_lock<std::mutex>& lock) {
    uint32_t latency = machine.scenario.commandLatencyMs;
    if (latency == 0) return;
    if (!machine.scenario.realTime) {
        machine.virtualNowMs += latency;
        return;
    }
    constexpr int64_t kSliceUs = 20000;
    machine.latencyOwedUs += static_cast<int64_t>(latency) * 1000;
    if (machine.latencyOwedUs < kSliceUs) return;
    int64_t owed = machine.latencyOwedUs;
    lock.unlock();
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::microseconds(owed));
    auto slept = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start).count();
    lock.lock();
    machine.latencyOwedUs -= slept;
}

// ---- Interfaces on the machine ----------------------------------------------------------

const char kInterfaceClassGuid[] = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

HidInterfaceInfo InfoOf(uint16_t vendorId, uint16_t productId, uint16_t versionNumber,
                        const SimCollection& collection) {
    return HidInterfaceInfo{vendorId,
                            productId,
                            versionNumber,
                            collection.usagePage,
                            collection.usage,
                            collection.outputReportLength};
}

// The path of the sensor's interface `index` and what it is.
void SensorEntry(uint32_t index, Listed* out) {
    SimInterface itf{};
    sim_sensor_interface(&machine.sensor, index, &itf);
    *out = Listed{1, index, {},
                  InfoOf(itf.vendorId, itf.productId, itf.versionNumber, itf.collection)};
    char* path = out->path;
    // The appearance number is part of the instance, so a path taken before the sensor
    // re-enumerated no longer opens, as on Windows.
    std::snprintf(path, kPathCapacity, "\\\\?\\hid#vid_%04x&pid_%04x&col%02u#7&2a1b3c4d&%u&%04u#%s",
                  itf.vendorId, itf.productId, index + 1, machine.sensor.appearance, index,
                  kInterfaceClassGuid);
}

void OtherEntry(uint32_t index, Listed* out) {
    const SimOtherInterface& o = machine.scenario.others[index];
    *out = Listed{0, index, {}, InfoOf(o.vendorId, o.productId, o.versionNumber, o.collection)};
    char* path = out->path;
    std::snprintf(path, kPathCapacity, "\\\\?\\hid#vid_%04x&pid_%04x#6&1f2e3d4c&0&%04u#%s",
                  o.vendorId, o.productId, index, kInterfaceClassGuid);
}

// The interfaces present now, in the scenario's order.
uint32_t ListLocked(Listed* out) {
    const SimScenario& sc = machine.scenario;
    uint32_t sensorCount =
        sc.sensorAttached ? sim_sensor_interface_count(&machine.sensor, NowLocked()) : 0;
    uint32_t otherCount = sc.otherCount < kSimMaxOtherInterfaces ? sc.otherCount
                                                                 : kSimMaxOtherInterfaces;
    uint32_t position = sc.sensorPosition < otherCount ? sc.sensorPosition : otherCount;
    uint32_t n = 0;
    for (uint32_t i = 0; i < otherCount; ++i) {
        if (i == position) {
            for (uint32_t k = 0; k < sensorCount; ++k) SensorEntry(k, &out[n++]);
        }
        OtherEntry(i, &out[n++]);
    }
    if (position == otherCount) {
        for (uint32_t k = 0; k < sensorCount; ++k) SensorEntry(k, &out[n++]);
    }
    return n;
}

// A connection is a handle value, as a Windows HANDLE is, and is never dereferenced: the
// value names a slot and the slot's generation, so a value is never handed out twice in a
// run and closing a connection twice is always seen, even after its slot was reused.
HidConnection* HandleValue(uint32_t index) {
    uintptr_t number = index + kMaxHandles * static_cast<uintptr_t>(machine.handles[index].generation);
    return reinterpret_cast<HidConnection*>(kHandleBase + 4 * number);
}

HandleSlot* SlotOf(HidConnection* connection) {
    uintptr_t value = reinterpret_cast<uintptr_t>(connection);
    if (value < kHandleBase || (value - kHandleBase) % 4 != 0) return nullptr;
    uintptr_t number = (value - kHandleBase) / 4;
    uintptr_t index = number % kMaxHandles;
    HandleSlot* slot = &machine.handles[index];
    if (!slot->inUse || number / kMaxHandles != slot->generation) return nullptr;
    return slot;
}

// A Win32 error code in the seam's terms.
PlatResult Fail(uint32_t code) {
    PlatStatus status = PlatStatus::IoError;
    switch (code) {
    case kSimErrFileNotFound:
        status = PlatStatus::NotFound;
        break;
    case kSimErrAccessDenied:
    case kErrorSharingViolation:
        status = PlatStatus::NoAccess;
        break;
    case kSimErrNotConnected:
        status = PlatStatus::Gone;
        break;
    default:
        break;
    }
    return PlatResult{status, code};
}

constexpr PlatResult kSucceeded{PlatStatus::Ok, kSimOk};

// ---- Windows message texts (FormatMessageA, English) ------------------------------------

struct ErrorText {
    uint32_t code;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {121, "The semaphore timeout period has expired.\r\n"},
    {234, "More data is available.\r\n"},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {1167, "The device is not connected.\r\n"},
};

}  // namespace

// ---- hid.h: HID interfaces ---------------------------------------------------------------

HidInterfaceList* plat_hid_list_present() {
    Step();
    auto lock = Lock();
    if (machine.scenario.listFails) return nullptr;
    for (ListSlot& slot : machine.lists) {
        if (slot.inUse) continue;
        slot.inUse = 1;
        slot.count = machine.severed ? 0 : ListLocked(slot.entries);
        ++machine.counters.listCreates;
        return reinterpret_cast<HidInterfaceList*>(&slot);
    }
    return nullptr;  // more lists alive at once than any caller keeps
}

int plat_hid_list_entry(HidInterfaceList* list, uint32_t index, char* path, size_t pathCapacity,
                        HidInterfaceInfo* info) {
    auto lock = Lock();
    if (list == nullptr) return kHidListEnd;
    ListSlot* slot = reinterpret_cast<ListSlot*>(list);
    if (index >= slot->count) return kHidListEnd;
    const SimScenario& sc = machine.scenario;
    if (sc.pathUnreadableIndex >= 0 && index == static_cast<uint32_t>(sc.pathUnreadableIndex) &&
        (sc.pathUnreadableTimes == kSimEveryTime ||
         machine.unreadablePathsAnswered < sc.pathUnreadableTimes)) {
        ++machine.unreadablePathsAnswered;
        ++machine.counters.unreadablePaths;
        return kHidListUnreadable;
    }
    size_t length = std::strlen(slot->entries[index].path);
    if (length + 1 > pathCapacity) return kHidListUnreadable;
    std::memcpy(path, slot->entries[index].path, length + 1);
    *info = slot->entries[index].info;
    return kHidListFound;
}

void plat_hid_list_release(HidInterfaceList* list) {
    auto lock = Lock();
    if (list == nullptr) return;
    ListSlot* slot = reinterpret_cast<ListSlot*>(list);
    if (slot->inUse) {
        slot->inUse = 0;
        ++machine.counters.listReleases;
    }
}

PlatResult plat_hid_open(const char* path, HidConnection** connection, HidInterfaceInfo* info) {
    Step();
    auto lock = Lock();
    Listed listed[kMaxListed];
    uint32_t count = machine.severed ? 0 : ListLocked(listed);
    const Listed* found = nullptr;
    for (uint32_t i = 0; i < count && found == nullptr; ++i) {
        if (std::strcmp(listed[i].path, path) == 0) found = &listed[i];
    }
    HandleSlot slot;
    std::memset(&slot, 0, sizeof slot);
    uint32_t error = kSimOk;
    if (found == nullptr) {
        error = kSimErrFileNotFound;
    } else if (found->isSensor) {
        error = sim_sensor_open(&machine.sensor, NowLocked(), found->index, &slot.port);
        slot.isSensor = 1;
    } else if (!machine.scenario.others[found->index].collection.openable) {
        error = kSimErrAccessDenied;
    } else {
        slot.otherIndex = found->index;
    }
    if (error == kSimOk) {
        for (uint32_t i = 0; i < kMaxHandles; ++i) {
            if (machine.handles[i].inUse) continue;
            slot.inUse = 1;
            slot.generation = machine.handles[i].generation + 1;
            machine.handles[i] = slot;
            ++machine.counters.opens;
            ++machine.counters.openHandles;
            *connection = HandleValue(i);
            *info = found->info;
            return kSucceeded;
        }
        error = kErrorNotEnoughMemory;
    }
    ++machine.counters.openFailures;
    *connection = nullptr;
    return Fail(error);
}

void plat_hid_close(HidConnection* connection) {
    auto lock = Lock();
    HandleSlot* slot = SlotOf(connection);
    if (slot == nullptr) {
        ++machine.counters.badCloses;
        return;
    }
    slot->inUse = 0;
    ++machine.counters.closes;
    --machine.counters.openHandles;
}

PlatResult plat_hid_set_feature(HidConnection* connection, const uint8_t* buffer,
                                uint32_t length) {
    Step();
    auto lock = Lock();
    ++machine.counters.sets;
    if (SlotOf(connection) == nullptr) return Fail(kSimErrInvalidHandle);
    if (machine.severed) return Fail(kSimErrNotConnected);
    CommandLatency(lock);
    HandleSlot* slot = SlotOf(connection);  // the wait may have let another thread close it
    if (slot == nullptr) return Fail(kSimErrInvalidHandle);
    if (!slot->isSensor) {
        ++machine.counters.otherSets;
        return Fail(kSimErrInvalidParameter);  // no feature reports we know
    }
    uint32_t outcome =
        sim_sensor_set_feature(&machine.sensor, NowLocked(), &slot->port, buffer, length);
    return outcome == kSimOk ? kSucceeded : Fail(outcome);
}

PlatResult plat_hid_get_feature(HidConnection* connection, uint8_t* buffer, uint32_t length) {
    Step();
    auto lock = Lock();
    ++machine.counters.gets;
    if (SlotOf(connection) == nullptr) return Fail(kSimErrInvalidHandle);
    if (machine.severed) return Fail(kSimErrNotConnected);
    CommandLatency(lock);
    HandleSlot* slot = SlotOf(connection);
    if (slot == nullptr) return Fail(kSimErrInvalidHandle);
    if (!slot->isSensor) return Fail(kSimErrInvalidParameter);
    uint32_t outcome =
        sim_sensor_get_feature(&machine.sensor, NowLocked(), &slot->port, buffer, length);
    return outcome == kSimOk ? kSucceeded : Fail(outcome);
}

PlatResult plat_hid_write_output(HidConnection* connection, const uint8_t* buffer,
                                 uint32_t length, uint32_t timeoutMs) {
    Step();
    auto lock = Lock();
    ++machine.counters.outputWrites;
    HandleSlot* slot = SlotOf(connection);
    if (slot == nullptr) return Fail(kSimErrInvalidHandle);
    if (machine.severed) return Fail(kSimErrNotConnected);
    if (!slot->isSensor) {
        ++machine.counters.otherSets;
        return Fail(kSimErrInvalidParameter);
    }
    uint32_t outcome =
        sim_sensor_write_output(&machine.sensor, NowLocked(), &slot->port, buffer, length);
    if (outcome == kSimOk) return kSucceeded;
    if (outcome != kSimErrIoPending) return Fail(outcome);
    // The write stays pending: the wait runs out and the write is cancelled.
    Wait(lock, timeoutMs);
    ++machine.counters.outputCancels;
    return PlatResult{PlatStatus::TimedOut, kSimErrOperationAborted};
}

bool plat_hid_port(HidConnection* connection, char* port, size_t capacity) {
    auto lock = Lock();
    if (capacity > 0) port[0] = '\0';
    const HandleSlot* slot = SlotOf(connection);
    if (slot == nullptr || capacity == 0) return false;
    const SimScenario& sc = machine.scenario;
    uint32_t number = sc.sensorPort;
    if (!slot->isSensor) {
        const uint16_t given = sc.others[slot->otherIndex].port;
        number = given != 0 ? given : sc.sensorPort + 1 + slot->otherIndex;
    }
    const int n = std::snprintf(port, capacity, "usb-sim-%u", number);
    return n > 0 && static_cast<size_t>(n) < capacity;
}

// ---- records.h: USB products met -----------------------------------------------------------

void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met) {
    auto lock = Lock();
    ++machine.counters.productQueries;
    const SimScenario& sc = machine.scenario;
    const uint32_t known = sc.productsMetCount < kSimMaxProductsMet ? sc.productsMetCount
                                                                    : kSimMaxProductsMet;
    for (uint32_t i = 0; i < count; ++i) {
        met[i] = false;
        for (uint32_t k = 0; k < known; ++k) {
            if (sc.productsMet[k].vendorId == vendorId &&
                sc.productsMet[k].productId == productIds[i]) {
                met[i] = true;
            }
        }
    }
}

// The simulated machine remembers what it met as Windows does: into its list.
void plat_note_product_met(uint16_t vendorId, uint16_t productId) {
    auto lock = Lock();
    SimScenario& sc = machine.scenario;
    if (sc.recordReadOnly || machine.severed) return;
    for (uint32_t k = 0; k < sc.productsMetCount && k < kSimMaxProductsMet; ++k) {
        if (sc.productsMet[k].vendorId == vendorId && sc.productsMet[k].productId == productId) {
            return;
        }
    }
    if (sc.productsMetCount < kSimMaxProductsMet) {
        sc.productsMet[sc.productsMetCount++] = {vendorId, productId};
    }
}

// The simulated machine's record is its list: one place, named as such.
size_t plat_describe_products_met(char* text, size_t capacity) {
    auto lock = Lock();
    const SimScenario& sc = machine.scenario;
    int n = std::snprintf(text, capacity, "the simulated machine's record:");
    const char* separator = " ";
    for (uint32_t k = 0; k < sc.productsMetCount && k < kSimMaxProductsMet && n > 0; ++k) {
        if (static_cast<size_t>(n) >= capacity) break;
        n += std::snprintf(text + n, capacity - static_cast<size_t>(n), "%s%04x:%04x", separator,
                           sc.productsMet[k].vendorId, sc.productsMet[k].productId);
        separator = ", ";
    }
    if (sc.productsMetCount == 0 && n > 0 && static_cast<size_t>(n) < capacity) {
        n += std::snprintf(text + n, capacity - static_cast<size_t>(n), " none");
    }
    if (n > 0 && static_cast<size_t>(n) + 1 < capacity) {
        text[n++] = '\n';
        text[n] = '\0';
        return static_cast<size_t>(n);
    }
    text[0] = '\0';
    return 0;
}

size_t plat_products_met_clearing(uint16_t vendorId, uint16_t productId, char* text,
                                  size_t capacity) {
    auto lock = Lock();
    const SimScenario& sc = machine.scenario;
    text[0] = '\0';
    for (uint32_t k = 0; k < sc.productsMetCount && k < kSimMaxProductsMet; ++k) {
        if (sc.productsMet[k].vendorId != vendorId || sc.productsMet[k].productId != productId) {
            continue;
        }
        const int n = std::snprintf(text, capacity,
                                    "remove %04x from the simulated machine's record", productId);
        return n > 0 && static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : 0;
    }
    return 0;
}

// ---- system.h: time, errors, debugger output ----------------------------------------------

void plat_sleep(uint32_t milliseconds) {
    auto lock = Lock();
    ++machine.counters.sleeps;
    machine.counters.sleptMs += milliseconds;
    if (milliseconds == 0) {
        lock.unlock();
        std::this_thread::yield();
        return;
    }
    Wait(lock, milliseconds);
}

uint32_t plat_tick_count() {
    auto lock = Lock();
    return static_cast<uint32_t>(machine.scenario.tickStart + NowLocked());
}

size_t plat_error_text(uint32_t code, char* buffer, size_t capacity) {
    for (const ErrorText& e : kErrorTexts) {
        if (e.code != code) continue;
        size_t length = std::strlen(e.text);
        if (length + 1 > capacity) return 0;  // FormatMessageA fails on a short buffer
        std::memcpy(buffer, e.text, length + 1);
        return length;
    }
    return 0;
}

void plat_set_notice_handler(PlatNoticeHandler handler, void* context) {
    auto lock = Lock();
    machine.noticeHandler = handler;
    machine.noticeContext = context;
}

void plat_debug_output(const char* text) {
    auto lock = Lock();
    machine.debugLines.emplace_back(text);
    ++machine.counters.debugLines;
    if (machine.scenario.echoDebug) std::fprintf(stderr, "%s\n", text);
}

// On the virtual clock the stamp is the same every run, so that a report compares byte for
// byte; on the real clock it is the real time and a random id, as a machine's would be.
void plat_run_stamp(RunStamp* stamp) {
    bool realTime = false;
    {
        auto lock = Lock();
        realTime = machine.scenario.realTime;
    }
    if (!realTime) {
        std::snprintf(stamp->startTime, sizeof stamp->startTime, "2000-01-01T00:00:00Z");
        std::snprintf(stamp->runId, sizeof stamp->runId, "0000000000000000");
        return;
    }
    const std::time_t now =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm* utc = std::gmtime(&now);
    if (utc == nullptr ||
        std::strftime(stamp->startTime, sizeof stamp->startTime, "%Y-%m-%dT%H:%M:%SZ", utc) == 0) {
        std::snprintf(stamp->startTime, sizeof stamp->startTime, "1970-01-01T00:00:00Z");
    }
    std::random_device source;
    const unsigned long long id = (static_cast<unsigned long long>(source()) << 32) | source();
    std::snprintf(stamp->runId, sizeof stamp->runId, "%016llx", id);
}

// A simulated machine keeps no history of updates.
void plat_record_update(const UpdateRecord*) {}

// ---- sim_control.h -------------------------------------------------------------------------

void sim_reset(const SimScenario& scenario) {
    std::lock_guard<std::mutex> lock(machine.mutex);
    ResetLocked(scenario);
}

void sim_reset_default() { sim_reset(SimScenario()); }

bool sim_configure_from_environment(bool realTime) {
    const char* name = std::getenv("ZORFLASH_SIM");
    if (name == nullptr || *name == '\0') name = "family0";
    SimScenario scenario;
    const bool known = sim_scenario_by_name(name, &scenario);
    if (!known) scenario = SimScenario();
    const char* fast = std::getenv("ZORFLASH_SIM_FAST");
    if (realTime && !(fast != nullptr && std::strcmp(fast, "1") == 0)) {
        // About 10 ms per block exchange: image B's 976 exchanges take about ten seconds,
        // and the whole update stays under half a minute.
        scenario.realTime = true;
        scenario.commandLatencyMs = 5;
        scenario.sensor.bootAppearDelayMs = 2500;
        scenario.sensor.returnDelayMs = 1500;
    }
    sim_reset(scenario);
    return known;
}

void sim_set_step_hook(SimStepHook hook, void* context) {
    std::lock_guard<std::mutex> lock(machine.mutex);
    machine.stepHook = hook;
    machine.stepContext = context;
}

void sim_sever_program(bool severed) {
    auto lock = Lock();
    machine.severed = severed;
}

void sim_swap_sensor(const SimSensorConfig& config) {
    auto lock = Lock();
    // The new board appears after the old one: its appearance numbers follow on, so a
    // connection to the old one no longer reaches anything.
    const uint32_t appearance = machine.sensor.appearance;
    machine.scenario.sensor = config;
    sim_sensor_init(&machine.sensor, &machine.scenario.sensor, NowLocked());
    machine.sensor.appearance = appearance + 1;
}

void sim_set_products_met(const uint16_t* productIds, uint32_t count, bool readOnly) {
    auto lock = Lock();
    sim_scenario_set_products_met(&machine.scenario, productIds, count);
    machine.scenario.recordReadOnly = readOnly;
}

bool sim_attach_other(const SimOtherInterface& other) {
    auto lock = Lock();
    SimScenario& sc = machine.scenario;
    if (sc.otherCount >= kSimMaxOtherInterfaces) return false;
    for (uint32_t i = sc.otherCount; i > 0; --i) sc.others[i] = sc.others[i - 1];
    sc.others[0] = other;
    ++sc.otherCount;
    ++sc.sensorPosition;
    return true;
}

SimCounters sim_counters() {
    auto lock = Lock();
    return machine.counters;
}

SimSensorCounters sim_sensor_counters() {
    auto lock = Lock();
    return machine.sensor.counters;
}

SimScenario sim_scenario_now() {
    auto lock = Lock();
    return machine.scenario;
}

SimKeptState sim_kept_state() {
    auto lock = Lock();
    SimSensor& s = machine.sensor;
    sim_sensor_advance(&s, NowLocked());
    SimKeptState kept = {};
    kept.family = s.config.family;
    kept.attached = machine.scenario.sensorAttached;
    kept.inBootLoader = s.mode == kSimModeBootLoader;
    kept.normalVersion = s.normalVersion;
    kept.report5Word = s.report5Word;
    kept.report6Word = s.report6Word;
    kept.imageValid = sim_sensor_image_valid(&s);
    if (s.mode == kSimModeAbsent || s.mode == kSimModeGone) {
        kept.inBootLoader = !kept.imageValid;
        if (!kept.inBootLoader && s.returnWithUpdate) {
            kept.normalVersion = s.config.versionAfterUpdate;
            kept.report5Word = s.config.report5AfterUpdate;
            kept.report6Word = s.config.report6AfterUpdate;
        }
    }
    const SimScenario& sc = machine.scenario;
    kept.productsMetCount = sc.productsMetCount < kSimMaxProductsMet ? sc.productsMetCount
                                                                     : kSimMaxProductsMet;
    for (uint32_t k = 0; k < kept.productsMetCount; ++k) kept.productsMet[k] = sc.productsMet[k];
    return kept;
}

SimMode sim_mode() {
    auto lock = Lock();
    sim_sensor_advance(&machine.sensor, NowLocked());
    return machine.sensor.mode;
}

uint16_t sim_sensor_version() {
    auto lock = Lock();
    sim_sensor_advance(&machine.sensor, NowLocked());
    return machine.sensor.normalVersion;
}

uint32_t sim_present_interface_count() {
    auto lock = Lock();
    Listed listed[kMaxListed];
    return ListLocked(listed);
}

std::vector<SimTranscriptEntry> sim_transcript() {
    auto lock = Lock();
    sim_sensor_advance(&machine.sensor, NowLocked());
    return machine.sensor.transcript;
}

size_t sim_transcript_size() {
    auto lock = Lock();
    sim_sensor_advance(&machine.sensor, NowLocked());
    return machine.sensor.transcript.size();
}

uint32_t sim_transcript_dropped() {
    auto lock = Lock();
    return machine.sensor.transcriptDropped;
}

void sim_flash_read(uint32_t address, uint8_t* out, uint32_t length) {
    auto lock = Lock();
    sim_sensor_read_flash(&machine.sensor, address, out, length);
}

std::vector<std::string> sim_debug_lines() {
    auto lock = Lock();
    return machine.debugLines;
}

void sim_notice(const PlatNotice& notice) {
    PlatNoticeHandler handler = nullptr;
    void* context = nullptr;
    {
        auto lock = Lock();
        handler = machine.noticeHandler;
        context = machine.noticeContext;
    }
    // Outside the lock: the handler writes its line through plat_debug_output.
    if (handler != nullptr) handler(notice, context);
}

uint64_t sim_now_ms() {
    auto lock = Lock();
    return NowLocked();
}

void sim_advance_ms(uint64_t milliseconds) {
    auto lock = Lock();
    if (!machine.scenario.realTime) machine.virtualNowMs += milliseconds;
}
