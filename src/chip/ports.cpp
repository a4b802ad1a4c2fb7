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
constexpr uint8_t RegisterMask[StoredRegisters] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F,
                                                   0x3F, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};

// True when rendering up to now would leave room in the output buffer.
inline bool SpanLeavesRoom(const SoundEngine& e) {
    const ChipState& c = e.Chip;
    const int32_t d = e.Z80.TStates - c.Cursor.LastSynthTState;
    if (d <= 0) return true; // nothing to render
    const uint64_t p = static_cast<uint64_t>(d) * c.Machine.TicksPerTState + c.Cursor.TickFraction;
    return (p >> 32) < c.Caches.TicksToFill;
}

// A register write once the machine is known. Players write every register
// every frame, most of them with the value they already hold: such a write
// changes nothing (but R13's, which restarts the envelope), so its span
// renders with the next change, to the same samples, unless the buffer fills
// here, where the write must stop the buffer as any other does.
inline void ChipWrite(SoundEngine& e, int reg, uint8_t value) {
    const ChipState& c = e.Chip;
    if (reg != EnvelopeShape && (value & RegisterMask[reg]) == c.Registers.Values[reg] &&
        !(c.Cursor.BufferFull | c.Deferred.WritePending) && SpanLeavesRoom(e))
        return;
    RenderAndWrite(e, reg, value);
}

// A beeper level change: render up to it, then change, or keep the change
// for the next buffer when the rendering filled this one. Out of line, so
// that the writes that change nothing return without setting up a call.
[[gnu::noinline]] void BeeperChange(SoundEngine& e, int32_t level) {
    Synthesizer(e);
    ChipState& c = e.Chip;
    c.Beeper.NewLevel = level;
    if (c.Cursor.BufferFull)
        c.Deferred.BeeperPending = 1;
    else
        c.Beeper.Level = level;
}

// A beeper write that needs no rendering now, or false, with nothing
// changed, when it must render (see BeeperChange).
inline bool BeeperWriteWaits(SoundEngine& e, int32_t level) {
    ChipState& c = e.Chip;
    if ((c.Cursor.BufferFull | c.Deferred.BeeperPending) || !SpanLeavesRoom(e)) return false;
    // The buffer does not fill here. A write that keeps the level leaves its
    // span to the next change, to the same samples, and the buffer still ends
    // at the same write (beeper players write every few dozen T-states, about
    // half the time the level they already have). A change waits with its
    // span for the next rendering, which renders all that wait in one batch.
    if (level != c.Beeper.Level) {
        SynthCursor& cursor = c.Cursor;
        if (cursor.BeeperEdgeCount == SynthCursor::MaxBeeperEdges) return false;
        cursor.BeeperEdges[cursor.BeeperEdgeCount++] = {e.Z80.TStates - cursor.LastSynthTState,
                                                        c.Beeper.Level};
        c.Beeper.Level = level;
    }
    c.Beeper.NewLevel = level;
    return true;
}

// The ULA's port (any even port): bit 4 drives the beeper.
inline int32_t BeeperLevelOf(const ChipState& c, uint8_t value) {
    return (value & 0x10) ? c.Mix.BeeperAmplitude : 0;
}

inline void BeeperWrite(SoundEngine& e, uint8_t value) {
    const int32_t level = BeeperLevelOf(e.Chip, value);
    if (!BeeperWriteWaits(e, level)) BeeperChange(e, level);
}

// PPI port C, bits 7 and 6: the chip's BDIR and BC1 lines. A function is set
// with a control write and carried out by the next write that clears both.
enum class PpiAction { None, Select, Write };

PpiAction PpiControlWrite(ChipState& c, uint8_t value) {
    const uint8_t f = value & 0xC0;
    if (c.Machine.PpiControl == 0) {
        c.Machine.PpiControl = f;
        return PpiAction::None;
    }
    if (f != 0) return PpiAction::None; // a pending function waits for an inactive bus
    const uint8_t pending = c.Machine.PpiControl;
    c.Machine.PpiControl = 0;
    if (pending == 0xC0) return PpiAction::Select;
    if (pending == 0x80 && c.Registers.Selected < StoredRegisters) return PpiAction::Write;
    return PpiAction::None; // a dropped write (R14, R15) or the end of a read request
}

