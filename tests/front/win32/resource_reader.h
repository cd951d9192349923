// Reads the resources of a built executable (dialog template, icon group, version record,
// manifest) without running it, so that the tests can compare them with what the program
// is meant to carry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TemplateItem {
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    int id;                 // -1 (0xFFFF) for labels
    std::string className;  // "Button", "Edit", "Static", "ScrollBar", ... or the class text
    std::string text;
};

struct DialogTemplate {
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    std::string menu;
    std::string className;
    std::string caption;
    int pointSize;          // -1 when the template names no font
    std::string typeface;
    std::vector<TemplateItem> items;
};

struct IconImage {
    int width, height, colourCount, bitCount;
};

// Each returns false (and leaves a reason in `error`) when the resource is missing or
// malformed.
bool ReadDialogTemplate(const std::string& exePath, int resourceId, DialogTemplate* dialog,
                        std::string* error);
bool ReadIconGroup(const std::string& exePath, int resourceId, std::vector<IconImage>* images,
                   std::string* error);
bool ReadVersionString(const std::string& exePath, const char* key, std::string* value,
                       std::string* error);
bool ReadManifest(const std::string& exePath, std::string* manifest, std::string* error);
