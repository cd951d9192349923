// Reading a whole regular file without ever waiting on it. Shared with the simulated
// edition for Windows: its firmware folder is on the real machine.
//
// Only a file on a disk is read: a named pipe would wait for its server, and a console or
// another device answers whatever it is given.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/system.h"

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
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // GetFileAttributesA looks at a link itself; opening it follows it. A link whose
        // target is not found is there, but leads nowhere.
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            read->kind = kFileDanglingLink;
            return false;
        }
        return Failed(read, error);
    }
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

bool Refused(const char* words, char* reason, size_t capacity) {
    std::snprintf(reason, capacity, "it is %s; only a regular file or a new name is replaced",
                  words);
    return false;
}

bool SameLetters(const char* text, size_t length, const char* word) {
    if (std::strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i]) return false;
    }
    return true;
}

// True when `path` names a device rather than a file: the device namespace (\\.\COM1,
// \\.\pipe\x) or a reserved DOS name as its last part, which Windows takes for the device
// in any folder and with any extension ("C:\logs\nul.json" is NUL). Told by the name alone:
// opening a device to ask can start it.
bool NamesADevice(const char* path) {
    if ((path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
        (path[2] == '.' || path[2] == '?') && (path[3] == '\\' || path[3] == '/')) {
        // \\?\C:\... and \\?\UNC\... are files with long names; anything else there is not.
        const char* rest = path + 4;
        const bool drive = ((rest[0] | 0x20) >= 'a' && (rest[0] | 0x20) <= 'z') && rest[1] == ':';
        const bool unc = SameLetters(rest, 3, "UNC") && (rest[3] == '\\' || rest[3] == '/');
        if (path[2] == '.' || !(drive || unc)) return true;
    }
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at) {
        if (*at == '\\' || *at == '/' || *at == ':') name = at + 1;
    }
    size_t length = std::strcspn(name, ".");
    while (length > 0 && name[length - 1] == ' ') --length;
    static const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                                               "CLOCK$"};
    for (const char* device : kDeviceNames) {
        if (SameLetters(name, length, device)) return true;
    }
    return length == 4 && (SameLetters(name, 3, "COM") || SameLetters(name, 3, "LPT")) &&
           name[3] >= '0' && name[3] <= '9';
}

}  // namespace

bool plat_write_file_atomically(const char* path, const uint8_t* bytes, size_t length,
                                char* reason, size_t capacity) {
    // The new file's name is the target's with a suffix, in the same folder. CREATE_NEW
    // refuses whatever already sits at that name, and FILE_FLAG_OPEN_REPARSE_POINT never
    // follows a link there; anything but a file on a disk (a device name such as CON makes
    // one of any suffix) is let go unwritten.
    // Only a file on a disk or a new name is replaced; a device or a folder is left as it is.
    if (NamesADevice(path)) return Refused("a device", reason, capacity);
    const DWORD found = GetFileAttributesA(path);
    bool replacesFile = false;
    if (found == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return WriteFailed("cannot look at it", error, reason, capacity);
        }
    } else if ((found & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Refused("a folder", reason, capacity);
    } else {
        // A link (a reparse point) is replaced itself, as a new name would be.
        replacesFile = (found & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
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
    // ReplaceFile gives the new file the old one's attributes, security descriptor (owner
    // and access list), creation time and streams, and fails rather than drop them.
    const bool replaced =
        replacesFile ? ReplaceFileA(path, temporary, nullptr, 0, nullptr, nullptr) != 0
                     : MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!replaced) {
        error = GetLastError();
        DeleteFileA(temporary);
        return WriteFailed("cannot replace it", error, reason, capacity);
    }
    return true;
}

// A GUI program has standard handles only where a script attached them.
void plat_write_standard(bool toError, const char* text) {
    const HANDLE handle = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    char chunk[512];
    size_t length = 0;
    DWORD written = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n' && (c == text || c[-1] != '\r')) chunk[length++] = '\r';
        chunk[length++] = *c;
        if (length + 2 > sizeof chunk) {
            WriteFile(handle, chunk, static_cast<DWORD>(length), &written, nullptr);
            length = 0;
        }
    }
    if (length > 0) WriteFile(handle, chunk, static_cast<DWORD>(length), &written, nullptr);
}
