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

bool Failed(PlatFileRead* read, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        read->kind = kFileMissing;
        return false;
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
    return false;
}

}  // namespace

bool plat_read_regular_file(const char* path, uint8_t* buffer, size_t capacity,
                            PlatFileRead* read) {
    *read = PlatFileRead{kFileUnreadable, 0, 0, ""};
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(read, GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        read->kind = kFileFolder;
        return false;
    }
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(read, GetLastError());
    bool result = false;
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

namespace {

bool WriteFailed(const char* what, DWORD error, char* reason, size_t capacity) {
    PlatFileRead words = {};
    Failed(&words, error);
    std::snprintf(reason, capacity, "%s: %s", what,
                  words.reason[0] != '\0' ? words.reason : "the path was not found");
    return false;
}

}  // namespace

bool plat_write_file_atomically(const char* path, const uint8_t* bytes, size_t length,
                                char* reason, size_t capacity) {
    // The new file's name is the target's with a suffix, in the same folder. CREATE_NEW
    // refuses whatever already sits at that name, and FILE_FLAG_OPEN_REPARSE_POINT never
    // follows a link there; anything but a file on a disk (a device name such as CON makes
    // one of any suffix) is let go unwritten.
    char temporary[MAX_PATH + 64];
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 8 && file == INVALID_HANDLE_VALUE; ++attempt) {
        const int made = std::snprintf(temporary, sizeof temporary, "%s.tmp%lu-%u", path,
                                       static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        if (made < 0 || static_cast<size_t>(made) >= sizeof temporary) {
            return WriteFailed("cannot write beside it", ERROR_FILENAME_EXCED_RANGE, reason,
                               capacity);
        }
        file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        error = GetLastError();
        if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return WriteFailed("cannot create a new file beside it", error, reason, capacity);
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        std::snprintf(reason, capacity, "the name beside it is not a file on a disk");
        return false;
    }
    bool written = true;
    while (written && length > 0) {
        const DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
        DWORD done = 0;
        written = WriteFile(file, bytes, chunk, &done, nullptr) != 0 && done == chunk;
        bytes += done;
        length -= done;
    }
    if (written) written = FlushFileBuffers(file) != 0;
    error = GetLastError();
    CloseHandle(file);
    if (!written) {
        DeleteFileA(temporary);
        return WriteFailed("cannot write a new file beside it", error, reason, capacity);
    }
    if (!MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileA(temporary);
        return WriteFailed("cannot replace it", error, reason, capacity);
    }
    return true;
}
