// The chip's register file and the I/O ports through which the Z80 reaches it:
// the ZX Spectrum 128 (select at 0xFFFD, data at 0xBFFD, beeper on the ULA's
// even ports) and the Amstrad CPC (data bus latched through PPI port A at
// 0xF4xx, bus function strobed through PPI port C at 0xF6xx). Which machine a
// song was written for is found from its first chip access.
//
// Where this differs from the hardware, on purpose:
// - Ports are decoded with the partial masks the machines used (0xC002 on the
//   Spectrum, the high byte only on the CPC); anything else is ignored.
// - Reads of the chip return the register as stored after masking; a CPC read
//   through the PPI is not emulated. A CPC read request (bus function 01) is
//   ended by the next control write with both function bits clear, like the
//   other functions, so it cannot wedge the decoding for the rest of the song.
// - R14 and R15 (the chip's I/O ports) are not there: writes are dropped and
//   reads give 0xFF.
// - Everything audible renders the sound up to the OUT's instant first; when
//   that rendering fills the output buffer, the change waits for the next one.
//   Writes that change nothing (a beeper write that keeps the level, a
//   register write of the value it holds) leave their span to the next
//   rendering unless it would fill the buffer there.
#include "chip/chip.h"

namespace {

// Bits of each register that the chip keeps.
constexpr uint8_t RegisterMask[14] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F,
                                      0x3F, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};

// True when rendering up to now would leave room in the output buffer.
inline bool SpanLeavesRoom(const SoundEngine& e) {
    const ChipState& c = e.Chip;
    const int32_t d = e.Z80.TStates - c.LastSynthTState;
    if (d <= 0) return true; // nothing to render
    const uint64_t p = static_cast<uint64_t>(d) * c.TicksPerTState + c.TickFraction;
    return (p >> 32) < c.TicksToFill;
}

// A register write once the machine is known. Players write every register
// every frame, most of them with the value they already hold: such a write
// changes nothing (but R13's, which restarts the envelope), so its span
// renders with the next change, to the same samples, unless the buffer fills
// here, where the write must stop the buffer as any other does.
inline void ChipWrite(SoundEngine& e, int reg, uint8_t value) {
    const ChipState& c = e.Chip;
    if (reg != 13 && (value & RegisterMask[reg]) == c.Regs[reg] &&
        !(c.BufferFull | c.WritePending) && SpanLeavesRoom(e))
        return;
    RenderAndWrite(e, reg, value);
}

// A beeper level change: render up to it, then change, or keep the change
// for the next buffer when the rendering filled this one. Out of line, so
// that the writes that change nothing return without setting up a call.
[[gnu::noinline]] void BeeperChange(SoundEngine& e, int32_t level) {
    Synthesizer(e);
    ChipState& c = e.Chip;
    c.BeeperNewLevel = level;
    if (c.BufferFull)
        c.BeeperPending = 1;
    else
        c.BeeperLevel = level;
}

// The ULA's port (any even port): bit 4 drives the beeper.
inline void BeeperWrite(SoundEngine& e, uint8_t value) {
    ChipState& c = e.Chip;
    const int32_t level = (value & 0x10) ? c.BeeperAmplitude : 0;
    if (level == c.BeeperLevel && !(c.BufferFull | c.BeeperPending) && SpanLeavesRoom(e)) {
        // Nothing audible changes and the buffer does not fill here: the span
        // up to here renders with the next change, to the same samples, and
        // the buffer still ends at the same write. Beeper players write every
        // few dozen T-states, about half the time the level they already
        // have.
        c.BeeperNewLevel = level;
        return;
    }
    BeeperChange(e, level);
}

// PPI port C, bits 7 and 6: the chip's BDIR and BC1 lines. A function is set
// with a control write and carried out by the next write that clears both.
enum class PpiAction { None, Select, Write };

