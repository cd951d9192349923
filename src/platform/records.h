// What the machine keeps of the sensor between runs: which of its USB products it has met
// (so that a boot loader's family can be told), and the history of updates.
//
// One implementation per platform lives in its own folder and is chosen at link time.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- USB products this machine has met -------------------------------------------------

// For each of the `count` products in `productIds` (of vendor `vendorId`), whether this
// machine has had it attached before, now or earlier: met[i]. A platform that keeps no such
// record, or cannot read it, answers false for every product.
void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met);

// The core has just found product `productId` of vendor `vendorId` attached, and has sent it
// nothing yet. A platform whose system keeps no record of the products met keeps its own
// from this, so that a later plat_usb_products_met, in this run or a later one, answers the
// product as met. Called before anything is sent: an update interrupted after it leaves a
// boot loader whose family the record still tells. Never fails in a way the caller sees.
void plat_note_product_met(uint16_t vendorId, uint16_t productId);

// Where this platform keeps or reads its record of the products met and what it holds, for
// people: one line per place (a file, a registry key), each ending in a line feed, as
// "PLACE: 0090, 00e6", "PLACE: none", or "PLACE: ignored (why)". Written NUL-terminated into
// `text`, cut at a whole line; returns its length.
size_t plat_describe_products_met(char* text, size_t capacity);
// How to make the record forget product `productId` of vendor `vendorId`, as one clause
// naming each place that holds it ("remove the line 0090 from /var/lib/zorflash/products-met").
// Returns its length; 0 and an empty text when no place holds it.
size_t plat_products_met_clearing(uint16_t vendorId, uint16_t productId, char* text,
                                  size_t capacity);

// ---- The history of updates ------------------------------------------------------------

// One update that sent anything to the sensor, as the system's history keeps it.
struct UpdateRecord {
    const char* versionBefore;  // as the dialog shows it ("0140", "0139 P0002", "????")
    const char* versionAfter;
    uint32_t result;            // the last attempt's result number (0: success)
    const char* status;         // the final status line
    uint32_t attempts;          // runs of the write-and-verify sequence
    uint32_t durationMs;        // from the worker's start to its end
    const char* imageSha256;    // SHA-256 of the image written, 64 hex digits
    // All of the above but the SHA-256 in one line a person can read, the same on every
    // platform: "Sensor firmware update: 0140 -> 0610, result 0 (Update complete.),
    // 1 attempt, 61.250 s".
    const char* summary;
};
// Leaves one entry in the system's history of updates, where the platform keeps one;
// nothing, and no failure, where it does not.
void plat_record_update(const UpdateRecord* record);
