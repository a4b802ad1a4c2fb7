// zirrafon-cpm: runs a CP/M program (.COM) on the Z80 core, so that instruction
// exercisers and small test programs written for CP/M can check the core.
//
// The machine is the least a CP/M program needs and nothing more:
// - the program is loaded at 0x0100 and entered there;
// - 0x0005 holds JP to the BDOS entry at `BdosEntry`, where the run loop
//   performs the BDOS function and then executes the RET that sits there; the
//   word at 0x0006 therefore tells the program where free memory ends;
// - the stack starts in the 256 bytes above the BDOS entry, out of reach of
//   the largest program, with 0x0000 pushed so that a final RET ends the
//   program as under CP/M;
// - BDOS 2 prints the character in E and BDOS 9 the '$'-terminated string at
//   DE on standard output; BDOS 0 ends the program; other functions do nothing;
// - the program ends when it jumps to 0x0000 (warm boot);
// - there are no interrupts and no devices: IN yields 0xFF, OUT goes nowhere.
// Each pass of the run loop is the frame loop's pass without the interrupt:
// refresh increment, then the instruction's T-states are added, with the same
// frame wrap so that HALT sees the counter it expects. The passes run in the
// core's own runner (RunPassesUntil), which hands control back only at a
// frame end, at the BDOS entry and at 0x0000.
#include "z80/z80.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint16_t LoadAddress = 0x0100;
constexpr uint16_t BdosEntry = 0xFF00; // top of free memory; a RET lives here
constexpr size_t MaxProgramSize = 0xFE00;

class NoDevices final : public Z80Ports {
  public:
    void Out(uint16_t, uint8_t) override {}
    uint8_t In(uint16_t) override { return 0xFF; }
};

// Reads the whole file; on failure prints one line and returns false.
bool ReadProgram(const char* path, std::vector<uint8_t>& program) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "zirrafon-cpm: cannot open %s: %s\n", path, std::strerror(errno));
        return false;
    }
    // One byte more than fits tells an oversized file from one that fills memory.
    program.resize(MaxProgramSize + 1);
    const size_t got = std::fread(program.data(), 1, program.size(), file);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "zirrafon-cpm: cannot read %s: %s\n", path, std::strerror(error));
        return false;
    }
    if (got > MaxProgramSize) {
        std::fprintf(stderr, "zirrafon-cpm: %s is larger than %zu bytes\n", path, MaxProgramSize);
        return false;
    }
    program.resize(got);
    return true;
}

// Performs the BDOS function in C. Returns false when the program asked to end.
bool Bdos(Z80State& s) {
    const RegisterBank& bank = *s.Bank;
    switch (bank.C) {
    case 0: return false;
    case 2: std::putchar(bank.E); break;
    case 9: {
        // The string may run past 0xFFFF; it wraps like any byte access would.
        uint16_t a = static_cast<uint16_t>(bank.D << 8 | bank.E);
        for (size_t n = 0; n < 0x10000 && s.Memory[a] != '$'; ++n, ++a) std::putchar(s.Memory[a]);
        break;
    }
    default: break;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zirrafon-cpm PROGRAM.COM\n");
        return 2;
    }
    std::vector<uint8_t> program;
    if (!ReadProgram(argv[1], program)) return 1;

    auto state = std::make_unique<Z80State>();
    Z80State& s = *state;
    NoDevices devices;
    s.Ports = &devices;
    std::memcpy(&s.Memory[LoadAddress], program.data(), program.size());
    s.Memory[0x0005] = 0xC3; // JP BdosEntry
    s.Memory[0x0006] = BdosEntry & 0xFF;
    s.Memory[0x0007] = BdosEntry >> 8;
    s.Memory[BdosEntry] = 0xC9; // RET
    s.SP = 0xFFFE;              // above the largest program; holds 0x0000 for a final RET
    WriteWord(s, s.SP, 0x0000);
    s.PC = LoadAddress;

    uint64_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    while (s.PC != 0x0000) {
        if (s.PC == BdosEntry && !Bdos(s)) break;
        const int32_t before = s.TStates;
        RunPassesUntil(s, 0x0000, BdosEntry);
        total += static_cast<uint64_t>(s.TStates - before);
        if (s.TStates >= FrameTStates) s.TStates -= FrameTStates;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    std::fprintf(stderr, "%llu T-states, %.2f emulated MHz\n",
                 static_cast<unsigned long long>(total),
                 seconds > 0 ? static_cast<double>(total) / seconds / 1e6 : 0.0);
    return 0;
}
