// The Windows platform seam against the real calls, under Wine: the products met, read from
// registry keys made as an installation makes them (and the walk over the keys with a
// scripted reader), HID enumeration with no sensor, the bounded output-report write, error texts,
// and the worker-thread calls of the dialog seam.
#include <windows.h>
#include <setupapi.h>
#include <initguid.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "front/win32/main_dialog.h"
#include "platform/hid.h"
#include "platform/records.h"
#include "platform/system.h"
#include "platform/view.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_hid_connection.h"
#include "platform/win32/win32_interfaces.h"
#include "platform/win32/win32_registry.h"
#include "sensor/hid_device.h"

namespace {

// ---- Products met, from the registry ----------------------------------------------------

const char kBranch[] = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\";

// Every key name any row creates; each row starts from none of them.
const char* const kTestKeys[] = {
    "VID_F0A5&PID_0090", "VID_F0A5&PID_00E6", "VID_F0A5&PID_0094", "VID_046D&PID_C077",
    "VID_F0A5&PID_0090X", "VID_F0A5&PID_00E6&MI_00", "VID_F0A6&PID_0090",
    "VID_F0A5&PID_0091",
};

// The keys' folder under HKEY_LOCAL_MACHINE, where a USB device's key is made when Windows
// (or `wine reg add`) installs it.
const char kBranchUnderMachine[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";

bool AddKey(const char* key) {
    HKEY handle;
    const std::string path = std::string(kBranchUnderMachine) + key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

void RemoveTestKeys() {
    // Key names are case-insensitive: this also removes a key created in another case.
    for (const char* key : kTestKeys) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kBranchUnderMachine) + key).c_str());
    }
}

struct RegistryRow {
    const char* name;
    std::vector<const char*> keys;  // created in this order
    int family0, family1, boot;
};

void PrintTo(const RegistryRow& row, std::ostream* out) { *out << row.name; }

class RegistryProbe : public ::testing::TestWithParam<RegistryRow> {
protected:
    static void TearDownTestSuite() { RemoveTestKeys(); }
};

TEST_P(RegistryProbe, AnswersFromTheKeysUnderEnumUsb) {
    const RegistryRow& row = GetParam();
    RemoveTestKeys();
    for (const char* key : row.keys) {
        ASSERT_TRUE(AddKey(key)) << key;
    }
    const uint16_t products[3] = {kProductFamily0, kProductFamily1, kProductBootLoader};
    bool met[3] = {row.family0 == 0, row.family1 == 0, row.boot == 0};  // every one written
    plat_usb_products_met(kSensorVendorId, products, 3, met);
    EXPECT_EQ(met[0], row.family0 != 0);
    EXPECT_EQ(met[1], row.family1 != 0);
    EXPECT_EQ(met[2], row.boot != 0);
    // --info names each key probed; the --family refusal, the one key that holds the product.
    char text[1024];
    plat_describe_products_met(text, sizeof text);
    EXPECT_EQ(std::string(text), std::string(kBranch) + "VID_F0A5&PID_0090: " +
                                     (row.family0 ? "present\n" : "none\n") + kBranch +
                                     "VID_F0A5&PID_00E6: " + (row.family1 ? "present\n" : "none\n"));
    EXPECT_EQ(plat_products_met_clearing(kSensorVendorId, kProductFamily1, text, sizeof text) > 0,
              row.family1 == 1);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RegistryProbe,
    ::testing::Values(
        RegistryRow{"Both", {"VID_F0A5&PID_0090", "VID_F0A5&PID_00E6"}, 1, 1, 0},
        RegistryRow{"MixedCaseFamily1Only", {"Vid_f0a5&Pid_00e6"}, 0, 1, 0},
        RegistryRow{"MixedCaseFamily0", {"Vid_f0a5&Pid_0090"}, 1, 0, 0},
        RegistryRow{"BootAmongOthers",
                    {"VID_046D&PID_C077", "VID_F0A5&PID_0094", "VID_F0A5&PID_0091"}, 0, 0, 1},
        RegistryRow{"MixedCaseBoot", {"Vid_f0a5&Pid_0094"}, 0, 0, 1},
        RegistryRow{"NearMissesOnly",
                    {"vid_f0a5&pid_0090", "VID_F0A5&PID_00E6&MI_00", "VID_F0A5&PID_0090X",
                     "VID_F0A6&PID_0090", "vid_f0a5&pid_0094"},
                    0, 0, 0},
        RegistryRow{"None", {}, 0, 0, 0}),
    [](const ::testing::TestParamInfo<RegistryRow>& info) { return info.param.name; });