PpiAction PpiControlWrite(ChipState& c, uint8_t value) {
    const uint8_t f = value & 0xC0;
    if (c.PpiControl == 0) {
        c.PpiControl = f;
        return PpiAction::None;
    }
    if (f != 0) return PpiAction::None; // a pending function waits for an inactive bus
    const uint8_t pending = c.PpiControl;
    c.PpiControl = 0;
    if (pending == 0xC0) return PpiAction::Select;
    if (pending == 0x80 && c.SelectedRegister < 14) return PpiAction::Write;
    return PpiAction::None; // a dropped write (R14, R15) or the end of a read request
}

void SpectrumChipPorts(SoundEngine& e, uint16_t port, uint8_t value) {
    ChipState& c = e.Chip;
    if ((port & 0xC002) == 0xC000) {
        c.SelectedRegister = value & 0x0F;
    } else if ((port & 0xC002) == 0x8000 && c.SelectedRegister < 14) {
        ChipWrite(e, c.SelectedRegister, value);
    }
}

inline void OutSpectrumInline(SoundEngine& e, uint16_t port, uint8_t value) {
    if ((port & 1) == 0) BeeperWrite(e, value);
    SpectrumChipPorts(e, port, value);
}

} // namespace

void RenderAndWrite(SoundEngine& e, int reg, uint8_t value) {
    Synthesizer(e);
    ChipState& c = e.Chip;
    if (c.BufferFull) {
        c.WritePending = 1;
        c.PendingRegister = reg;
        c.PendingValue = value;
    } else {
        WriteRegister(c, reg, value);
    }
}

SoundEngine::SoundEngine() {
    Chip.OutHandler = OutAuto;
    Chip.EnvelopeStep = EnvelopeShapes[0];
    Z80.Ports = this;
    SetChipAndChannels(Chip, DefaultChipMode, VolumeZoneHeight);
}

uint8_t SoundEngine::In(uint16_t port) { return InPort(Chip, port); }

void WriteRegister(ChipState& c, int reg, int value) {
    if (reg < 0 || reg >= 14) return;
    SettleGenerators(c); // their closed forms read the periods as they were
    const uint8_t v = static_cast<uint8_t>(value) & RegisterMask[reg];
    c.Regs[reg] = v;
    if (reg == 7) {
        for (int ch = 0; ch < 3; ++ch) {
            c.ToneOn[ch] = (v >> ch) & 1 ? 0 : 1;
            c.NoiseOn[ch] = (v >> (ch + 3)) & 1 ? 0 : 1;
        }
    } else if (reg >= 8 && reg <= 10) {
        c.FixedVolume[reg - 8] = (v & 0x10) ? 0 : 1;
    } else if (reg == 13) {
        ++c.EnvelopeWrites;
        c.EnvelopePosition = (v & 0x04) ? -1 : 32;
        c.EnvelopeStep = EnvelopeShapes[v];
        c.EnvelopeCounter = 0;
        c.EnvelopeFlag = 1;
    }
}

void OutSpectrum(SoundEngine& e, uint16_t port, uint8_t value) {
    OutSpectrumInline(e, port, value);
}

void OutCpc(SoundEngine& e, uint16_t port, uint8_t value) {
    ChipState& c = e.Chip;
    switch (port >> 8) {
    case 0xF4: c.PpiLatch = value; break;
    case 0xF6:
        switch (PpiControlWrite(c, value)) {
        case PpiAction::Select: c.SelectedRegister = c.PpiLatch & 0x0F; break;
        case PpiAction::Write: ChipWrite(e, c.SelectedRegister, c.PpiLatch); break;
        case PpiAction::None: break;
        }
        break;
    default: break;
    }
}

