// The sound chip engine: one AY-3-8910 / YM2149F register file with its tone,
// noise and envelope generators, the ZX Spectrum beeper, the decoding of the
// Spectrum 128 and Amstrad CPC ports, the synthesizer that turns chip ticks into
// 44,100 Hz stereo PCM, and the frame loop that runs the Z80 to fill a buffer.
//
// Everything works on one `SoundEngine` (a Z80 plus a chip); there are no
// globals, so several engines can render at once on several threads.
#pragma once

#include "z80/z80.h"

#include <cstdint>

class SoundEngine;
struct ChipGenerators;

using OutHandlerFn = void (*)(SoundEngine&, uint16_t port, uint8_t value);
using EnvelopeStepFn = void (*)(ChipGenerators&);

constexpr int BufferValues = 32640; // 16-bit values per output buffer (16320 stereo frames)
constexpr int DefaultChipMode = 2;  // "AY-3-8910 ABC Stereo"

// The chip's registers by number. R14 and R15, the chip's two I/O ports, are
// not kept (see ports.cpp): `StoredRegisters` counts the ones that are.
enum ChipRegister : int {
    ToneFineA = 0,
    ToneCoarseA,
    ToneFineB,
    ToneCoarseB,
    ToneFineC,
    ToneCoarseC,
    NoisePeriod,
    Mixer,
    VolumeA,
    VolumeB,
    VolumeC,
    EnvelopeFine,
    EnvelopeCoarse,
    EnvelopeShape,
    IoPortA,
    IoPortB,
};
constexpr int StoredRegisters = IoPortA;

// Timing constants (32.32 chip ticks per T-state, 16.16 chip ticks per output
// frame): nearest integers to 2^32 * ticks/s / 3494400 and 65536 * ticks/s / 44100.
constexpr uint64_t SpectrumTicksPerTState = 0x103D6BD7; // 1,773,400 Hz chip / 8
constexpr uint32_t SpectrumTicksPerSample = 0x506D2;
constexpr uint64_t CpcTicksPerTState = 0x9285285; // 1,000,000 Hz chip / 8
constexpr uint32_t CpcTicksPerSample = 0x2D5A0;

void OutAuto(SoundEngine& e, uint16_t port, uint8_t value);
void EnvelopeDecaySilent(ChipGenerators& g);

// The chip's state comes in groups by how long each part lives, so that a
// song start assigns whole groups:
// - started afresh for every song (`ResetSoundChip`): the register file, the
//   generators, the machine's ports and timing, the deferred changes and the
//   synthesizer's cursor;
// - set by the song's start-up: the beeper's level;
// - the player's settings, which outlive songs: the mix;
// - derived copies kept for speed, which may be dropped at any time: the caches.

// The register file as the song wrote it, and the mixer flags read from it.
struct ChipRegisters {
    uint8_t Values[StoredRegisters]{}; // masked as the chip keeps them
    uint8_t Selected = 0;              // the register the next data write goes to
    uint8_t ToneOn[3]{1, 1, 1};        // from R7: 1 when the bit is 0
    uint8_t NoiseOn[3]{1, 1, 1};
    uint8_t FixedVolume[3]{1, 1, 1}; // from R8..R10: 1 when bit 4 is 0
    // Envelope shape writes made (each restarts the envelope), so that a
    // register dump can mark the frames that restart it.
    uint32_t EnvelopeWrites = 0;
};

struct ChipGenerators {
    uint16_t ToneCounter[3]{};
    uint8_t ToneOutput[3]{};
    uint16_t NoiseCounter = 0;
    uint32_t NoiseShift = 0xFFFF;
    uint32_t EnvelopeCounter = 0;
    int16_t EnvelopePosition = 0;
    uint8_t EnvelopeFlag = 0;
    EnvelopeStepFn EnvelopeStep = EnvelopeDecaySilent; // the routine of shape 0
    // Ticks the generators have yet to be advanced by. Spans in which no
    // generator is heard (a beeper song's) only count their ticks here; the
    // generators catch up in closed form before anything uses them (a
    // register write, a span in which they are heard, the end of a buffer).
    // `SettleGenerators` brings them up to date.
    uint32_t UnheardTicks = 0;
};

// Which machine's ports the song drives, their decoding state, and the chip
// clock that comes with the machine.
struct MachinePorts {
    OutHandlerFn OutHandler = OutAuto;
    uint8_t PpiLatch = 0;
    uint8_t PpiControl = 0;
    uint64_t TicksPerTState = SpectrumTicksPerTState;
    uint32_t TicksPerSample = SpectrumTicksPerSample;
};

