// The reply stream: a whole write-and-verify sequence against a boot loader that answers
// each command as the fuzzer's bytes say (fuzz_platform.h), with a boot-loader version, an
// entry path and an image length of the fuzzer's choosing.
//
// Input: byte 0 flags (bit 0: already in the boot loader; bits 1-3 all set: the switch
// request fails; bit 4: the boot loader was never installed; bit 5: the exit output report
// is not delivered), byte 1 the boot-loader version (below 0xE0: a served one, 16 + low
// nibble; else one of eight unserved ones), bytes 2-3 the image length (1 to 1024 bytes),
// then the answers.
//
// Properties, checked after every run against the protocol's rules, not against the code:
// no crash or memory error; the commands sent are exactly the expected ones, byte for byte,
// in order, up to the first that failed; the sequence returns 0 only when every command was
// sent and every acknowledged command got a true acknowledgement; a failure returns the
// stage's result and writes the stage's diagnostic lines; every record opened is closed.
#include <cstdint>
#include <cstring>
#include <memory>

#include "flash/flash_protocol.h"
#include "update/update_worker.h"
#include "boot_command.h"
#include "fuzz_check.h"
#include "fuzz_platform.h"

namespace {

ViewBar bar = {reinterpret_cast<View*>(0x4711), 0, kProgressStartMaximum};
constexpr uint32_t kStart = 0x4000;

struct Expected {
    uint8_t bytes[kBootCommandLength];
    uint32_t failResult;      // the sequence's result when this command fails
    const char* module;
    bool block;               // a programmed or verified block (one progress step)
};

Expected expected[kFuzzMaxCommands];

uint32_t AddCommand(uint32_t n, uint8_t opcode, uint8_t sequence, uint32_t address, uint8_t length,
                    uint32_t failResult, const char* module, bool block) {
    Expected& e = expected[n];
    EncodeBootCommand(e.bytes, opcode, sequence, address, length);
    e.failResult = failResult;
    e.module = module;
    e.block = block;
    return n + 1;
}

// The complete command stream of an update with an image of `length` bytes.
uint32_t ExpectedStream(const uint8_t* image, uint32_t length) {
    const uint32_t end = kStart + length - 1;
    uint32_t n = 0;
    for (uint8_t i = 0; i < 5; ++i) {
        n = AddCommand(n, 0, i, i, 0, 21, "Module Name : flash_erase", false);
    }
    for (int pass = 0; pass < 2; ++pass) {
        const uint8_t opcode = pass == 0 ? 1 : 2;
        uint8_t sequence = 0;
        // A block goes out while its first address lies below the end address; a block
        // that runs past the image is filled with erased bytes.
        for (uint32_t a = kStart; a < end; a += 128) {
            ++sequence;
            const uint32_t index = n;
            n = AddCommand(n, opcode, sequence, a, 0x10, pass == 0 ? 10 : 15,
                           pass == 0 ? "Module Name : flash_write" : "Module Name : flash_verify", true);
            for (uint32_t k = 0; k < 128; ++k) {
                const uint32_t offset = a - kStart + k;
                expected[index].bytes[8 + k] = offset < length ? image[offset] : 0xFF;
            }
        }
        if (pass == 0) {
            for (uint8_t m = 1; m <= 2; ++m) {
                const uint32_t index = n;
                n = AddCommand(n, 1, m, m == 1 ? 0x23FF8 : 0x1FBF0, 1, 17,
                               "Module Name : flash_marking", false);
                std::memset(expected[index].bytes + 9, 0xFF, 127);
            }
        }
    }
    const uint32_t index = n;
    n = AddCommand(n, 2, 1, 0x23FF8, 1, 40, "Module Name : is_flash_marking", false);
    std::memset(expected[index].bytes + 9, 0xFF, 127);
    n = AddCommand(n, 3, 0, 0, 0, 11, "Module Name : flash_end", false);
    return n;
}

bool LineIs(uint32_t index, const char* module, const char* message, bool systemTextFollows) {
    char expectedLine[512];
    std::snprintf(expectedLine, sizeof expectedLine, "---------- < %s > ---------\n%s", module,
                  message);
    const char* line = fuzzMachine.lines[index];
    const size_t n = std::strlen(expectedLine);
    if (systemTextFollows) return std::strncmp(line, expectedLine, n) == 0;
    return std::strcmp(line, expectedLine) == 0;
}

const char kSequence[] = "Module Name : FlashWriteVerify";

void CheckClosed() {
    FuzzCheck(fuzzMachine.opens == fuzzMachine.closes, "every record opened is closed");
    FuzzCheck(fuzzMachine.badCloses == 0, "no record is closed twice");
    FuzzCheck(fuzzMachine.listsOut == 0, "interface lists released");
    for (uint32_t i = 0; i < fuzzMachine.lineCount && i < kFuzzMaxLines; ++i) {
        FuzzCheck(fuzzMachine.lineLengths[i] <= 1023, "a diagnostic line holds 1023 characters",
                  static_cast<long>(fuzzMachine.lineLengths[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    FuzzSetup setup;
    setup.startInBootLoader = data[0] & 1;
    setup.switchFails = ((data[0] >> 1) & 7) == 7;
    setup.bootLoaderMet = ((data[0] >> 4) & 1) == 0;
    setup.outputWriteFails = (data[0] >> 5) & 1;
    static const uint16_t kUnserved[] = {0x0000, 0x000F, 0x0020, 0x0021,
                                         0x00FF, 0x7FFF, 0x8000, 0xFFFF};
    setup.bootLoaderVersion = data[1] < 0xE0 ? static_cast<uint16_t>(0x10 + (data[1] & 0x0F))
                                             : kUnserved[data[1] & 7];
    const uint32_t length = 1 + ((data[2] | data[3] << 8) % 1024);

    // The image in storage of exactly its size, so a read past it is caught.
    std::unique_ptr<uint8_t[]> image(new uint8_t[length]);
    for (uint32_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 13 + (i >> 7) + 1);

    fuzz_machine_reset(setup, data + 4, size - 4);
    // The sensor as it was found when the update started, at the machine's one port.
    UpdateTarget target = {0x0090, "usb-fuzz-1", setup.startInBootLoader != 0};
    const uint32_t result = static_cast<uint32_t>(
        RunWriteAndVerify(ViewFlashProgress(&bar), image.get(), kStart + length - 1, &target));
    FuzzMachine& m = fuzzMachine;
    CheckClosed();

    // Boot-mode entry.
    FuzzCheck(m.switchRequests == (setup.startInBootLoader ? 0u : 1u), "one switch request when needed");
    if (!setup.startInBootLoader && setup.switchFails) {
        FuzzCheck(result == 25, "a failed switch request gives 25", static_cast<long>(result));
        FuzzCheck(m.commandCount == 0 && m.outputWrites == 0, "nothing sent after a failed switch");
        FuzzCheck(m.lineCount == 1 && LineIs(0, kSequence, "Failed to send the Feature Report.", false),
                  "the switch failure is logged");
        return 0;
    }

    // Version gate.
    const uint16_t v = setup.bootLoaderVersion;
    if (v < 16 || v >= 32) {
        FuzzCheck(result == 42, "an unserved boot loader gives 42", static_cast<long>(result));
        FuzzCheck(m.progressMessages == 0, "the progress bar is not touched");
        bool exitFailed = false;
        if (setup.startInBootLoader) {
            FuzzCheck(m.commandCount == 0 && m.outputWrites == 0, "a boot loader found running is left alone");
        } else if (v >= 16) {
            FuzzCheck(m.commandCount == 1 && m.outputWrites == 0, "one exit command as a feature report");
            uint8_t exitCommand[kBootCommandLength];
            EncodeBootCommand(exitCommand, 3, 0, 0, 0);
            FuzzCheck(std::memcmp(m.commands[0].bytes, exitCommand, kBootCommandLength) == 0 && m.commands[0].length == kBootCommandLength,
                      "the exit command's bytes");
            FuzzCheck(!m.commands[0].getAsked, "no reply is read to the exit");
            exitFailed = m.commands[0].setFailed;
        } else {
            FuzzCheck(m.commandCount == 0 && m.outputWrites == 1, "one exit output report");
            FuzzCheck(m.lastOutput[0] == 0 && m.lastOutput[1] == 3, "the exit output report's bytes");
            exitFailed = setup.outputWriteFails;
        }
        if (exitFailed) {
            const uint32_t lines = v >= 16 ? 2 : 1;  // the feature form logs "010" first
            FuzzCheck(m.lineCount == lines && LineIs(lines - 1, kSequence, "Filed to exit flash mode!!", false),
                      "a failed exit is logged", static_cast<long>(m.lineCount));
        } else {
            FuzzCheck(m.lineCount == 0, "nothing logged", static_cast<long>(m.lineCount));
        }
        return 0;
    }

    // The served boot loader: the command stream, judged command by command.
    const uint32_t total = ExpectedStream(image.get(), length);
    FuzzCheck(m.commandCount >= 1 && m.commandCount <= total, "commands within the stream",
              static_cast<long>(m.commandCount));
    uint32_t steps = 0;
    for (uint32_t i = 0; i < m.commandCount; ++i) {
        const FuzzCommand& c = m.commands[i];
        const Expected& e = expected[i];
        FuzzCheck(c.length == kBootCommandLength, "every command is 137 bytes", static_cast<long>(i));
        FuzzCheck(std::memcmp(c.bytes, e.bytes, kBootCommandLength) == 0, "command bytes as expected", static_cast<long>(i));
        const uint8_t opcode = e.bytes[1];
        bool passed;
        const char* stage = nullptr;
        bool systemText = false;
        if (c.setFailed) {
            passed = false;
            stage = "010";
            systemText = true;
            FuzzCheck(!c.getAsked, "no get after a failed set", static_cast<long>(i));
        } else if (opcode == 3) {
            passed = true;
            FuzzCheck(!c.getAsked, "no reply is read to the exit");
        } else if (c.getFailed) {
            passed = false;
            stage = "020";
            systemText = true;
        } else if (opcode == 0) {
            FuzzCheck(c.getAsked, "every erase reply is read", static_cast<long>(i));
            // Only a reply naming this very erase with a non-zero status is a refusal.
            passed = !(c.reply[1] == 0 && c.reply[2] == e.bytes[2] && c.reply[3] != 0);
        } else {
            FuzzCheck(c.getAsked, "every reply is read", static_cast<long>(i));
            passed = c.reply[1] == opcode && c.reply[2] == e.bytes[2] && c.reply[3] == 0;
            if (!passed) stage = "050:Not ACK";
        }
        if (passed && e.block) ++steps;
        if (!passed) {
            FuzzCheck(i == m.commandCount - 1, "nothing is sent after a failed command", static_cast<long>(i));
            FuzzCheck(result == e.failResult, "the failing stage's result", static_cast<long>(result));
            const uint32_t lines = stage != nullptr ? 2 : 1;
            FuzzCheck(m.lineCount == lines, "the failure's diagnostic lines", static_cast<long>(m.lineCount));
            if (stage != nullptr) {
                FuzzCheck(LineIs(0, e.module, stage, systemText), "the operation's stage line");
            }
            const char* text = e.failResult == 21   ? "Filed to erase!!"
                               : e.failResult == 10 ? "Filed to write firmware!!"
                               : e.failResult == 17 ? "Filed to erase a writing mark!!"
                               : e.failResult == 15 ? "Filed to verify firmware!!"
                               : e.failResult == 40 ? "faild to verify a writing mark!!"
                                                    : "Filed to exit flash mode!!";
            FuzzCheck(LineIs(lines - 1, kSequence, text, false), "the sequence's line");
        } else if (i == m.commandCount - 1) {
            // The last command sent passed: the update ran to its end.
            FuzzCheck(m.commandCount == total, "the sequence goes on after a command that passed",
                      static_cast<long>(m.commandCount));
            FuzzCheck(result == 0, "a complete update returns 0", static_cast<long>(result));
            FuzzCheck(m.lineCount == 0, "a complete update logs nothing", static_cast<long>(m.lineCount));
        }
    }
    FuzzCheck(m.progressSteps == steps, "one progress step per acknowledged block", static_cast<long>(steps));
    return 0;
}