// The walk over the keys with a scripted reader: names and read failures as a row says.
struct ScriptedKeys {
    std::vector<const char*> names;
    DWORD failingIndex;  // the read of this index answers `error` ...
    LONG error;
    int failures;        // ... this many times (-1: every time), then its name
    int failed;          // failures answered
};

LONG ReadScripted(void* context, DWORD index, char* name, DWORD* length) {
    auto* keys = static_cast<ScriptedKeys*>(context);
    if (index >= keys->names.size()) return ERROR_NO_MORE_ITEMS;
    if (index == keys->failingIndex && (keys->failures < 0 || keys->failed < keys->failures)) {
        ++keys->failed;
        return keys->error;
    }
    *length = static_cast<DWORD>(strlen(keys->names[index]));
    memcpy(name, keys->names[index], *length + 1);
    return ERROR_SUCCESS;
}

struct WalkRow {
    const char* name;
    ScriptedKeys keys;
    uint8_t met[3];  // family 0, family 1, boot loader
    int failed;
};

TEST(RegistryWalk, ReadsAFailingNameAgainAtMostEightTimesThenSkipsIt) {
    const DWORD kNone = 0xFFFFFFFF;
    const WalkRow rows[] = {
        {"fails twice, then read",
         {{"ROOT_HUB30", "VID_F0A5&PID_00E6", "VID_F0A5&PID_0094"}, 1, ERROR_MORE_DATA, 2, 0},
         {0, 1, 1}, 2},
        {"fails once, then read",
         {{"A", "VID_F0A5&PID_0094", "C"}, 1, ERROR_MORE_DATA, 1, 0}, {0, 0, 1}, 1},
        {"keeps failing: skipped after eight reads",
         {{"VID_F0A5&PID_00E6", "VID_F0A5&PID_0090", "VID_F0A5&PID_0094"}, 0, ERROR_GEN_FAILURE,
          -1, 0},
         {1, 0, 1}, 8},
        {"the last keeps failing",
         {{"A", "VID_F0A5&PID_0094", "C"}, 2, ERROR_ACCESS_DENIED, -1, 0}, {0, 0, 1}, 8},
        {"mixed case counts",
         {{"Vid_f0a5&Pid_0090", "Vid_f0a5&Pid_00e6", "Vid_f0a5&Pid_0094"}, kNone, 0, 0, 0},
         {1, 1, 1}, 0},
        {"near misses do not",
         {{"vid_f0a5&pid_0090", "VID_F0A5&PID_0090&MI_00", "VID_F0A5&PID_00E6 ",
           "VID_F0A5&PID_0094x", "VID_F0A5&PID_0095", "VID_F0A5&PID_00E7"},
          kNone, 0, 0, 0},
         {0, 0, 0}, 0},
    };
    for (WalkRow row : rows) {
        SCOPED_TRACE(row.name);
        const uint16_t products[3] = {kProductFamily0, kProductFamily1, kProductBootLoader};
        bool met[3] = {row.met[0] == 0, row.met[1] == 0, row.met[2] == 0};  // every one written
        win32_match_product_keys(ReadScripted, &row.keys, kSensorVendorId, products, 3, met);
        EXPECT_EQ(std::vector<uint8_t>(met, met + 3), std::vector<uint8_t>(row.met, row.met + 3));
        EXPECT_EQ(row.keys.failed, row.failed);
    }
}