namespace {

// The chip's ports of both machines while the machine is not known yet; the
// first completed chip write decides it.
[[gnu::noinline]] void AutoChipPorts(SoundEngine& e, uint16_t port, uint8_t value) {
    ChipState& c = e.Chip;
    const unsigned high = port >> 8;
    if (high == 0xF4) {
        c.PpiLatch = value;
    } else if (high == 0xF6) {
        switch (PpiControlWrite(c, value)) {
        case PpiAction::Select: c.SelectedRegister = c.PpiLatch & 0x0F; break;
        case PpiAction::Write:
            // The first completed CPC write: a CPC song. The CPC has no beeper
            // here, and its chip runs at 1 MHz from this span on.
            c.OutHandler = OutCpc;
            c.BeeperPending = 0;
            c.BeeperLevel = 0;
            c.TicksPerTState = CpcTicksPerTState;
            c.TicksPerSample = CpcTicksPerSample;
            c.TicksToFill = 0; // measured in the Spectrum's ticks
            RenderAndWrite(e, c.SelectedRegister, c.PpiLatch);
            break;
        case PpiAction::None: break;
        }
    } else if ((port & 0xC002) == 0xC000) {
        c.OutHandler = OutSpectrum;
        c.SelectedRegister = value & 0x0F;
    } else if ((port & 0xC002) == 0x8000 && c.SelectedRegister < 14) {
        c.OutHandler = OutSpectrum;
        RenderAndWrite(e, c.SelectedRegister, value);
    }
}

} // namespace

namespace {

inline void OutAutoInline(SoundEngine& e, uint16_t port, uint8_t value) {
    if ((port & 1) == 0) BeeperWrite(e, value);
    // A beeper song's OUTs (port 0xFE) reach none of the chip's ports.
    const unsigned high = port >> 8;
    if (high == 0xF4 || high == 0xF6 || (port & 0x8002) == 0x8000) AutoChipPorts(e, port, value);
}

} // namespace

void OutAuto(SoundEngine& e, uint16_t port, uint8_t value) { OutAutoInline(e, port, value); }

// The Z80's OUT: the handler of the machine the song drives, the two
// Spectrum ones without a second call (beeper songs write tens of thousands
// of times a second).
void SoundEngine::Out(uint16_t port, uint8_t value) {
    if (Chip.OutHandler == OutAuto)
        OutAutoInline(*this, port, value);
    else if (Chip.OutHandler == OutSpectrum)
        OutSpectrumInline(*this, port, value);
    else
        Chip.OutHandler(*this, port, value);
}

uint8_t InPort(const ChipState& c, uint16_t port) {
    if ((port & 0xC002) == 0xC000 && c.SelectedRegister < 14) return c.Regs[c.SelectedRegister];
    return 0xFF;
}

void ResetSoundChip(SoundEngine& e, int16_t* firstBuffer) {
    ChipState& c = e.Chip;
    c.TicksPerTState = SpectrumTicksPerTState;
    c.TicksPerSample = SpectrumTicksPerSample;
    c.OutHandler = OutAuto;
    for (uint8_t& r : c.Regs) r = 0;
    for (int ch = 0; ch < 3; ++ch) {
        c.ToneOn[ch] = 1;
        c.NoiseOn[ch] = 1;
        c.FixedVolume[ch] = 1;
    }
    c.EnvelopeStep = EnvelopeShapes[0];
    c.EnvelopePosition = 0;
    c.EnvelopeFlag = 0;
    c.EnvelopeCounter = 0;
    for (int ch = 0; ch < 3; ++ch) {
        c.ToneCounter[ch] = 0;
        c.ToneOutput[ch] = 0;
    }
    c.NoiseCounter = 0;
    c.NoiseShift = 0xFFFF;
    c.UnheardTicks = 0;
    c.BufferFull = 0;
    c.BeeperPending = 0;
    c.WritePending = 0;
    c.LastSynthTState = 0;
    c.TickFraction = 0;
    c.TicksToRender = 0;
    c.TicksInSample = 0;
    c.SumLeft = 0;
    c.SumRight = 0;
    c.SampleBoundary = c.TicksPerSample;
    c.TicksToFill = 0;
    c.OutputBuffer = firstBuffer;
    c.SelectedRegister = 0;
    c.PpiLatch = 0;
    c.PpiControl = 0;
}

void StartPlayback(SoundEngine& e, int16_t* firstBuffer) {
    ResetSoundChip(e, firstBuffer);
    ResetForPlayback(e.Z80);
}
