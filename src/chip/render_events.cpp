// The event renderer: a span cut at every tick in which a heard generator
// changes its output, the ticks between two cuts going into the frames as one
// run. It takes every span the other fast renderers do not, and gives the
// samples and the state of the tick-by-tick definition (synthesizer.cpp).
#include "chip/frame_cursor.h"
#include "chip/generators_inline.h"
#include "chip/render_plan.h"

#include <algorithm>
#include <cstdint>

namespace chip_detail {

namespace {

// Ticks from a noise shift to the shift that changes the noise output: after
// j shifts the output is the present bit 16 - j, so the first bit below bit
// 16 that differs from it tells (16 at most; a change that comes later is
// then only looked at again).
inline uint32_t ShiftsToNoiseChange(uint32_t s) {
    const uint32_t differ = (s ^ ((s >> 16) & 1 ? 0xFFFFu : 0u)) & 0xFFFF;
    return differ ? 16 - (31 - static_cast<uint32_t>(__builtin_clz(differ))) : 16;
}

// Event by event: the span is cut at every tick in which a generator that is
// heard changes its output (a tone flip, a noise shift that changes the noise
// bit, an envelope step); the ticks between two such cuts all mix alike and go
// into the frames as one run. Tick indices below count from 1, the first tick
// of the span; a change "at" tick t is mixed into tick t. The outputs of the
// heard generators are kept in locals as they change; the counters of every
// generator are brought to the span's end once, in closed form. Kept out of
// line so that the short spans above do not pay for its set-up.
//
// The loop is the renderer's hottest code. A tick's mix is looked up by
// which channels sound (bit n for channel n, bit 3 for the beeper's level
// which is added outside), and the tone flips due at a tick are found and
// taken without branches, since which of them comes next is as good as random.
//
// It comes in builds by whether noise and envelope steps can cut a span
// (`Noise`, `Envelope`), since a build without them keeps fewer values live,
// and by whether the runs go through the lean cursor (`Lean`, where
// `LeanCursor::Takes`) or the general one. A mix holds both sides in one
// word (PackSides).
template <bool Noise, bool Envelope, bool Lean>
[[gnu::noinline]] void RenderEventsOf(ChipState& c, const RenderPlan& plan, uint32_t total,
                                      FrameCursor& w) {
    const uint32_t heard = plan.Heard;

    // A channel sounds in a tick when (tone output | tone off) & (noise bit |
    // noise off); as masks of the three channels.
    uint32_t toneBits = 0, toneOffBits = 0, noiseOffBits = 0;
    for (int ch = 0; ch < 3; ++ch) {
        toneBits |= static_cast<uint32_t>(c.Generators.ToneOutput[ch] & 1) << ch;
        toneOffBits |= static_cast<uint32_t>(plan.ToneOff[ch]) << ch;
        noiseOffBits |= static_cast<uint32_t>(plan.NoiseOff[ch]) << ch;
    }
    // What the channels that sound add, for each mask; rebuilt when an
    // envelope step changes the level of a channel that follows it.
    int32_t volL[3], volR[3];
    uint32_t enveloped = 0; // the channels that follow the envelope
    for (int ch = 0; ch < 3; ++ch) {
        if (c.Registers.FixedVolume[ch]) {
            volL[ch] = plan.FixedLeft[ch];
            volR[ch] = plan.FixedRight[ch];
        } else {
            enveloped |= 1u << ch;
            const int i = LevelIndex(c, ch);
            volL[ch] = c.Mix.VolumeTable[ch][0][i];
            volR[ch] = c.Mix.VolumeTable[ch][1][i];
        }
    }
    uint64_t mix[8];
    const int32_t beeper = c.Beeper.Level;
    const auto buildMix = [&]() {
        // Each mask adds its highest channel to the mask without it.
        mix[0] = PackSides(beeper, beeper);
        for (int m = 1; m < 8; ++m) {
            const int ch = m >= 4 ? 2 : m >= 2 ? 1 : 0;
            mix[m] = mix[m & ~(1 << ch)] + PackSides(volL[ch], volR[ch]);
        }
    };
    buildMix();

    // The tick of each heard generator's next change, and its spacing.
    uint32_t toneAt[3] = {Never, Never, Never}, toneSpacing[3] = {1, 1, 1};
    for (int ch = 0; ch < 3; ++ch) {
        if (!(heard & (1u << ch))) continue;
        const uint32_t p = TonePeriod(c, ch);
        toneAt[ch] = TicksToToneFlip(c.Generators.ToneCounter[ch], p);
        toneSpacing[ch] = p > 1 ? p : 1;
    }
    uint32_t toneAt0 = toneAt[0], toneAt1 = toneAt[1], toneAt2 = toneAt[2];
    const uint32_t spacing0 = toneSpacing[0], spacing1 = toneSpacing[1], spacing2 = toneSpacing[2];
    uint32_t flipped = 0; // the channels whose tone flipped in the span
    const uint32_t noiseLimit = NoiseLimit(c);
    const uint32_t noiseSpacing = NoiseSpacing(noiseLimit);
    uint32_t noiseShift = c.Generators.NoiseShift;
    uint32_t noiseAt = Never, noiseShifts = 0, lastNoise = 0;
    if (Noise) {
        noiseShifts = ShiftsToNoiseChange(noiseShift);
        noiseAt = TicksToNoiseShift(c.Generators.NoiseCounter, noiseLimit) +
                  (noiseShifts - 1) * noiseSpacing;
    }
    const uint32_t envelopePeriod = EnvelopePeriod(c);
    const uint32_t envelopeSpacing = envelopePeriod > 1 ? envelopePeriod : 1;
    uint32_t envelopeAt = Never, lastStep = 0;
    if (Envelope) envelopeAt = TicksToEnvelopeStep(c.Generators.EnvelopeCounter, envelopePeriod);

    // The span ends early where the buffer fills.
    const uint32_t limit = std::min(total, w.Limit);
    [[maybe_unused]] LeanCursor lean(w);
    const auto runTo = [&](uint32_t to, uint64_t level) {
        if constexpr (Lean)
            lean.RunTo(to, level);
        else
            w.RunTo(to, LeftSide(level), RightSide(level));
    };

    // A run of ticks at one mix goes out when the mix changes: changes that
    // cancel in the mix (a tone flip or noise change on a channel that the
    // other generator keeps silent, an envelope step between two equal
    // levels) do not cut it.
    const auto mixOf = [&]() {
        const uint32_t noiseMask = noiseOffBits | ((0u - ((noiseShift >> 16) & 1)) & 7);
        return (toneBits | toneOffBits) & noiseMask;
    };
    uint64_t run = mix[mixOf()];
    for (;;) {
        uint32_t next = toneAt0 < toneAt1 ? toneAt0 : toneAt1;
        next = toneAt2 < next ? toneAt2 : next;
        if (Noise) next = noiseAt < next ? noiseAt : next;
        if (Envelope) next = envelopeAt < next ? envelopeAt : next;
        if (next > limit) break;
        // The changes due in tick `next`.
        const uint32_t due = static_cast<uint32_t>(toneAt0 == next) |
                             static_cast<uint32_t>(toneAt1 == next) << 1 |
                             static_cast<uint32_t>(toneAt2 == next) << 2;
        toneBits ^= due;
        flipped |= due;
        toneAt0 += due & 1 ? spacing0 : 0;
        toneAt1 += due & 2 ? spacing1 : 0;
        toneAt2 += due & 4 ? spacing2 : 0;
        if (Noise && noiseAt == next) {
            noiseShift = NoiseShiftFew(noiseShift, noiseShifts);
            lastNoise = next;
            noiseShifts = ShiftsToNoiseChange(noiseShift);
            noiseAt = next + noiseShifts * noiseSpacing;
        }
        if (Envelope && envelopeAt == next) {
            c.Generators.EnvelopeStep(c.Generators);
            lastStep = next;
            envelopeAt = EnvelopeHolds(c) ? Never : next + envelopeSpacing;
            // Two neighbouring steps often share a level (the AY-3-8910 has
            // 16 for the envelope's 32): then the mix stays.
            const int i =
                static_cast<int>(static_cast<uint16_t>(c.Generators.EnvelopePosition) & 31);
            bool changed = false;
            for (int ch = 0; ch < 3; ++ch) {
                if (!(enveloped & (1u << ch))) continue;
                const int32_t l = c.Mix.VolumeTable[ch][0][i], r = c.Mix.VolumeTable[ch][1][i];
                changed |= l != volL[ch] || r != volR[ch];
                volL[ch] = l;
                volR[ch] = r;
            }
            if (changed) buildMix();
        }
        const uint64_t now = mix[mixOf()];
        if (now != run) {
            runTo(next - 1, run);
            run = now;
        }
    }
    runTo(limit, run);
    if constexpr (Lean) lean.StoreTo(w);
    const uint32_t pos = limit;

    // The counters at the end of what was rendered. A heard tone that flipped
    // in the span had its counter restart at 0 and is now as far from its
    // next flip as its next flip tick says; after the last noise shift or
    // envelope step the counter stood at 0 (the envelope's at 1, or 0 for
    // periods 0 and 1), and nothing heard changed since.
    w.Store(c);
    c.Cursor.TicksRendered += pos;
    if (w.Full() && c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
    c.Generators.NoiseShift = noiseShift;
    const uint32_t nextFlip[3] = {toneAt0, toneAt1, toneAt2};
    for (int ch = 0; ch < 3; ++ch) {
        c.Generators.ToneOutput[ch] = static_cast<uint8_t>((toneBits >> ch) & 1);
        if (!(heard & (1u << ch)))
            AdvanceTone(c, ch, pos);
        else if (flipped & (1u << ch))
            c.Generators.ToneCounter[ch] =
                static_cast<uint16_t>(toneSpacing[ch] - (nextFlip[ch] - pos));
        else
            c.Generators.ToneCounter[ch] =
                static_cast<uint16_t>(c.Generators.ToneCounter[ch] + pos);
    }
    if (lastNoise) {
        c.Generators.NoiseCounter = 0;
        AdvanceNoise(c, pos - lastNoise);
    } else {
        AdvanceNoise(c, pos);
    }
    if (lastStep) {
        c.Generators.EnvelopeCounter = envelopePeriod > 1 ? 1 : 0;
        AdvanceEnvelope(c, pos - lastStep);
    } else {
        AdvanceEnvelope(c, pos);
    }
}

// The build of the event renderer for what can cut the span and the cursor
// it can use.
template <bool Lean>
void RenderEventsWith(ChipState& c, const RenderPlan& plan, uint32_t total, FrameCursor& w) {
    const bool noise = (plan.Heard & HearNoise) != 0;
    const bool envelope = (plan.Heard & HearEnvelope) != 0 && !EnvelopeHolds(c);
    if (noise)
        envelope ? RenderEventsOf<true, true, Lean>(c, plan, total, w)
                 : RenderEventsOf<true, false, Lean>(c, plan, total, w);
    else
        envelope ? RenderEventsOf<false, true, Lean>(c, plan, total, w)
                 : RenderEventsOf<false, false, Lean>(c, plan, total, w);
}

} // namespace

void RenderEvents(ChipState& c, const RenderPlan& plan, uint32_t total) {
    // Any other output position (only a damaged state) goes tick by tick.
    if (!FrameCursor::Follows(c)) {
        RenderTicksReference(c);
        return;
    }
    FrameCursor w(c);
    if (LeanCursor::Takes(c, plan, w, std::min(total, w.Limit)))
        RenderEventsWith<true>(c, plan, total, w);
    else
        RenderEventsWith<false>(c, plan, total, w);
}

} // namespace chip_detail
