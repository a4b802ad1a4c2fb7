// The dense renderer: for spans in which heard outputs change every few ticks
// (fast noise, the highest tones), 64 ticks at a time as bit masks of the
// ticks in which each channel sounds. Gives the samples and the state of the
// tick-by-tick definition (synthesizer.cpp).
#include "chip/frame_cursor.h"
#include "chip/generators_inline.h"
#include "chip/render_plan.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace chip_detail {

namespace {

// Bit k of the result is the parity of bits 0..k: a mask of the ticks at which
// an output changes becomes the mask of the ticks in which it is flipped.
inline uint64_t RunningParity(uint64_t x) {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

// floor(x / d) for x < 64 and 1 <= d < 1024, by a multiplication with
// `ReciprocalFor(d)` (rounded up: the error stays below 1/1024 < 1/d).
inline uint32_t ReciprocalFor(uint32_t d) {
    ZIRRAFON_ASSERT(d >= 1 && d < 1024);
    return (0x10000 + d - 1) / d;
}
inline uint32_t DivideSmall(uint32_t x, uint32_t reciprocal) {
    ZIRRAFON_ASSERT(x < 64);
    return (x * reciprocal) >> 16;
}

// Where the next eight noise shifts, `spacing` = 2, 4, 6 or 8 ticks apart,
// change the output, by the byte of their differences (bit 7 for the first
// shift, at bit 0 of the result; bit 6 for the second, at bit `spacing`, ...).
consteval std::array<std::array<uint64_t, 256>, 5> MakeNoiseChangeSpread() {
    std::array<std::array<uint64_t, 256>, 5> spread{};
    for (int half = 1; half <= 4; ++half)
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i)
                if ((b >> (7 - i)) & 1) spread[half][b] |= 1ull << (i * 2 * half);
    return spread;
}
inline constexpr auto NoiseChangeSpread = MakeNoiseChangeSpread();

// Every d-th bit from bit 0, d = 1 .. 8.
constexpr uint64_t EveryNthBit[9] = {
    0,
    ~0ull,
    0x5555555555555555ull,
    0x9249249249249249ull,
    0x1111111111111111ull,
    0x1084210842108421ull,
    0x1041041041041041ull,
    0x8102040810204081ull,
    0x0101010101010101ull,
};

} // namespace

