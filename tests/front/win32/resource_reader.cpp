#include "resource_reader.h"

#include <windows.h>

#include <cstring>

namespace {

// A module loaded as data: its resources can be read, none of its code runs.
struct DataModule {
    HMODULE module;
};

DataModule LoadAsData(const std::string& exePath, std::string* error) {
    HMODULE module = LoadLibraryExA(exePath.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        *error = "cannot load " + exePath + " as data: error " + std::to_string(GetLastError());
    }
    return DataModule{module};
}

bool ResourceBytes(HMODULE module, LPCSTR name, LPCSTR type, const uint8_t** bytes,
                   DWORD* size) {
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    *bytes = static_cast<const uint8_t*>(LockResource(loaded));
    *size = SizeofResource(module, found);
    return *bytes != nullptr;
}

// A cursor over a template; every read is bounds-checked.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
    bool ok;
};

uint16_t Word(Reader* r) {
    if (r->at + 2 > r->size) {
        r->ok = false;
        return 0;
    }
    uint16_t value;
    std::memcpy(&value, r->data + r->at, 2);
    r->at += 2;
    return value;
}

uint32_t Dword(Reader* r) {
    const uint32_t low = Word(r);
    return low | (static_cast<uint32_t>(Word(r)) << 16);
}

std::string WideText(Reader* r) {
    std::string text;
    for (;;) {
        const uint16_t c = Word(r);
        if (!r->ok || c == 0) break;
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
}

// sz_Or_Ord: 0 for none, 0xFFFF followed by an ordinal, else a string.
std::string TextOrOrdinal(Reader* r, int* ordinal) {
    *ordinal = -1;
    if (r->at + 2 > r->size) {
        r->ok = false;
        return std::string();
    }
    uint16_t first;
    std::memcpy(&first, r->data + r->at, 2);
    if (first == 0) {
        r->at += 2;
        return std::string();
    }
    if (first == 0xFFFF) {
        r->at += 2;
        *ordinal = Word(r);
        return std::string();
    }
    return WideText(r);
}

void AlignDword(Reader* r) { r->at = (r->at + 3) & ~static_cast<size_t>(3); }

std::string PredefinedClass(int atom) {
    switch (atom) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return "#" + std::to_string(atom);
    }
}

}  // namespace

bool ReadDialogTemplate(const std::string& exePath, int resourceId, DialogTemplate* dialog,
                        std::string* error) {
    DataModule data = LoadAsData(exePath, error);
    if (data.module == nullptr) return false;
    const uint8_t* bytes = nullptr;
    DWORD size = 0;
    if (!ResourceBytes(data.module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(5), &bytes,
                       &size)) {
        *error = "no dialog resource " + std::to_string(resourceId);
        FreeLibrary(data.module);
        return false;
    }
    Reader r = {bytes, size, 0, true};
    dialog->style = Dword(&r);
    if ((dialog->style & 0xFFFF0000u) == 0xFFFF0000u) {
        *error = "an extended template (DIALOGEX); the reader expects DIALOG";
        FreeLibrary(data.module);
        return false;
    }
    dialog->exStyle = Dword(&r);
    const uint16_t count = Word(&r);
    dialog->x = static_cast<int16_t>(Word(&r));
    dialog->y = static_cast<int16_t>(Word(&r));
    dialog->cx = static_cast<int16_t>(Word(&r));
    dialog->cy = static_cast<int16_t>(Word(&r));
    int ordinal;
    dialog->menu = TextOrOrdinal(&r, &ordinal);
    dialog->className = TextOrOrdinal(&r, &ordinal);
    dialog->caption = WideText(&r);
    dialog->pointSize = -1;
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = Word(&r);
        dialog->typeface = WideText(&r);
    }
    for (uint16_t i = 0; i < count && r.ok; ++i) {
        AlignDword(&r);
        TemplateItem item;
        item.style = Dword(&r);
        item.exStyle = Dword(&r);
        item.x = static_cast<int16_t>(Word(&r));
        item.y = static_cast<int16_t>(Word(&r));
        item.cx = static_cast<int16_t>(Word(&r));
        item.cy = static_cast<int16_t>(Word(&r));
        item.id = static_cast<int16_t>(Word(&r));
        item.className = TextOrOrdinal(&r, &ordinal);
        if (ordinal >= 0) item.className = PredefinedClass(ordinal);
        item.text = TextOrOrdinal(&r, &ordinal);
        if (ordinal >= 0) item.text = "#" + std::to_string(ordinal);
        const uint16_t extra = Word(&r);
        r.at += extra;
        dialog->items.push_back(item);
    }
    FreeLibrary(data.module);
    if (!r.ok) *error = "template ends early";
    return r.ok;
}

bool ReadIconGroup(const std::string& exePath, int resourceId, std::vector<IconImage>* images,
                   std::string* error) {
    DataModule data = LoadAsData(exePath, error);
    if (data.module == nullptr) return false;
    const uint8_t* bytes = nullptr;
    DWORD size = 0;
    // RT_GROUP_ICON (14): a header of three words, then 14-byte entries.
    if (!ResourceBytes(data.module, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(14), &bytes,
                       &size)) {
        *error = "no icon group " + std::to_string(resourceId);
        FreeLibrary(data.module);
        return false;
    }
    Reader r = {bytes, size, 0, true};
    Word(&r);
    Word(&r);
    const uint16_t count = Word(&r);
    for (uint16_t i = 0; i < count && r.ok; ++i) {
        if (r.at + 14 > r.size) {
            r.ok = false;
            break;
        }
        const uint8_t* entry = r.data + r.at;
        IconImage image;
        image.width = entry[0] == 0 ? 256 : entry[0];
        image.height = entry[1] == 0 ? 256 : entry[1];
        image.colourCount = entry[2];
        image.bitCount = entry[6] | (entry[7] << 8);
        images->push_back(image);
        r.at += 14;
    }
    FreeLibrary(data.module);
    if (!r.ok) *error = "icon group ends early";
    return r.ok;
}

bool ReadVersionString(const std::string& exePath, const char* key, std::string* value,
                       std::string* error) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(exePath.c_str(), &ignored);
    if (size == 0) {
        *error = "no version record";
        return false;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(exePath.c_str(), 0, size, block.data())) {
        *error = "version record unreadable";
        return false;
    }
    const std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
        text == nullptr) {
        *error = std::string("no version value ") + key;
        return false;
    }
    *value = std::string(text, strnlen(text, length));
    return true;
}

bool ReadManifest(const std::string& exePath, std::string* manifest, std::string* error) {
    DataModule data = LoadAsData(exePath, error);
    if (data.module == nullptr) return false;
    const uint8_t* bytes = nullptr;
    DWORD size = 0;
    // RT_MANIFEST (24), CREATEPROCESS_MANIFEST_RESOURCE_ID (1).
    const bool found =
        ResourceBytes(data.module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), &bytes, &size);
    if (found) manifest->assign(reinterpret_cast<const char*>(bytes), size);
    FreeLibrary(data.module);
    if (!found) *error = "no manifest resource 1";
    return found;
}