// ---- HID interfaces with no sensor attached -------------------------------------------

TEST(HidSeam, FindersReturnNothingAndLeaveTheRecordClosed) {
    HidDevice device;
    EXPECT_EQ(FindSensorDevice(&device), 0);
    EXPECT_EQ(device.connection, nullptr);
    EXPECT_EQ(device.info.vendorId, 0);
    EXPECT_EQ(FindHidDeviceById(&device, kSensorVendorId, kProductBootLoader), 0);
    EXPECT_EQ(device.connection, nullptr);
}

TEST(HidSeam, EveryListedPathIsAnInterfacePath) {
    HidInterfaceList* list = plat_hid_list_present();
    ASSERT_NE(list, nullptr) << "SetupDiGetClassDevsA failed: " << GetLastError();
    char path[kHidPathCapacity];
    HidInterfaceInfo info;
    uint32_t index = 0;
    for (; index < 256; ++index) {
        const int status = plat_hid_list_entry(list, index, path, sizeof path, &info);
        if (status == kHidListEnd) break;
        ASSERT_EQ(status, kHidListFound) << "detail record of interface " << index;
        EXPECT_EQ(std::string(path).compare(0, 4, "\\\\?\\"), 0) << path;
    }
    EXPECT_LT(index, 256u);
    plat_hid_list_release(list);
}

// The detail read on a class that Wine lists without any hardware: its monitors
// (GUID_DEVINTERFACE_MONITOR). The HID scan reads its paths the same way.
DEFINE_GUID(kMonitorInterfaceClass, 0xe6f07b5f, 0xee97, 0x4a90, 0xb0, 0x76, 0x33, 0xf5, 0x7b,
            0xf4, 0xea, 0xa7);

HDEVINFO ListMonitors() {
    return SetupDiGetClassDevsA(&kMonitorInterfaceClass, nullptr, nullptr,
                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

TEST(InterfacePath, TwoCallDetailReadGivesEachPathThenTheEnd) {
    HDEVINFO monitors = ListMonitors();
    ASSERT_NE(monitors, INVALID_HANDLE_VALUE);
    char path[kHidPathCapacity];
    uint32_t index = 0;
    for (; index < 64; ++index) {
        const int status = win32_interface_path(monitors, &kMonitorInterfaceClass, index, path,
                                                sizeof path);
        if (status == kHidListEnd) break;
        ASSERT_EQ(status, kHidListFound) << "interface " << index << ": " << GetLastError();
        EXPECT_EQ(std::string(path).compare(0, 4, "\\\\?\\"), 0) << path;
        EXPECT_NE(std::string(path).find("{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"),
                  std::string::npos)
            << path;
    }
    SetupDiDestroyDeviceInfoList(monitors);
    EXPECT_GE(index, 1u) << "Wine lists its display's monitor";
    EXPECT_LT(index, 64u);
}

TEST(InterfacePath, PathLongerThanTheBufferCountsAsUnreadable) {
    HDEVINFO monitors = ListMonitors();
    ASSERT_NE(monitors, INVALID_HANDLE_VALUE);
    char path[kHidPathCapacity];
    ASSERT_EQ(win32_interface_path(monitors, &kMonitorInterfaceClass, 0, path, sizeof path),
              kHidListFound);
    const size_t length = strlen(path);
    char small[kHidPathCapacity];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(win32_interface_path(monitors, &kMonitorInterfaceClass, 0, small, length),
              kHidListUnreadable);
    EXPECT_EQ(small[length - 1], 'x') << "nothing written";
    EXPECT_EQ(win32_interface_path(monitors, &kMonitorInterfaceClass, 0, small, length + 1),
              kHidListFound);
    EXPECT_STREQ(small, path);
    SetupDiDestroyDeviceInfoList(monitors);
}

// Why the header size is sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), not the literal 5 of a
// 32-bit build: in this 64-bit build SetupAPI refuses 5, and a scan would find nothing.
TEST(InterfacePath, DetailHeaderSizeOf32BitBuildIsRefusedIn64BitBuild) {
    HDEVINFO monitors = ListMonitors();
    ASSERT_NE(monitors, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(monitors, nullptr, &kMonitorInterfaceClass, 0,
                                            &data));
    alignas(8) char buffer[1024];
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = 5;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(monitors, &data, detail, sizeof buffer,
                                                  nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), 8u);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(monitors, &data, detail, sizeof buffer,
                                                 nullptr, nullptr));
    SetupDiDestroyDeviceInfoList(monitors);
}

