// The simulated sensor kept between runs of the simulated edition: a small text file, one
// field a line in a fixed order, so that a person can read it and write one by hand (a
// sensor stuck in its boot loader with no record, say) and so that anything else is refused.
//
//   zorflash-sim state 1
//   family 0
//   attached yes
//   mode normal
//   version 0140
//   report5 0002
//   report6 0001
//   image valid
//   met 046d:c077 f0a5:0090 f0a5:0094
//
// The file is read and replaced with the machine's own safe calls: never through a FIFO or a
// device, replaced whole or not at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sensor_ids.h"
#include "platform/sim/sim_control.h"
#include "platform/system.h"

namespace {

constexpr const char* kHeading = "zorflash-sim state 1";
constexpr size_t kLineCapacity = 256;

struct Lines {
    const char* at;
    unsigned number;
};

// The next line without its '\n'; false at the end of the text or for a line too long.
bool NextLine(Lines* lines, char* line, bool* tooLong) {
    *tooLong = false;
    if (*lines->at == '\0') return false;
    const char* feed = std::strchr(lines->at, '\n');
    const size_t length = feed != nullptr ? static_cast<size_t>(feed - lines->at)
                                          : std::strlen(lines->at);
    ++lines->number;
    if (length >= kLineCapacity) {
        *tooLong = true;
        return false;
    }
    std::memcpy(line, lines->at, length);
    line[length] = '\0';
    lines->at += length + (feed != nullptr ? 1 : 0);
    return true;
}

bool Bad(char* reason, size_t capacity, unsigned line, const char* what) {
    std::snprintf(reason, capacity, "line %u: %s", line, what);
    return false;
}

// Exactly four hex digits.
bool ParseWord(const char* text, uint16_t* word) {
    if (std::strlen(text) != 4) return false;
    for (int i = 0; i < 4; ++i) {
        if (HexDigitValue(text[i]) < 0) return false;
    }
    *word = static_cast<uint16_t>(HexNumberAt(text));
    return true;
}

// One of two words: true when `value` is `yes`, false when it is `no`; else not `*known`.
bool Choice(const char* value, const char* yes, const char* no, bool* known) {
    *known = std::strcmp(value, yes) == 0 || std::strcmp(value, no) == 0;
    return std::strcmp(value, yes) == 0;
}

bool ParseMet(const char* value, SimKeptState* state) {
    state->productsMetCount = 0;
    for (const char* at = value; *at != '\0';) {
        if (*at == ' ') {
            ++at;
            continue;
        }
        char vendor[5] = {}, product[5] = {};
        if (std::strlen(at) < 9 || at[4] != ':' || (at[9] != ' ' && at[9] != '\0')) return false;
        std::memcpy(vendor, at, 4);
        std::memcpy(product, at + 5, 4);
        if (state->productsMetCount == kSimMaxProductsMet) return false;
        SimUsbProduct& met = state->productsMet[state->productsMetCount];
        if (!ParseWord(vendor, &met.vendorId) || !ParseWord(product, &met.productId)) return false;
        ++state->productsMetCount;
        at += 9;
    }
    return true;
}

}  // namespace

size_t sim_format_kept_state(const SimKeptState& state, char* text, size_t capacity) {
    int n = std::snprintf(text, capacity,
                          "%s\nfamily %u\nattached %s\nmode %s\nversion %04x\nreport5 %04x\n"
                          "report6 %04x\nimage %s\nmet",
                          kHeading, state.family, state.attached ? "yes" : "no",
                          state.inBootLoader ? "boot loader" : "normal", state.normalVersion,
                          state.report5Word, state.report6Word,
                          state.imageValid ? "valid" : "erased");
    for (uint32_t k = 0; k < state.productsMetCount && n > 0; ++k) {
        if (static_cast<size_t>(n) >= capacity) break;
        n += std::snprintf(text + n, capacity - static_cast<size_t>(n), " %04x:%04x",
                           state.productsMet[k].vendorId, state.productsMet[k].productId);
    }
    if (n <= 0 || static_cast<size_t>(n) + 1 >= capacity) {
        if (capacity > 0) text[0] = '\0';
        return 0;
    }
    text[n++] = '\n';
    text[n] = '\0';
    return static_cast<size_t>(n);
}

