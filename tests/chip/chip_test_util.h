// Helpers for the sound chip tests: a fresh engine with its buffers, the
// real songs, and a tiny Z80 assembler for the hand-written programs that
// drive it.
#pragma once

#include "chip/chip.h"
#include "songs/session.h"

#include "../z80/z80_state_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace chiptest {

// Calls f(list, fileName, song) for the first `perFile` songs of every real
// ".ay" file in the shared test data (stopping at a refused file or a fatal failure); returns
// how many songs it was called for.
template <typename F> int ForRealSongs(int perFile, F f) {
    int songs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZIRRAFON_TESTDATA_DIR "/ay")) {
        SongSession opened;
        SongList& list = opened.List;
        const std::string name = entry.path().string();
        if (!opened.Open(name, SongKind::AY, [](const std::string&) {})) {
            ADD_FAILURE() << "refused: " << name;
            return songs;
        }
        for (int song = 0; song < std::min(list.SongCount, perFile); ++song) {
            f(list, name, song);
            if (::testing::Test::HasFatalFailure()) return songs;
            ++songs;
        }
    }
    return songs;
}

// An engine reset for playback, with two output buffers.
struct Rig {
    std::unique_ptr<SoundEngine> Engine = std::make_unique<SoundEngine>();
    std::vector<int16_t> Buffer1 = std::vector<int16_t>(BufferValues, 0x5A5A);
    std::vector<int16_t> Buffer2 = std::vector<int16_t>(BufferValues, 0x5A5A);

    Rig() {
        ResetSoundChip(*Engine, Buffer1.data());
        Engine->Chip.Beeper.Level = 0;
    }
    SoundEngine& E() { return *Engine; }
    ChipState& C() { return Engine->Chip; }
    Z80State& Z() { return Engine->Z80; }

    // OUT at a given T-state of the current frame, through the processor's ports.
    void OutAt(int32_t t, uint16_t port, uint8_t value) {
        Engine->Z80.TStates = t;
        Engine->Z80.Ports->Out(port, value);
    }
    // Spectrum select + data write at one instant.
    void WriteSpectrum(int32_t t, int reg, uint8_t value) {
        OutAt(t, 0xFFFD, static_cast<uint8_t>(reg));
        OutAt(t, 0xBFFD, value);
    }
    // CPC select + data write at one instant, each a PPI port A latch and a
    // bus function strobed through port C.
    void WriteCpc(int32_t t, int reg, uint8_t value) {
        OutAt(t, 0xF400, static_cast<uint8_t>(reg));
        OutAt(t, 0xF600, 0xC0);
        OutAt(t, 0xF600, 0x00);
        OutAt(t, 0xF400, value);
        OutAt(t, 0xF600, 0x80);
        OutAt(t, 0xF600, 0x00);
    }
    // Renders up to T-state t.
    void RenderTo(int32_t t) {
        Engine->Z80.TStates = t;
        Synthesizer(*Engine);
    }
};

// Z80 machine code, assembled by hand one instruction at a time.
class Asm {
  public:
    explicit Asm(uint16_t origin = 0) : origin_(origin) {}

    uint16_t Here() const { return static_cast<uint16_t>(origin_ + code_.size()); }
    const std::vector<uint8_t>& Code() const { return code_; }

    Asm& Bytes(std::initializer_list<uint8_t> b) {
        code_.insert(code_.end(), b);
        return *this;
    }
    Asm& Word(uint16_t w) { return Bytes({static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)}); }

    Asm& Nop() { return Bytes({0x00}); }
    Asm& Di() { return Bytes({0xF3}); }
    Asm& Ei() { return Bytes({0xFB}); }
    Asm& Halt() { return Bytes({0x76}); }
    Asm& Ret() { return Bytes({0xC9}); }
    Asm& Im1() { return Bytes({0xED, 0x56}); }
    Asm& Im2() { return Bytes({0xED, 0x5E}); }
    Asm& LdSp(uint16_t nn) { return Bytes({0x31}).Word(nn); }
    Asm& LdBC(uint16_t nn) { return Bytes({0x01}).Word(nn); }
    Asm& LdHL(uint16_t nn) { return Bytes({0x21}).Word(nn); }
    Asm& LdA(uint8_t n) { return Bytes({0x3E, n}); }
    Asm& LdB(uint8_t n) { return Bytes({0x06, n}); }
    Asm& LdAI() { return Bytes({0xED, 0x47}); } // LD I,A
    Asm& LdAFromMem(uint16_t nn) { return Bytes({0x3A}).Word(nn); }
    Asm& LdMemFromA(uint16_t nn) { return Bytes({0x32}).Word(nn); }
    Asm& IncA() { return Bytes({0x3C}); }
    Asm& OutNA(uint8_t n) { return Bytes({0xD3, n}); } // OUT (n),A
    Asm& InAN(uint8_t n) { return Bytes({0xDB, n}); }  // IN A,(n)
    Asm& OutCA() { return Bytes({0xED, 0x79}); }       // OUT (C),A
    Asm& InAC() { return Bytes({0xED, 0x78}); }        // IN A,(C)
    Asm& Jp(uint16_t nn) { return Bytes({0xC3}).Word(nn); }
    Asm& JrSelf(int back) { // JR to `back` bytes before this instruction
        return Bytes({0x18, static_cast<uint8_t>(-back - 2)});
    }

    // Spectrum chip write: LD BC,0xFFFD; LD A,r; OUT (C),A; LD B,0xBF; LD A,v; OUT (C),A
    Asm& SpectrumWrite(uint8_t reg, uint8_t value) {
        return LdBC(0xFFFD).LdA(reg).OutCA().LdB(0xBF).LdA(value).OutCA();
    }
    // CPC chip write through the PPI: latch the register, select, latch the
    // value, write, each function ended by an inactive control write.
    Asm& CpcWrite(uint8_t reg, uint8_t value) {
        LdBC(0xF400).LdA(reg).OutCA();
        LdB(0xF6).LdA(0xC0).OutCA().LdA(0x00).OutCA();
        LdB(0xF4).LdA(value).OutCA();
        return LdB(0xF6).LdA(0x80).OutCA().LdA(0x00).OutCA();
    }

    void LoadInto(Z80State& z) const {
        for (size_t i = 0; i < code_.size(); ++i)
            z.Memory[static_cast<uint16_t>(origin_ + i)] = code_[i];
    }

  private:
    uint16_t origin_;
    std::vector<uint8_t> code_;
};

} // namespace chiptest