TEST(HidSeam, OpeningAMissingPathFailsWithTheHandleInvalid) {
    HidConnection* connection = reinterpret_cast<HidConnection*>(uintptr_t{4});
    HidInterfaceInfo info;
    const PlatResult opened = plat_hid_open(
        "\\\\?\\hid#vid_f0a5&pid_0090#0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
        &connection, &info);
    EXPECT_FALSE(plat_succeeded(opened));
    EXPECT_EQ(connection, nullptr);
    EXPECT_NE(opened.systemCode, 0u);
    HidDevice device;
    EXPECT_EQ(OpenHidDevice("\\\\?\\no-such-device", &device), 0);
    EXPECT_EQ(device.connection, nullptr);
}

// An interface whose device cannot be found (a path no interface has, or no connection)
// has no port: false, and the caller's text emptied, so that nothing is sent on a guess.
TEST(HidSeam, PortOfAnInterfaceNotFoundIsNotTold) {
    char port[kHidPortCapacity] = "stale";
    EXPECT_FALSE(plat_hid_port(nullptr, port, sizeof port));
    EXPECT_STREQ(port, "");
    HidConnection gone{INVALID_HANDLE_VALUE, 0,
                       "\\\\?\\hid#vid_f0a5&pid_0090#0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}"};
    std::memcpy(port, "stale", 6);
    EXPECT_FALSE(plat_hid_port(&gone, port, sizeof port));
    EXPECT_STREQ(port, "");
}

// ---- The bounded output-report write, over a pipe that takes data only when read ------

struct Pipe {
    HANDLE server;  // the reading end
    HANDLE client;  // the writing end, overlapped like a HID handle
};

Pipe MakePipe(const char* suffix) {
    const std::string name = "\\\\.\\pipe\\zorflash-test-" + std::to_string(GetCurrentProcessId()) +
                             "-" + suffix;
    Pipe pipe;
    pipe.server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
    pipe.client = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    return pipe;
}

// Larger than any pipe buffer: the write stays pending until someone reads.
uint8_t bigReport[1 << 20];

// The value the next new handle gets: the lowest free slot of the handle table. A call
// that leaves a handle open moves it on.
HANDLE NextHandleValue() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return probe;
}

TEST(OutputWrite, PendingWriteIsCancelledAfterTheBoundAndFails) {
    Pipe pipe = MakePipe("pending");
    ASSERT_NE(pipe.server, INVALID_HANDLE_VALUE);
    ASSERT_NE(pipe.client, INVALID_HANDLE_VALUE);
    const HANDLE nextHandle = NextHandleValue();
    const DWORD start = GetTickCount();
    HidConnection connection{pipe.client, 0, {}};
    const PlatResult written = plat_hid_write_output(&connection, bigReport, sizeof bigReport, 200);
    EXPECT_EQ(static_cast<int>(written.status), static_cast<int>(PlatStatus::TimedOut));
    EXPECT_GE(GetTickCount() - start, 190u) << "returned before the bound";
    EXPECT_EQ(NextHandleValue(), nextHandle) << "the write's event is closed";
    // Cancelled, not merely abandoned: nothing more arrives at the reading end.
    Sleep(50);
    DWORD available = 0;
    PeekNamedPipe(pipe.server, nullptr, 0, nullptr, &available, nullptr);
    DWORD settled = available;
    Sleep(100);
    PeekNamedPipe(pipe.server, nullptr, 0, nullptr, &available, nullptr);
    EXPECT_EQ(available, settled);
    EXPECT_LT(available, sizeof bigReport);
    CloseHandle(pipe.client);
    CloseHandle(pipe.server);
}

