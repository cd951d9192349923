// Reading a whole regular file without ever waiting on it. Also linked into the simulated
// edition for Windows: its firmware folder is on the real machine.
//
// Only a file on a disk is read: a named pipe would wait for its server, and a console or
// another device answers whatever it is given.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

int Failed(PlatFileRead* read, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        read->kind = kFileMissing;
        return 0;
    }
    read->kind = kFileUnreadable;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, read->reason, sizeof read->reason, nullptr);
    if (length == 0) {
        std::snprintf(read->reason, sizeof read->reason, "system error %lu",
                      static_cast<unsigned long>(error));
    }
    // The system's texts end in CR LF; the reason goes inside a sentence.
    size_t end = std::strlen(read->reason);
    while (end > 0 && (read->reason[end - 1] == '\r' || read->reason[end - 1] == '\n' ||
                       read->reason[end - 1] == ' ')) {
        read->reason[--end] = '\0';
    }
    return 0;
}

}  // namespace

int plat_read_regular_file(const char* path, uint8_t* buffer, size_t capacity,
                           PlatFileRead* read) {
    *read = PlatFileRead{kFileUnreadable, 0, 0, ""};
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(read, GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        read->kind = kFileFolder;
        return 0;
    }
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(read, GetLastError());
    int result = 0;
    LARGE_INTEGER size;
    const DWORD type = GetFileType(file);
    if (type != FILE_TYPE_DISK) {
        read->kind = type == FILE_TYPE_PIPE   ? kFileFifo
                     : type == FILE_TYPE_CHAR ? kFileDevice
                                              : kFileOtherKind;
    } else if (!GetFileSizeEx(file, &size)) {
        result = Failed(read, GetLastError());
    } else if ((read->size = static_cast<uint64_t>(size.QuadPart)) > capacity) {
        read->kind = kFileTooLarge;
    } else {
        size_t got = 0;
        for (;;) {
            uint8_t extra;
            const bool full = got == capacity;
            DWORD n = 0;
            // One read of at most 256 MiB at a time: ReadFile counts in 32 bits.
            const size_t left = capacity - got;
            const DWORD want = full ? 1 : static_cast<DWORD>(left > 0x10000000 ? 0x10000000 : left);
            if (!ReadFile(file, full ? &extra : buffer + got, want, &n, nullptr)) {
                result = Failed(read, GetLastError());
                break;
            }
            if (n == 0) {
                read->kind = kFileRegular;
                read->length = got;
                result = 1;
                break;
            }
            if (full) {
                read->kind = kFileTooLarge;
                if (read->size <= capacity) read->size = capacity + 1;
                break;
            }
            got += n;
        }
    }
    CloseHandle(file);
    return result;
}