// Chunk by chunk: for 64 ticks at a time, the ticks in which each generator's
// output is set become the bits of a mask (its changes as bits, then their
// running parity), each channel's "sounds" bits are the masks of its tone and
// noise combined as the mixer says, and a frame's sum is the count of its
// ticks in which each channel sounds, times the channel's level. The
// generators' state at the end is as RenderEvents leaves it. Levels stay
// within the span (see IsDense).
[[gnu::noinline]] void RenderDense(ChipState& c, const RenderPlan& plan, uint32_t total) {
    // Any other output position (only a damaged state) goes tick by tick.
    if (!FrameCursor::Follows(c)) {
        RenderTicksReference(c);
        return;
    }
    const uint32_t heard = plan.Heard;
    // The channels' weights (see RunMasks); levels the weights cannot hold,
    // and frames of more than 8 ticks, go event by event. So do beeper
    // levels beyond 16 bits and sums of the open frame beyond what 8 ticks
    // make of 16-bit levels, so that every frame's sum stays far inside what
    // DivideShortSum takes, whatever the settings.
    const auto within = [](int32_t v, int32_t bound) { return v >= -bound && v <= bound; };
    if ((c.Cursor.SampleBoundary >> 16) > 8 || !within(c.Beeper.Level, 1 << 15) ||
        !within(c.Cursor.SumLeft, 1 << 20) || !within(c.Cursor.SumRight, 1 << 20)) {
        RenderEvents(c, plan, total);
        return;
    }
    uint64_t weights[3];
    for (int ch = 0; ch < 3; ++ch) {
        const int i = LevelIndex(c, ch);
        const int32_t l = c.Mix.VolumeTable[ch][0][i], r = c.Mix.VolumeTable[ch][1][i];
        if (static_cast<uint32_t>(l) > 32767 || static_cast<uint32_t>(r) > 32767) {
            RenderEvents(c, plan, total);
            return;
        }
        weights[ch] = static_cast<uint64_t>(l) << 32 | static_cast<uint32_t>(r);
    }
    FrameCursor w(c);

    // The tick of each heard generator's next change (absolute in the span,
    // from 1), its spacing, and its output now.
    uint32_t toneAt[3] = {Never, Never, Never}, toneSpacing[3] = {1, 1, 1}, toneRecip[3] = {};
    uint32_t toneOut[3], flipped = 0;
    for (int ch = 0; ch < 3; ++ch) {
        toneOut[ch] = c.Generators.ToneOutput[ch] & 1;
        if (!(heard & (1u << ch))) continue;
        const uint32_t p = TonePeriod(c, ch);
        toneAt[ch] = TicksToToneFlip(c.Generators.ToneCounter[ch], p);
        toneSpacing[ch] = p > 1 ? p : 1;
        toneRecip[ch] = ReciprocalFor(toneSpacing[ch] < 1024 ? toneSpacing[ch] : 1);
    }
    const bool noiseHeard = (heard & HearNoise) != 0;
    const uint32_t noiseSpacing = NoiseSpacing(NoiseLimit(c));
    const uint32_t noiseRecip = ReciprocalFor(noiseSpacing);
    uint32_t noiseShift = c.Generators.NoiseShift, shiftAt = Never, lastShift = 0;
    if (noiseHeard) shiftAt = TicksToNoiseShift(c.Generators.NoiseCounter, NoiseLimit(c));

    // The span ends early where the buffer fills.
    const uint32_t limit = std::min(total, w.Limit);
    const int32_t beeper = c.Beeper.Level;
    uint64_t toneMask[3] = {~0ull, ~0ull, ~0ull};
    for (uint32_t base = 0; base < limit;) {
        const uint32_t last = limit - base < 64 ? limit : base + 64; // the chunk's last tick
        const uint32_t n = last - base;
        for (int ch = 0; ch < 3; ++ch) {
            if (!(heard & (1u << ch))) continue;
            uint64_t changes = 0;
            uint32_t at = toneAt[ch];
            if (at <= last) {
                const uint32_t spacing = toneSpacing[ch];
                if (spacing <= 8) {
                    const uint32_t flips = DivideSmall(last - at, toneRecip[ch]) + 1;
                    changes = EveryNthBit[spacing] << (at - base - 1);
                    at += flips * spacing;
                } else {
                    for (; at <= last; at += spacing) changes |= 1ull << (at - base - 1);
                }
                flipped |= 1u << ch;
            }
            toneAt[ch] = at;
            toneMask[ch] = RunningParity(changes) ^ (0 - static_cast<uint64_t>(toneOut[ch]));
            toneOut[ch] = static_cast<uint32_t>(toneMask[ch] >> (n - 1)) & 1;
        }
        uint64_t noiseMask = ~0ull;
        if (noiseHeard) {
            // The outputs of the next j shifts are the register's bits 15 down
            // to 16 - j, so a shift changes the output where those bits and
            // their upper neighbours differ. Up to 16 shifts at a time.
            const uint64_t before = 0 - static_cast<uint64_t>((noiseShift >> 16) & 1);
            uint64_t changes = 0;
            while (shiftAt <= last) {
                const uint32_t k = shiftAt - base - 1;
                const uint32_t differ = noiseShift ^ (noiseShift >> 1);
                uint32_t m;
                if (noiseSpacing <= 8) {
                    // Eight shifts by table: bits 15 down to 8; when the
                    // chunk holds more, eight more from bits 7 down to 0.
                    // Those past the chunk land on bits that nothing reads.
                    const uint32_t room = DivideSmall(last - shiftAt, noiseRecip) + 1;
                    const auto& spread = NoiseChangeSpread[noiseSpacing / 2];
                    changes |= spread[(differ >> 8) & 0xFF] << k;
                    if (room > 8) {
                        // The ninth shift lies inside the chunk: k + 8 x
                        // spacing < 64.
                        ZIRRAFON_ASSERT(k + 8 * noiseSpacing < 64);
                        changes |= spread[differ & 0xFF] << (k + 8 * noiseSpacing);
                        m = std::min<uint32_t>(16, room);
                    } else {
                        m = room;
                    }
                    noiseShift = NoiseShiftFew(noiseShift, m);
                } else {
                    m = std::min<uint32_t>(14, DivideSmall(last - shiftAt, noiseRecip) + 1);
                    uint32_t at = k;
                    for (uint32_t j = 1; j <= m; ++j, at += noiseSpacing)
                        changes |= static_cast<uint64_t>((differ >> (16 - j)) & 1) << at;
                    noiseShift = NoiseShiftBlock(noiseShift, static_cast<int>(m));
                }
                lastShift = shiftAt + (m - 1) * noiseSpacing;
                shiftAt = lastShift + noiseSpacing;
            }
            noiseMask = RunningParity(changes) ^ before;
        }
        uint64_t sounds[3];
        for (int ch = 0; ch < 3; ++ch) {
            const uint64_t tone = (heard & (1u << ch)) ? toneMask[ch] : ~0ull;
            sounds[ch] = tone & (plan.NoiseOff[ch] ? ~0ull : noiseMask);
        }
        w.RunMasks(base, last, sounds, weights, beeper);
        base = last;
    }
    const uint32_t pos = limit;

    // The counters at the end of what was rendered, as RenderEvents leaves
    // them.
    w.Store(c);
    c.Cursor.TicksRendered += pos;
    if (w.Full() && c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
    for (int ch = 0; ch < 3; ++ch) {
        if (!(heard & (1u << ch))) {
            AdvanceTone(c, ch, pos);
            continue;
        }
        c.Generators.ToneOutput[ch] = static_cast<uint8_t>(toneOut[ch]);
        if (flipped & (1u << ch))
            c.Generators.ToneCounter[ch] =
                static_cast<uint16_t>(toneSpacing[ch] - (toneAt[ch] - pos));
        else
            c.Generators.ToneCounter[ch] =
                static_cast<uint16_t>(c.Generators.ToneCounter[ch] + pos);
    }
    c.Generators.NoiseShift = noiseShift;
    if (lastShift) {
        c.Generators.NoiseCounter = 0;
        AdvanceNoise(c, pos - lastShift);
    } else {
        AdvanceNoise(c, pos);
    }
    AdvanceEnvelope(c, pos);
}

} // namespace chip_detail