DWORD WINAPI DrainPipe(void* parameter) {
    static uint8_t sink[65536];
    HANDLE server = static_cast<HANDLE>(parameter);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD total = 0;
    while (total < sizeof bigReport) {
        DWORD got = 0;
        if (!ReadFile(server, sink, sizeof sink, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            break;
        }
        if (!GetOverlappedResult(server, &overlapped, &got, TRUE)) break;
        total += got;
        ResetEvent(overlapped.hEvent);
    }
    CloseHandle(overlapped.hEvent);
    return total;
}

TEST(OutputWrite, WriteThatCompletesWithinTheBoundSucceeds) {
    Pipe pipe = MakePipe("drained");
    ASSERT_NE(pipe.client, INVALID_HANDLE_VALUE);
    HANDLE reader = CreateThread(nullptr, 0, DrainPipe, pipe.server, 0, nullptr);
    const HANDLE nextHandle = NextHandleValue();
    HidConnection connection{pipe.client, 0, {}};
    EXPECT_TRUE(plat_succeeded(plat_hid_write_output(&connection, bigReport, sizeof bigReport,
                                                     10000)));
    EXPECT_EQ(NextHandleValue(), nextHandle) << "the write's event is closed";
    WaitForSingleObject(reader, 10000);
    DWORD total = 0;
    GetExitCodeThread(reader, &total);
    EXPECT_EQ(total, sizeof bigReport);
    CloseHandle(reader);
    CloseHandle(pipe.client);
    CloseHandle(pipe.server);
}

TEST(OutputWrite, WriteThatIsRefusedAtOnceFailsWithoutWaiting) {
    Pipe pipe = MakePipe("refused");
    ASSERT_NE(pipe.server, INVALID_HANDLE_VALUE);
    const DWORD start = GetTickCount();
    // The server end was opened for reading only.
    HidConnection connection{pipe.server, 0, {}};
    const PlatResult written = plat_hid_write_output(&connection, bigReport, 64, 5000);
    EXPECT_FALSE(plat_succeeded(written));
    EXPECT_NE(written.systemCode, 0u);
    EXPECT_LT(GetTickCount() - start, 4000u) << "waited for a write that was never queued";
    CloseHandle(pipe.client);
    CloseHandle(pipe.server);
}

// ---- Errors and time ------------------------------------------------------------------

TEST(SystemSeam, ErrorTextsAreTheSystemsUntrimmed) {
    char text[1024];
    const size_t length = plat_error_text(ERROR_FILE_NOT_FOUND, text, sizeof text);
    ASSERT_GT(length, 2u);
    EXPECT_EQ(length, strlen(text));
    EXPECT_EQ(std::string(text + length - 2), "\r\n");
    char direct[1024];
    const DWORD directLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                              ERROR_FILE_NOT_FOUND, 0, direct, sizeof direct,
                                              nullptr);
    EXPECT_EQ(std::string(text, length), std::string(direct, directLength));
    text[0] = 'x';
    EXPECT_EQ(plat_error_text(0x2A, text, sizeof text), 0u);
    EXPECT_EQ(text[0], '\0');
}