// The beeper's contribution to every tick: 0 or `ChipMix::BeeperAmplitude`.
// `NewLevel` is the level of the last beeper write, waiting when deferred.
struct BeeperLevels {
    int32_t Level = 0;
    int32_t NewLevel = 0;
};

// Changes that came while the buffer was full, applied at the next one.
struct DeferredChanges {
    uint8_t BeeperPending = 0; // in `BeeperLevels::NewLevel`
    uint8_t WritePending = 0;
    int32_t Register = 0;
    int32_t Value = 0; // as written (unmasked)
};

// Where the synthesizer stands: the span being rendered, the output frame
// being summed and the buffer being filled.
struct SynthCursor {
    int32_t LastSynthTState = 0;
    uint32_t TickFraction = 0;
    uint32_t TicksToRender = 0;
    uint32_t TicksRendered = 0;
    int32_t TicksInSample = 0;
    int32_t SumLeft = 0, SumRight = 0;
    uint32_t SampleBoundary = 0;
    int16_t* OutputBuffer = nullptr;
    uint16_t OutputCount = 0;
    uint8_t BufferFull = 0; // the buffer filled before the span's end
    // Beeper level changes whose spans are not rendered yet, oldest first:
    // the T-states from `LastSynthTState` to the change, and the level before
    // it (`BeeperLevels::Level` is already the newest). A change waits here
    // instead of rendering only while the span up to it leaves room in the
    // buffer; any rendering renders these first, in one batch
    // (`RenderBeeperEdges`), to the samples of rendering at every change.
    // Beeper players change the level tens of thousands of times a second.
    // Empty between buffers.
    struct BeeperEdge {
        int32_t Offset;
        int32_t LevelBefore;
    };
    static constexpr uint32_t MaxBeeperEdges = 64;
    uint32_t BeeperEdgeCount = 0;
    BeeperEdge BeeperEdges[MaxBeeperEdges]{};
};

// The voices of the mix: the chip's three channels and the beeper. A set of
// voices has bit n for voice n.
enum Voice : int { VoiceA, VoiceB, VoiceC, VoiceBeeper };
constexpr int VoiceCount = 4;
constexpr unsigned AllVoices = (1u << VoiceCount) - 1;

// What the player's settings make of the chip's levels: the volume tables
// and the beeper's amplitude.
struct ChipMix {
    int32_t BeeperSetting = 16384;
    int32_t BeeperAmplitude = -16384;
    int32_t VolumeTable[3][2][32]{}; // [channel A,B,C][left,right][level]
    // `SetChipAndChannels` counts its rebuilds of the tables here; code that
    // changes `VolumeTable` by other means must count too.
    uint32_t TableVersion = 1;
    // The voices left out (a set of `Voice`s): `SetChipAndChannels` builds
    // their tables and the beeper's amplitude as 0, so that the others sound
    // exactly as they do with every voice in.
    uint8_t MutedVoices = 0;
};

// What the fast renderer derives from R7..R10 and the volume tables, kept
// between spans: rebuilt when R7..R10 differ from `Registers` or the mix's
// `TableVersion` from `Tables`.
struct RenderPlan {
    uint32_t Registers = 0; // R7..R10, little-endian
    uint32_t Tables = 0;    // `TableVersion` at the build; 0 = never built
    uint32_t Heard = 0;     // the generators that can be heard
    // What each channel adds while it sounds, for a fixed level; and the
    // sum of the channels that sound all the time at a fixed level.
    int32_t FixedLeft[3]{}, FixedRight[3]{};
    int32_t SteadyLeft = 0, SteadyRight = 0;
    uint8_t ToneOff[3]{}, NoiseOff[3]{}; // 1 when the mixer bit disables it
    // 1 when every entry of the volume tables lies in 0..32767 (as
    // `SetChipAndChannels` builds them), so that frame sums stay small.
    uint8_t SmallTables = 0;
};

// Derived copies, not part of a song's state.
struct RenderCaches {
    // Chip ticks that fill the output buffer from where the rendering stands;
    // 0 when that is not known. A beeper write that keeps the level may leave
    // its span unrendered only while the span is shorter, so that the buffer
    // ends where it would if every write rendered. `BeginBuffer` measures it
    // and `Synthesizer` counts it down; anything else that moves the output
    // position must set it to 0 or call `MeasureTicksToFill`.
    uint32_t TicksToFill = 0;
    RenderPlan Plan;
};

struct ChipState {
    ChipRegisters Registers;
    ChipGenerators Generators;
    MachinePorts Machine;
    BeeperLevels Beeper;
    DeferredChanges Deferred;
    SynthCursor Cursor;
    ChipMix Mix;
    RenderCaches Caches;
    // Renderer choice, kept from song to song: 0 sums runs of unchanging
    // ticks at once, 1 steps tick by tick. Both give the same samples and the
    // same state.
    uint8_t TickByTick = 0;
};