void SpectrumChipPorts(SoundEngine& e, uint16_t port, uint8_t value) {
    ChipState& c = e.Chip;
    if ((port & 0xC002) == 0xC000) {
        c.Registers.Selected = value & 0x0F;
    } else if ((port & 0xC002) == 0x8000 && c.Registers.Selected < StoredRegisters) {
        ChipWrite(e, c.Registers.Selected, value);
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
    if (c.Cursor.BufferFull) {
        c.Deferred.WritePending = 1;
        c.Deferred.Register = reg;
        c.Deferred.Value = value;
    } else {
        WriteRegister(c, reg, value);
    }
}

SoundEngine::SoundEngine() {
    Z80.Ports = this;
    SetChipAndChannels(Chip, DefaultChipMode, 1, 1); // full volume
}

uint8_t SoundEngine::In(uint16_t port) { return InPort(Chip, port); }

void WriteRegister(ChipState& c, int reg, int value) {
    if (reg < 0 || reg >= StoredRegisters) return;
    SettleGenerators(c); // their closed forms read the periods as they were
    const uint8_t v = static_cast<uint8_t>(value) & RegisterMask[reg];
    c.Registers.Values[reg] = v;
    if (reg == Mixer) {
        for (int ch = 0; ch < 3; ++ch) {
            c.Registers.ToneOn[ch] = (v >> ch) & 1 ? 0 : 1;
            c.Registers.NoiseOn[ch] = (v >> (ch + 3)) & 1 ? 0 : 1;
        }
    } else if (reg >= VolumeA && reg <= VolumeC) {
        c.Registers.FixedVolume[reg - VolumeA] = (v & 0x10) ? 0 : 1;
    } else if (reg == EnvelopeShape) {
        ++c.Registers.EnvelopeWrites;
        c.Generators.EnvelopePosition = (v & 0x04) ? -1 : 32;
        c.Generators.EnvelopeStep = EnvelopeShapes[v];
        c.Generators.EnvelopeCounter = 0;
        c.Generators.EnvelopeFlag = 1;
    }
}

void OutSpectrum(SoundEngine& e, uint16_t port, uint8_t value) {
    OutSpectrumInline(e, port, value);
}

void OutCpc(SoundEngine& e, uint16_t port, uint8_t value) {
    ChipState& c = e.Chip;
    switch (port >> 8) {
    case 0xF4: c.Machine.PpiLatch = value; break;
    case 0xF6:
        switch (PpiControlWrite(c, value)) {
        case PpiAction::Select: c.Registers.Selected = c.Machine.PpiLatch & 0x0F; break;
        case PpiAction::Write: ChipWrite(e, c.Registers.Selected, c.Machine.PpiLatch); break;
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
        c.Machine.PpiLatch = value;
    } else if (high == 0xF6) {
        switch (PpiControlWrite(c, value)) {
        case PpiAction::Select: c.Registers.Selected = c.Machine.PpiLatch & 0x0F; break;
        case PpiAction::Write:
            // The first completed CPC write: a CPC song. The CPC has no beeper
            // here, and its chip runs at 1 MHz from this span on.
            RenderBeeperEdges(e); // at the Spectrum's rate, when they came
            c.Machine.OutHandler = OutCpc;
            c.Deferred.BeeperPending = 0;
            c.Beeper.Level = 0;
            c.Machine.TicksPerTState = CpcTicksPerTState;
            c.Machine.TicksPerSample = CpcTicksPerSample;
            c.Caches.TicksToFill = 0; // measured in the Spectrum's ticks
            RenderAndWrite(e, c.Registers.Selected, c.Machine.PpiLatch);
            break;
        case PpiAction::None: break;
        }
    } else if ((port & 0xC002) == 0xC000) {
        c.Machine.OutHandler = OutSpectrum;
        c.Registers.Selected = value & 0x0F;
    } else if ((port & 0xC002) == 0x8000 && c.Registers.Selected < StoredRegisters) {
        c.Machine.OutHandler = OutSpectrum;
        RenderAndWrite(e, c.Registers.Selected, value);
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

namespace {

// An OUT through the handler of the machine the song drives, the two
// Spectrum ones without a second call.
[[gnu::noinline]] void OutThroughHandler(SoundEngine& e, OutHandlerFn handler, uint16_t port,
                                         uint8_t value) {
    if (handler == OutAuto)
        OutAutoInline(e, port, value);
    else if (handler == OutSpectrum)
        OutSpectrumInline(e, port, value);
    else
        handler(e, port, value);
}

} // namespace

// The Z80's OUT. Beeper songs write tens of thousands of times a second, and
// most of their writes wait for the next rendering: those return at once,
// without setting up a call; the rest go through the machine's handler.
void SoundEngine::Out(uint16_t port, uint8_t value) {
    const OutHandlerFn handler = Chip.Machine.OutHandler;
    // An even port with bit 15 clear reaches the beeper alone, as none of
    // the chip's ports of either machine has that bit clear.
    if ((port & 0x8001) == 0 && (handler == OutAuto || handler == OutSpectrum) &&
        BeeperWriteWaits(*this, BeeperLevelOf(Chip, value)))
        return;
    OutThroughHandler(*this, handler, port, value);
}

uint8_t InPort(const ChipState& c, uint16_t port) {
    if ((port & 0xC002) == 0xC000 && c.Registers.Selected < StoredRegisters)
        return c.Registers.Values[c.Registers.Selected];
    return 0xFF;
}

void ResetSoundChip(SoundEngine& e, int16_t* firstBuffer) {
    ChipState& c = e.Chip;
    c.Registers = {};
    c.Generators = {};
    c.Machine = {}; // the Spectrum's timing until a CPC write says otherwise
    c.Deferred = {};
    c.Cursor = {};
    // The first frame is owed the whole part of a frame's ticks.
    c.Cursor.SampleBoundary = c.Machine.TicksPerSample;
    c.Cursor.OutputBuffer = firstBuffer;
    c.Caches = {};
}

void StartPlayback(SoundEngine& e, int16_t* firstBuffer) {
    ResetSoundChip(e, firstBuffer);
    ResetForPlayback(e.Z80);
}