// A call's own result decides; the last error only words a failure. A failed call that left
// the last error at 0 fails all the same, and one that succeeded over a stale last error
// succeeds.
TEST(SystemSeam, Win32CallsReadAsPortableResultsKeepingTheCode) {
    const struct {
        bool succeeded;
        DWORD lastError;
        PlatStatus status;
        DWORD code;
    } rows[] = {
        {true, ERROR_SUCCESS, PlatStatus::Ok, ERROR_SUCCESS},
        {true, ERROR_ACCESS_DENIED, PlatStatus::Ok, ERROR_SUCCESS},
        {false, ERROR_SUCCESS, PlatStatus::IoError, ERROR_GEN_FAILURE},
        {false, ERROR_FILE_NOT_FOUND, PlatStatus::NotFound, ERROR_FILE_NOT_FOUND},
        {false, ERROR_PATH_NOT_FOUND, PlatStatus::NotFound, ERROR_PATH_NOT_FOUND},
        {false, ERROR_ACCESS_DENIED, PlatStatus::NoAccess, ERROR_ACCESS_DENIED},
        {false, ERROR_SHARING_VIOLATION, PlatStatus::NoAccess, ERROR_SHARING_VIOLATION},
        {false, ERROR_DEVICE_NOT_CONNECTED, PlatStatus::Gone, ERROR_DEVICE_NOT_CONNECTED},
        {false, ERROR_DEV_NOT_EXIST, PlatStatus::Gone, ERROR_DEV_NOT_EXIST},
        {false, ERROR_SEM_TIMEOUT, PlatStatus::TimedOut, ERROR_SEM_TIMEOUT},
        {false, ERROR_TIMEOUT, PlatStatus::TimedOut, ERROR_TIMEOUT},
        {false, ERROR_GEN_FAILURE, PlatStatus::IoError, ERROR_GEN_FAILURE},
        {false, ERROR_INVALID_PARAMETER, PlatStatus::IoError, ERROR_INVALID_PARAMETER},
    };
    for (const auto& row : rows) {
        SetLastError(row.lastError);
        const PlatResult result = win32_call_result(row.succeeded);
        EXPECT_EQ(static_cast<int>(result.status), static_cast<int>(row.status)) << row.lastError;
        EXPECT_EQ(result.systemCode, row.code) << row.lastError;
    }
}

TEST(SystemSeam, TickCountFollowsSleep) {
    const uint32_t before = plat_tick_count();
    plat_sleep(100);
    // GetTickCount moves in steps of the system timer (about 16 ms).
    EXPECT_GE(plat_tick_count() - before, 80u);
}

// ---- The history of updates in the event log ----------------------------------------------

// The source's key as the test finds it before an update is recorded: absent, or naming a
// message file in EventMessageFile (and TypesSupported when `types` is not 0).
struct EventSourceRow {
    const char* what;
    bool keyThere;
    const wchar_t* messageFile;  // null: this program's path
    bool upperCase;              // the path written in capitals
    DWORD types;
    // After the update: the file named, as written, and TypesSupported (0: none).
    bool namesThisProgram;
    bool rewritten;
    DWORD typesAfter;
};

std::wstring ThisProgram() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return std::wstring(path, length);
}

bool ReadSourceValue(const wchar_t* name, DWORD* type, std::vector<BYTE>* data) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    data->assign(size, 0);
    if (status == ERROR_SUCCESS && size > 0) {
        status = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::wstring SourceMessageFile(DWORD* type) {
    std::vector<BYTE> data;
    if (!ReadSourceValue(L"EventMessageFile", type, &data)) return L"(none)";
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()));
}

DWORD SourceTypes() {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadSourceValue(L"TypesSupported", &type, &data) || type != REG_DWORD) return 0;
    return *reinterpret_cast<const DWORD*>(data.data());
}

const char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const UpdateRecord kCompleteRecord = {
    "0139 P0002", "0139 P0006", 0, "Update complete.", 1, 61250, kSha,
    "Sensor firmware update: 0139 P0002 -> 0139 P0006, result 0 (Update complete.), 1 attempt, "
    "61.250 s"};