// One emulated machine: the Z80 and the chip it drives. The Z80's OUT and IN
// land here.
class SoundEngine final : public Z80Ports {
  public:
    SoundEngine();
    SoundEngine(const SoundEngine&) = delete;
    SoundEngine& operator=(const SoundEngine&) = delete;

    void Out(uint16_t port, uint8_t value) override; // through `Chip.Machine.OutHandler`
    uint8_t In(uint16_t port) override;
    bool SteadyInput() const override { return true; } // the chip's registers, or 0xFF

    Z80State Z80;
    ChipState Chip;
};

// Register writes and port decoding
void WriteRegister(ChipState& c, int reg, int value);
// A register write at the Z80's current instant: render up to it with the old
// state, then write, or keep the write for the next buffer when the rendering
// filled this one.
void RenderAndWrite(SoundEngine& e, int reg, uint8_t value);
void OutSpectrum(SoundEngine& e, uint16_t port, uint8_t value);
void OutCpc(SoundEngine& e, uint16_t port, uint8_t value);
uint8_t InPort(const ChipState& c, uint16_t port);
// Start of a song's playback: chip state afresh, Spectrum timing, `OutAuto`.
void ResetSoundChip(SoundEngine& e, int16_t* firstBuffer);
// The whole engine start state of a playback: `ResetSoundChip` plus the Z80's
// interrupt state, references and T-state counter.
void StartPlayback(SoundEngine& e, int16_t* firstBuffer);

// Generators
void StepGenerators(ChipState& c);
// Advances the generators by `UnheardTicks` (see there).
void SettleGenerators(ChipState& c);
// The envelope's step routines, one per kind of shape (`EnvelopeShapes`).
void EnvelopeDecaySilent(ChipGenerators& g);
void EnvelopeAttackSilent(ChipGenerators& g);
void EnvelopeSawDown(ChipGenerators& g);
void EnvelopeTriangleDown(ChipGenerators& g);
void EnvelopeDecayHigh(ChipGenerators& g);
void EnvelopeSawUp(ChipGenerators& g);
void EnvelopeAttackHigh(ChipGenerators& g);
void EnvelopeTriangleUp(ChipGenerators& g);
extern const EnvelopeStepFn EnvelopeShapes[16];

// Synthesizer
void Synthesizer(SoundEngine& e);
// Renders the spans of the beeper changes waiting in `BeeperEdges`, each at
// the level before its change, up to the last of them (`Synthesizer` does
// this first).
void RenderBeeperEdges(SoundEngine& e);
void RenderTicks(ChipState& c); // one of the two below, by `TickByTick`
// The definition: `StepGenerators` and `MixTick` once per chip tick.
void RenderTicksReference(ChipState& c);
// The same result, summing runs of ticks in which no generator output that is
// heard changes.
void RenderTicksFast(ChipState& c);
void MixTick(ChipState& c);
// Sets `TicksToFill` from the output position.
void MeasureTicksToFill(ChipState& c);
// Builds the volume tables for chip mode 0..13 at `volume` steps of `steps`
// (full volume when they are equal) and recomputes `BeeperAmplitude`,
// leaving out the voices in `MutedVoices` (a muted beeper's level drops to 0
// at once; unmuted, it comes back with its next write).
void SetChipAndChannels(ChipState& c, int mode, int volume, int steps);
// -Round(setting * (2^(volume/steps) - 1)), halves to even.
int32_t ComputeBeeperAmplitude(int32_t setting, int volume, int steps);

// Frame loop: fills `OutputBuffer` with exactly `BufferValues` values.
void MakeBuffer(SoundEngine& e);
// Told of every frame end of a buffer, with the Z80's T-states just after it
// and before that frame's sound is rendered (zirrafon-render's voice stems
// replay a song's writes frame by frame).
class FrameEndObserver {
  public:
    virtual ~FrameEndObserver() = default;
    virtual void FrameEnded(int32_t tStates) = 0;
};
// MakeBuffer, telling `observer` of each frame end.
void MakeBuffer(SoundEngine& e, FrameEndObserver& observer);
// The start of `MakeBuffer`: `OutputCount` = 0, then the rest of a span that
// did not fit the previous buffer and the changes deferred meanwhile. False when
// that rest filled this buffer too (the changes stay pending).
bool BeginBuffer(SoundEngine& e);
// One pass of the frame loop: refresh count, interrupt or one instruction,
// frame end with its rendering.
void FramePass(SoundEngine& e);
