// plat_keep_awake on Linux: a logind "sleep" inhibitor held while the update worker runs.
//
// libsystemd is loaded at run time, so the program also runs where it is missing; no system
// bus or no logind means no inhibitor, silently. The inhibitor lasts as long as the file
// descriptor that logind hands out stays open.
//
// The bus is reached at its fixed socket, never where DBUS_SYSTEM_BUS_ADDRESS points:
// sd_bus_open_system reads that variable through secure_getenv, which a run as root with a
// user's environment (sudo -E, where the real and effective ids are both root's) does not
// stop, and an address of the "unixexec:" kind runs the program it names.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>

#include "platform/system.h"

namespace {

struct SdBus;
struct SdBusMessage;
struct SdBusError;

typedef int (*BusNew)(SdBus** bus);
typedef int (*BusSetAddress)(SdBus* bus, const char* address);
typedef int (*BusSetBusClient)(SdBus* bus, int yes);
typedef int (*BusStart)(SdBus* bus);
typedef int (*BusCallMethod)(SdBus* bus, const char* destination, const char* path,
                             const char* interface, const char* member, SdBusError* error,
                             SdBusMessage** reply, const char* types, ...);
typedef int (*MessageRead)(SdBusMessage* message, const char* types, ...);
typedef SdBusMessage* (*MessageUnref)(SdBusMessage* message);
typedef SdBus* (*BusFlushCloseUnref)(SdBus* bus);

const char kSystemBusAddress[] = "unix:path=/run/dbus/system_bus_socket";

std::mutex inhibitMutex;
int inhibitFd = -1;

// Asks logind for a blocking sleep inhibitor; returns its descriptor or -1.
int TakeInhibitor() {
    void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return -1;
    auto newBus = reinterpret_cast<BusNew>(dlsym(library, "sd_bus_new"));
    auto setAddress = reinterpret_cast<BusSetAddress>(dlsym(library, "sd_bus_set_address"));
    auto setBusClient = reinterpret_cast<BusSetBusClient>(dlsym(library, "sd_bus_set_bus_client"));
    auto startBus = reinterpret_cast<BusStart>(dlsym(library, "sd_bus_start"));
    auto callMethod = reinterpret_cast<BusCallMethod>(dlsym(library, "sd_bus_call_method"));
    auto readMessage = reinterpret_cast<MessageRead>(dlsym(library, "sd_bus_message_read"));
    auto unrefMessage = reinterpret_cast<MessageUnref>(dlsym(library, "sd_bus_message_unref"));
    auto closeBus =
        reinterpret_cast<BusFlushCloseUnref>(dlsym(library, "sd_bus_flush_close_unref"));
    int fd = -1;
    SdBus* bus = nullptr;
    const bool found = newBus != nullptr && setAddress != nullptr && setBusClient != nullptr &&
                       startBus != nullptr && callMethod != nullptr && readMessage != nullptr &&
                       unrefMessage != nullptr && closeBus != nullptr;
    if (found && newBus(&bus) >= 0 &&
        (setAddress(bus, kSystemBusAddress) < 0 || setBusClient(bus, 1) < 0 || startBus(bus) < 0)) {
        closeBus(bus);
        bus = nullptr;
    }
    if (bus != nullptr) {
        SdBusMessage* reply = nullptr;
        if (callMethod(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                       "org.freedesktop.login1.Manager", "Inhibit", nullptr, &reply, "ssss",
                       "sleep", "zorflash", "Updating the sensor firmware", "block") >= 0) {
            int replyFd = -1;
            // The reply owns its descriptor; keep a copy of our own.
            if (readMessage(reply, "h", &replyFd) >= 0 && replyFd >= 0) {
                fd = fcntl(replyFd, F_DUPFD_CLOEXEC, 3);
            }
        }
        if (reply != nullptr) unrefMessage(reply);
        closeBus(bus);
    }
    // The library stays loaded: unloading it under a live bus connection is not safe, and a
    // second update reuses it.
    return fd;
}

}  // namespace

// The terminal has no session end to hold back, so the window plays no part here.
void plat_keep_awake(bool on) {
    std::lock_guard<std::mutex> lock(inhibitMutex);
    if (on && inhibitFd < 0) {
        inhibitFd = TakeInhibitor();
    } else if (!on && inhibitFd >= 0) {
        ::close(inhibitFd);
        inhibitFd = -1;
    }
}
