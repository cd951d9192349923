// Scenario helpers and the named scenarios of the simulated edition.
#include <cstring>

#include "platform/sim/sim_control.h"

namespace {

SimFaultRule RefuseBlock8000(uint32_t times) {
    SimFaultRule rule;
    rule.kind = kSimFaultRefuse;
    rule.opcode = 1;  // program
    rule.matchAddress = true;
    rule.address = 0x8000;
    rule.times = times;
    return rule;
}

struct NamedScenario {
    const char* name;
    void (*apply)(SimScenario*);
};

const NamedScenario kNamed[] = {
    {"family0", [](SimScenario*) {}},
    {"family1", [](SimScenario* s) { *s = sim_scenario_for_family(1); }},
    {"uptodate", [](SimScenario* s) { s->sensor.normalVersion = 0x0610; }},
    {"mismatch", [](SimScenario* s) { s->sensor.normalVersion = 0x0200; }},
    {"nosensor", [](SimScenario* s) { s->sensorAttached = false; }},
    {"bootloader", [](SimScenario* s) { s->sensor.startInBootLoader = true; }},
    {"refused-block", [](SimScenario* s) { sim_scenario_add_fault(s, RefuseBlock8000(kSimEveryTime)); }},
    {"refused-once", [](SimScenario* s) { sim_scenario_add_fault(s, RefuseBlock8000(1)); }},
    {"old-bootloader", [](SimScenario* s) { s->sensor.bootLoaderVersion = 0x000F; }},
    {"new-bootloader", [](SimScenario* s) { s->sensor.bootLoaderVersion = 0x0020; }},
    {"no-return", [](SimScenario* s) { s->sensor.faults.neverReturns = true; }},
    {"no-bootloader", [](SimScenario* s) { s->sensor.faults.bootLoaderNeverAppears = true; }},
};

const char* const kNames[] = {
    "family0",      "family1",      "uptodate",       "mismatch",       "nosensor",
    "bootloader",   "refused-block", "refused-once",  "old-bootloader", "new-bootloader",
    "no-return",    "no-bootloader", nullptr,
};
static_assert(sizeof kNames / sizeof kNames[0] == sizeof kNamed / sizeof kNamed[0] + 1,
              "every named scenario is listed once");

}  // namespace

SimScenario sim_scenario_for_family(uint16_t family) {
    SimScenario scenario;
    scenario.sensor = sim_sensor_config_for_family(family);
    if (scenario.sensor.family == 1) scenario.productsMet[1] = {kSensorVendorId, kProductFamily1};
    return scenario;
}

bool sim_scenario_by_name(const char* name, SimScenario* scenario) {
    for (const NamedScenario& named : kNamed) {
        if (std::strcmp(named.name, name) != 0) continue;
        *scenario = SimScenario();
        named.apply(scenario);
        return true;
    }
    return false;
}

const char* const* sim_scenario_names() { return kNames; }

void sim_scenario_set_products_met(SimScenario* scenario, const uint16_t* productIds,
                                   uint32_t count) {
    if (count > kSimMaxProductsMet) count = kSimMaxProductsMet;
    for (uint32_t i = 0; i < count; ++i) {
        scenario->productsMet[i] = {kSensorVendorId, productIds[i]};
    }
    scenario->productsMetCount = count;
}

int sim_scenario_add_fault(SimScenario* scenario, const SimFaultRule& rule) {
    for (uint32_t i = 0; i < kSimMaxFaultRules; ++i) {
        if (scenario->sensor.faults.rules[i].kind != kSimFaultNone) continue;
        scenario->sensor.faults.rules[i] = rule;
        return static_cast<int>(i);
    }
    return -1;
}