bool sim_parse_kept_state(const char* text, SimKeptState* state, char* reason,
                          size_t capacity) {
    // The fields in the order they are written; each line is "<name> <value>".
    static const char* const kFields[] = {"family", "attached", "mode",  "version",
                                          "report5", "report6", "image", "met"};
    *state = SimKeptState();
    Lines lines = {text, 0};
    char line[kLineCapacity];
    bool tooLong = false;
    if (!NextLine(&lines, line, &tooLong) || std::strcmp(line, kHeading) != 0) {
        return Bad(reason, capacity, 1, "not a state of the simulated sensor (it begins with "
                                        "\"zorflash-sim state 1\")");
    }
    for (const char* field : kFields) {
        const size_t nameLength = std::strlen(field);
        if (!NextLine(&lines, line, &tooLong)) {
            return Bad(reason, capacity, lines.number + (tooLong ? 0 : 1),
                       tooLong ? "too long" : "missing; every field is needed, in order");
        }
        const bool named = std::strncmp(line, field, nameLength) == 0 &&
                           (line[nameLength] == ' ' || (line[nameLength] == '\0' &&
                                                        std::strcmp(field, "met") == 0));
        if (!named) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "expected the field \"%s\"", field);
            return Bad(reason, capacity, lines.number, expected);
        }
        const char* value = line[nameLength] == ' ' ? line + nameLength + 1 : "";
        bool known = true;
        if (std::strcmp(field, "family") == 0) {
            known = std::strcmp(value, "0") == 0 || std::strcmp(value, "1") == 0;
            state->family = value[0] == '1' ? 1 : 0;
        } else if (std::strcmp(field, "attached") == 0) {
            state->attached = Choice(value, "yes", "no", &known);
        } else if (std::strcmp(field, "mode") == 0) {
            state->inBootLoader = Choice(value, "boot loader", "normal", &known);
        } else if (std::strcmp(field, "version") == 0) {
            known = ParseWord(value, &state->normalVersion);
        } else if (std::strcmp(field, "report5") == 0) {
            known = ParseWord(value, &state->report5Word);
        } else if (std::strcmp(field, "report6") == 0) {
            known = ParseWord(value, &state->report6Word);
        } else if (std::strcmp(field, "image") == 0) {
            state->imageValid = Choice(value, "valid", "erased", &known);
        } else {
            known = ParseMet(value, state);
        }
        if (!known) {
            char what[96];
            std::snprintf(what, sizeof what, "the value of \"%s\" cannot be read", field);
            return Bad(reason, capacity, lines.number, what);
        }
    }
    while (NextLine(&lines, line, &tooLong)) {
        if (line[0] != '\0') return Bad(reason, capacity, lines.number, "more than a state");
    }
    if (tooLong) return Bad(reason, capacity, lines.number, "more than a state");
    return true;
}

bool sim_apply_kept_state(const SimKeptState& state, SimScenario* scenario, char* reason,
                          size_t capacity) {
    // The faults, delays and version after the update belong to the case, and those are of
    // one family: a state of the other family is another sensor.
    if (state.family != scenario->sensor.family) {
        std::snprintf(reason, capacity,
                      "it keeps a family-%u sensor, and this case simulates a family-%u one",
                      state.family, scenario->sensor.family);
        return false;
    }
    scenario->sensorAttached = state.attached;
    scenario->sensor.startInBootLoader = state.inBootLoader;
    scenario->sensor.normalVersion = state.normalVersion;
    scenario->sensor.report5Word = state.report5Word;
    scenario->sensor.report6Word = state.report6Word;
    scenario->sensor.flashContent = state.imageValid ? kSimFlashOldFirmware : kSimFlashErased;
    scenario->productsMetCount = state.productsMetCount;
    for (uint32_t k = 0; k < state.productsMetCount; ++k) {
        scenario->productsMet[k] = state.productsMet[k];
    }
    return true;
}

bool sim_restore_state_file(const char* path, char* reason, size_t capacity) {
    char text[kSimStateTextCapacity + 1];
    PlatFileRead read;
    if (!plat_read_regular_file(path, reinterpret_cast<uint8_t*>(text), kSimStateTextCapacity,
                                &read)) {
        if (read.kind == kFileMissing) return true;  // the first run: the case as named
        const char* what = read.kind == kFileUnreadable ? read.reason
                           : read.kind == kFileTooLarge ? "too large for a state"
                           : read.kind == kFileDanglingLink ? "a link that leads nowhere"
                                                            : "not a regular file";
        std::snprintf(reason, capacity, "the simulated sensor's state %s: %s", path, what);
        return false;
    }
    text[read.length] = '\0';
    if (std::strlen(text) != read.length) {
        std::snprintf(reason, capacity, "the simulated sensor's state %s: not a text", path);
        return false;
    }
    SimKeptState state;
    char why[256];
    SimScenario scenario = sim_scenario_now();
    if (!sim_parse_kept_state(text, &state, why, sizeof why) ||
        !sim_apply_kept_state(state, &scenario, why, sizeof why)) {
        std::snprintf(reason, capacity, "the simulated sensor's state %s: %s", path, why);
        return false;
    }
    sim_reset(scenario);
    return true;
}

bool sim_keep_state_file(const char* path, char* reason, size_t capacity) {
    char text[kSimStateTextCapacity];
    const size_t length = sim_format_kept_state(sim_kept_state(), text, sizeof text);
    char why[256] = "";
    if (length == 0 ||
        !plat_write_file_atomically(path, reinterpret_cast<const uint8_t*>(text), length, why,
                                    sizeof why)) {
        std::snprintf(reason, capacity, "the simulated sensor's state was not kept in %s: %s",
                      path, why);
        return false;
    }
    return true;
}

namespace {

// The state file's name, or null when the environment names none.
const char* StatePath() {
    const char* path = std::getenv("ZORFLASH_SIM_STATE");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

}  // namespace

bool sim_begin_edition_run(char* reason, size_t capacity) {
    if (!sim_configure_from_environment(true)) {
        size_t length = static_cast<size_t>(std::snprintf(
            reason, capacity, "unknown ZORFLASH_SIM case \"%.200s\"; known cases:",
            std::getenv("ZORFLASH_SIM")));
        for (const char* const* name = sim_scenario_names(); *name != nullptr; ++name) {
            if (length < capacity) {
                length += static_cast<size_t>(
                    std::snprintf(reason + length, capacity - length, " %s", *name));
            }
        }
        return false;
    }
    // A run sees what the last one left (the version written, a boot loader it is stuck in).
    return StatePath() == nullptr || sim_restore_state_file(StatePath(), reason, capacity);
}

bool sim_end_edition_run(char* reason, size_t capacity) {
    // A run whose sensor cannot be kept must not look like one the next run can follow.
    return StatePath() == nullptr || sim_keep_state_file(StatePath(), reason, capacity);
}