// The program names itself as its source's message file when the source names none or
// another program, and leaves a key that already names it (in any case) as it is.
TEST(EventLog, RecordingAnUpdateNamesThisProgramAsTheSourcesMessageFile) {
    const DWORD errorAndInformation = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;
    const EventSourceRow rows[] = {
        {"no key", false, nullptr, false, 0, true, true, errorAndInformation},
        {"another program", true, L"C:\\old\\zorflash.exe", false, 0, false, true,
         errorAndInformation},
        {"this program", true, nullptr, true, 0, true, false, 0},
        {"this program, both types", true, nullptr, false, 7, true, false, 7},
    };
    const std::wstring program = ThisProgram();
    ASSERT_FALSE(program.empty());
    for (const EventSourceRow& row : rows) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey);
        std::wstring before = row.messageFile != nullptr ? row.messageFile : program;
        if (row.upperCase) CharUpperBuffW(&before[0], static_cast<DWORD>(before.size()));
        if (row.keyThere) {
            HKEY key;
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey, 0, nullptr, 0,
                                      KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
            RegSetValueExW(key, L"EventMessageFile", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(before.c_str()),
                           static_cast<DWORD>((before.size() + 1) * sizeof(wchar_t)));
            if (row.types != 0) {
                RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&row.types), sizeof row.types);
            }
            RegCloseKey(key);
        }
        plat_record_update(&kCompleteRecord);
        DWORD type = 0;
        const std::wstring after = SourceMessageFile(&type);
        EXPECT_EQ(after, row.rewritten ? program : before) << row.what;
        EXPECT_EQ(type, row.rewritten ? static_cast<DWORD>(REG_EXPAND_SZ) : static_cast<DWORD>(REG_SZ))
            << row.what;
        EXPECT_EQ(SourceTypes(), row.typesAfter) << row.what;
        EXPECT_EQ(win32_register_event_source(), true) << row.what;
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey);
}

// What the event viewer shows of an entry: the text of its event in the message file the
// source names, with the entry's strings in place of %1 to %8.
TEST(EventLog, TheRegisteredMessageFileWordsTheEntryWithItsStrings) {
    const UpdateRecord failed = {
        "0140", "0140", 42, "MCU mismatch.", 10, 500, kSha,
        "Sensor firmware update: 0140 -> 0140, result 42 (MCU mismatch.), 10 attempts, 0.500 s"};
    const struct {
        const UpdateRecord* record;
        const wchar_t* text;
    } rows[] = {
        {&kCompleteRecord,
         L"Sensor firmware update: 0139 P0002 -> 0139 P0006, result 0 (Update complete.), "
         L"1 attempt, 61.250 s.\r\n\r\nDetails:\r\nversionBefore=0139 P0002\r\n"
         L"versionAfter=0139 P0006\r\nresult=0\r\nstatus=Update complete.\r\nattempts=1\r\n"
         L"seconds=61.250\r\nsha256=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
        {&failed,
         L"Sensor firmware update: 0140 -> 0140, result 42 (MCU mismatch.), 10 attempts, "
         L"0.500 s.\r\n\r\nDetails:\r\nversionBefore=0140\r\nversionAfter=0140\r\n"
         L"result=42\r\nstatus=MCU mismatch.\r\nattempts=10\r\nseconds=0.500\r\n"
         L"sha256=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"},
    };
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey);
    plat_record_update(&kCompleteRecord);
    DWORD type = 0;
    const std::wstring file = SourceMessageFile(&type);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey);
    HMODULE messages = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(messages, nullptr) << "the registered message file cannot be loaded";
    for (const auto& row : rows) {
        Win32EventStrings strings;
        win32_event_strings(row.record, &strings);
        // As the viewer passes them: the strings' addresses as an array of arguments.
        DWORD_PTR arguments[kWin32EventStrings];
        for (WORD i = 0; i < kWin32EventStrings; ++i) {
            arguments[i] = reinterpret_cast<DWORD_PTR>(strings.strings[i]);
        }
        wchar_t text[2048];
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages,
                           1, 0, text, sizeof text / sizeof text[0],
                           reinterpret_cast<va_list*>(arguments));
        ASSERT_GT(length, 0u) << "no text for event 1: error " << GetLastError();
        EXPECT_EQ(std::wstring(text, length), row.text) << row.record->summary;
    }
    FreeLibrary(messages);
}

