// Interface paths of hidraw collections: "/dev/hidrawN" or "/dev/hidrawN#K".
#include <cstdio>
#include <cstring>

#include "platform/linux/hidraw_node.h"

const char kUdevRuleName[] = "70-zorflash.rules";

bool linux_hidraw_format_path(const char* node, uint32_t collection, uint32_t collectionCount,
                              char* path, size_t capacity) {
    if (capacity == 0) return false;
    const int written = collectionCount > 1
                            ? std::snprintf(path, capacity, "%s%c%u", node,
                                            kCollectionSeparator, collection)
                            : std::snprintf(path, capacity, "%s", node);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool linux_hidraw_parse_path(const char* path, char* node, size_t nodeCapacity,
                             uint32_t* collection) {
    if (path == nullptr || path[0] == '\0' || nodeCapacity == 0) return false;
    const char* separator = std::strrchr(path, kCollectionSeparator);
    const size_t nodeLength = separator ? static_cast<size_t>(separator - path) : std::strlen(path);
    if (nodeLength == 0 || nodeLength >= nodeCapacity) return false;
    uint32_t index = 0;
    if (separator != nullptr) {
        const char* digit = separator + 1;
        if (*digit == '\0') return false;
        for (; *digit != '\0'; ++digit) {
            if (*digit < '0' || *digit > '9') return false;
            index = index * 10 + static_cast<uint32_t>(*digit - '0');
            if (index >= kMaxTopCollections) return false;
        }
    }
    std::memcpy(node, path, nodeLength);
    node[nodeLength] = '\0';
    *collection = index;
    return true;
}
