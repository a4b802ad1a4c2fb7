// What the fast renderers share besides the frame cursor: the plan they derive
// from R7..R10 and the volume tables (which generators can be heard, what the
// fixed levels add), and the renderers' entry points, each in a file of its
// own:
// - synthesizer.cpp: the tick-by-tick definition, `RenderFast` (which picks
//   one of the others for a span) and `RenderUpTo`; spans in which nothing
//   that changes is heard go there as one run;
// - render_events.cpp: event by event, a run of ticks at one mix between two
//   changes of a heard generator;
// - render_dense.cpp: 64 ticks at a time as bit masks, where heard outputs
//   change every few ticks;
// - render_beeper.cpp: the spans of the beeper changes that waited, in one
//   batch.
// Every one of them gives the samples and the state of the definition.
//
// Private to the chip library.
#pragma once

#include "chip/chip.h"
#include "chip/generators_inline.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace chip_detail {
// The helpers below are each renderer file's own (an unnamed namespace), as
// the frame cursor's are, so that they inline as a file's own functions do.
namespace {

// Bits of a hearing mask: the tones of A, B, C, the noise, the envelope.
enum : uint32_t { HearNoise = 1u << 3, HearEnvelope = 1u << 4 };

// The generators that can be heard with the registers and tables as they
// are. A channel is silent when it plays a fixed level whose entries are 0 on
// both sides; the tone of a channel that is not silent is heard when it is
// enabled, the noise when some such channel enables it, the envelope when a
// channel follows it. Nothing of this changes within one span.
inline uint32_t WhatIsHeard(const ChipState& c) {
    uint32_t heard = 0;
    for (int ch = 0; ch < 3; ++ch) {
        bool sounds = true;
        if (c.Registers.FixedVolume[ch]) {
            const int i = LevelIndex(c, ch);
            sounds = (c.Mix.VolumeTable[ch][0][i] | c.Mix.VolumeTable[ch][1][i]) != 0;
        } else {
            heard |= HearEnvelope;
        }
        if (sounds && c.Registers.ToneOn[ch]) heard |= 1u << ch;
        if (sounds && c.Registers.NoiseOn[ch]) heard |= HearNoise;
    }
    return heard;
}

constexpr uint32_t Never = UINT32_MAX; // the tick of a change that does not come

// The plan for the registers and tables as they are, rebuilt when stale.
[[gnu::always_inline]] inline const RenderPlan& PlanFor(ChipState& c) {
    uint32_t registers;
    std::memcpy(&registers, &c.Registers.Values[Mixer], sizeof registers); // R7..R10
    RenderPlan& p = c.Caches.Plan;
    if (p.Registers == registers && p.Tables == c.Mix.TableVersion) return p;
    p.Registers = registers;
    if (p.Tables != c.Mix.TableVersion) {
        p.Tables = c.Mix.TableVersion;
        const auto& entries = c.Mix.VolumeTable;
        p.SmallTables = std::all_of(&entries[0][0][0], &entries[0][0][0] + 3 * 2 * 32,
                                    [](int32_t v) { return v >= 0 && v <= 32767; });
    }
    p.Heard = WhatIsHeard(c);
    p.SteadyLeft = p.SteadyRight = 0;
    for (int ch = 0; ch < 3; ++ch) {
        p.ToneOff[ch] = c.Registers.ToneOn[ch] ? 0 : 1;
        p.NoiseOff[ch] = c.Registers.NoiseOn[ch] ? 0 : 1;
        p.FixedLeft[ch] = p.FixedRight[ch] = 0;
        if (!c.Registers.FixedVolume[ch]) continue;
        const int i = LevelIndex(c, ch);
        p.FixedLeft[ch] = c.Mix.VolumeTable[ch][0][i];
        p.FixedRight[ch] = c.Mix.VolumeTable[ch][1][i];
        if (p.ToneOff[ch] && p.NoiseOff[ch]) {
            p.SteadyLeft += p.FixedLeft[ch];
            p.SteadyRight += p.FixedRight[ch];
        }
    }
    return p;
}

// Spans in which a heard generator changes every few ticks: a noise period
// of at most `DenseNoiseSpacing` / 2, or a heard tone period of at most
// `DenseTonePeriod`, at levels that stay (no envelope heard, or one that
// holds). There an event costs more than the ticks between two events.
constexpr uint32_t DenseNoiseSpacing = 8;
constexpr uint32_t DenseTonePeriod = 4;

inline bool IsDense(const ChipState& c, const RenderPlan& plan) {
    const uint32_t heard = plan.Heard;
    if ((heard & HearEnvelope) && !EnvelopeHolds(c)) return false;
    // Frames of 4 to 8 ticks (the Spectrum's): shorter ones (the CPC's) make
    // a chunk cost more than its events, longer ones do not fit the counts.
    if (c.Machine.TicksPerSample < (4u << 16) || c.Machine.TicksPerSample > (8u << 16))
        return false;
    if ((heard & HearNoise) && NoiseSpacing(NoiseLimit(c)) <= DenseNoiseSpacing) return true;
    for (int ch = 0; ch < 3; ++ch)
        if ((heard & (1u << ch)) && TonePeriod(c, ch) <= DenseTonePeriod) return true;
    return false;
}

} // namespace

// Event by event (render_events.cpp), for `total` ticks from where the
// span stands.
void RenderEvents(ChipState& c, const RenderPlan& plan, uint32_t total);
// 64 ticks at a time (render_dense.cpp), for the spans IsDense takes.
void RenderDense(ChipState& c, const RenderPlan& plan, uint32_t total);
// The span from `LastSynthTState` up to `tStates`, rendered (synthesizer.cpp).
void RenderUpTo(SoundEngine& e, int32_t tStates);

} // namespace chip_detail