// ---- The worker thread and the view's calls from it -----------------------------------------

// SetThreadExecutionState answers the calling thread's previous state, which shows what
// plat_keep_awake left; each query puts back what it found.
TEST(ThreadSeam, KeepAwakeSetsAndClearsTheSystemRequiredState) {
    plat_keep_awake(true);
    EXECUTION_STATE previous = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    EXPECT_EQ(previous, static_cast<EXECUTION_STATE>(ES_CONTINUOUS | ES_SYSTEM_REQUIRED));
    plat_keep_awake(false);
    previous = SetThreadExecutionState(ES_CONTINUOUS);
    EXPECT_EQ(previous, static_cast<EXECUTION_STATE>(ES_CONTINUOUS));
}

HANDLE releaseWorker;

unsigned HeldWorker(void* argument) {
    WaitForSingleObject(releaseWorker, 10000);
    return *static_cast<unsigned*>(argument);
}

TEST(ThreadSeam, RunningWhileRunningThenEndedWithTheResult) {
    releaseWorker = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    unsigned result = 2;
    PlatThread* thread = plat_thread_start(HeldWorker, &result);
    ASSERT_NE(thread, nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(plat_thread_ended(thread, &code));
    SetEvent(releaseWorker);
    WaitForSingleObject(reinterpret_cast<HANDLE>(thread), 10000);
    EXPECT_TRUE(plat_thread_ended(thread, &code) && code == 2u) << code;
    plat_thread_close(thread);
    CloseHandle(releaseWorker);
}

}  // namespace

namespace {

// ---- The one message box --------------------------------------------------------------

struct BoxSeen {
    std::string text;
    int buttons;
    bool found;
};

BOOL CALLBACK CountChild(HWND child, LPARAM parameter) {
    auto* seen = reinterpret_cast<BoxSeen*>(parameter);
    char className[64];
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Button") == 0 && IsWindowVisible(child)) ++seen->buttons;
    if (_stricmp(className, "Static") == 0) {
        char text[256];
        if (GetWindowTextA(child, text, sizeof text) > 0) seen->text = text;
    }
    return TRUE;
}

// Looks at the box from a second thread, as a person would, then presses OK.
DWORD WINAPI InspectAndCloseBox(void* parameter) {
    auto* seen = static_cast<BoxSeen*>(parameter);
    for (int attempt = 0; attempt < 500 && !seen->found; ++attempt) {
        HWND box = FindWindowA(nullptr, "ZORFLASH");
        if (box != nullptr && IsWindowVisible(box)) {
            EnumChildWindows(box, CountChild, reinterpret_cast<LPARAM>(seen));
            seen->found = true;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(20);
    }
    return 0;
}

TEST(MessageBoxSeam, TheUpdateThatCannotStartShowsTheDialogsBoxWithOnlyAnOkButton) {
    BoxSeen seen = {std::string(), 0, false};
    HANDLE inspector = CreateThread(nullptr, 0, InspectAndCloseBox, &seen, 0, nullptr);
    view_show_error(nullptr, ViewError::UpdateNotStarted);  // returns once OK is pressed
    WaitForSingleObject(inspector, 15000);
    CloseHandle(inspector);
    ASSERT_TRUE(seen.found) << "no window captioned ZORFLASH";
    EXPECT_EQ(seen.text, "_beginthreadex ERROR");
    EXPECT_EQ(seen.buttons, 1);
}

}  // namespace
