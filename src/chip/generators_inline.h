// Inline pieces shared by the generators and both renderers: one chip tick of
// the tone, noise and envelope generators, the mix of one tick, and the closed
// forms that advance the generators over many ticks at once.
//
// The closed forms must agree exactly with stepping tick by tick (the renderers
// are compared sample for sample and state for state in the tests).
#pragma once

#include "chip/checks.h"
#include "chip/chip.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace chip_detail {

inline uint32_t TonePeriod(const ChipState& c, int ch) {
    const uint8_t* r = c.Registers.Values;
    return r[ToneFineA + 2 * ch] | (r[ToneCoarseA + 2 * ch] << 8);
}
inline uint32_t EnvelopePeriod(const ChipState& c) {
    const uint8_t* r = c.Registers.Values;
    return r[EnvelopeFine] | (r[EnvelopeCoarse] << 8);
}
// The noise counter compares against 2 x R6 on even counts only.
inline uint32_t NoiseLimit(const ChipState& c) { return 2u * c.Registers.Values[NoisePeriod]; }

// One shift of the 17-bit noise register: feedback NOT (bit 16 XOR bit 13).
constexpr uint32_t NoiseShiftOnce(uint32_t s) {
    return ((s << 1) & 0x1FFFF) | (~((s >> 16) ^ (s >> 13)) & 1);
}

// k shifts at once (0 <= k <= 14; 0 only keeps the 17 bits). The taps are three stages apart, so
// the k new bits all depend on bits of the old value only: shift i (0-based) feeds NOT (old bit
// 16-i XOR old bit 13-i) and that bit ends at position k-1-i.
inline uint32_t NoiseShiftBlock(uint32_t s, int k) {
    ZIRRAFON_ASSERT(k >= 0 && k <= 14);
    const uint32_t fresh = ~((s >> (17 - k)) ^ (s >> (14 - k))) & ((1u << k) - 1);
    return ((s << k) & 0x1FFFF) | fresh;
}

// 2^k shifts at once (k = 0..16). Shifting is affine over the bits of the
// register (each new bit the complement of the XOR of two old ones), and so is
// any number of shifts: the result is a constant XORed with the images of the
// set bits of the old value, looked up here a byte at a time (the constant
// folded into the top bit's entries).
struct NoiseJump {
    uint32_t Low[256]{}, Middle[256]{}, High[2]{};
    uint32_t operator()(uint32_t s) const {
        return Low[s & 0xFF] ^ Middle[(s >> 8) & 0xFF] ^ High[s >> 16];
    }
};
constexpr uint32_t NoiseCycle = 131071; // every state but 0x1FFFF lies on one cycle; 0x1FFFF stays

consteval std::array<NoiseJump, 17> MakeNoiseJumps() {
    std::array<NoiseJump, 17> jumps{};
    uint32_t image[17]; // of each bit, without the constant
    uint32_t constant = NoiseShiftOnce(0);
    for (int j = 0; j < 17; ++j) image[j] = NoiseShiftOnce(1u << j) ^ constant;
    for (int k = 0; k < 17; ++k) {
        const auto linear = [&image](uint32_t v) {
            uint32_t r = 0;
            for (int j = 0; j < 17; ++j)
                if ((v >> j) & 1) r ^= image[j];
            return r;
        };
        NoiseJump& t = jumps[static_cast<size_t>(k)];
        for (uint32_t b = 0; b < 256; ++b) {
            t.Low[b] = linear(b);
            t.Middle[b] = linear(b << 8);
        }
        t.High[0] = constant;
        t.High[1] = linear(1u << 16) ^ constant;
        // Twice this jump: the map applied to itself.
        uint32_t twice[17];
        for (int j = 0; j < 17; ++j) twice[j] = linear(image[j]);
        constant = linear(constant) ^ constant;
        for (int j = 0; j < 17; ++j) image[j] = twice[j];
    }
    return jumps;
}
inline constexpr std::array<NoiseJump, 17> NoiseJumps = MakeNoiseJumps();

// 1 <= n <= 28 shifts: one block, seldom two.
inline uint32_t NoiseShiftFew(uint32_t s, uint32_t n) {
    ZIRRAFON_ASSERT(n >= 1 && n <= 28);
    if (n > 14) [[unlikely]] {
        s = NoiseShiftBlock(s, 14);
        n -= 14;
    }
    return NoiseShiftBlock(s, static_cast<int>(n));
}

inline uint32_t NoiseShiftMany(uint32_t s, uint64_t n) {
    if (n >= 4 * 14) {
        // One jump per set bit of n, found without a test of every bit.
        for (uint32_t left = static_cast<uint32_t>(n % NoiseCycle); left != 0; left &= left - 1)
            s = NoiseJumps[static_cast<size_t>(__builtin_ctz(left))](s);
        return s;
    }
    while (n >= 14) {
        s = NoiseShiftBlock(s, 14);
        n -= 14;
    }
    if (n > 0) s = NoiseShiftBlock(s, static_cast<int>(n));
    return s;
}

// One chip tick of all generators.
inline void StepGeneratorsInline(ChipState& c) {
    for (int ch = 0; ch < 3; ++ch) {
        c.Generators.ToneCounter[ch] = static_cast<uint16_t>(c.Generators.ToneCounter[ch] + 1);
        if (c.Generators.ToneCounter[ch] >= TonePeriod(c, ch)) {
            c.Generators.ToneCounter[ch] = 0;
            c.Generators.ToneOutput[ch] ^= 1;
        }
    }
    c.Generators.NoiseCounter = static_cast<uint16_t>(c.Generators.NoiseCounter + 1);
    if ((c.Generators.NoiseCounter & 1) == 0 && c.Generators.NoiseCounter >= NoiseLimit(c)) {
        c.Generators.NoiseCounter = 0;
        c.Generators.NoiseShift = NoiseShiftOnce(c.Generators.NoiseShift);
    }
    if (c.Generators.EnvelopeCounter == 0) c.Generators.EnvelopeStep(c.Generators);
    c.Generators.EnvelopeCounter += 1;
    if (c.Generators.EnvelopeCounter >= EnvelopePeriod(c)) c.Generators.EnvelopeCounter = 0;
}

// The volume-table index a channel plays at: 2v+1 for a fixed amplitude v, the
// envelope position otherwise. The position is 0..31 whenever a tick is mixed;
// the mask only keeps a broken state from reading outside the table.
inline int LevelIndex(const ChipState& c, int ch) {
    return c.Registers.FixedVolume[ch]
               ? 2 * (c.Registers.Values[VolumeA + ch] & 0x0F) + 1
               : static_cast<int>(static_cast<uint16_t>(c.Generators.EnvelopePosition) & 31);
}

// What one tick adds to the left and right sums with the state as it is.
inline void MixLevel(const ChipState& c, int32_t& left, int32_t& right) {
    left = c.Beeper.Level;
    right = c.Beeper.Level;
    const uint32_t noise = (c.Generators.NoiseShift >> 16) & 1;
    for (int ch = 0; ch < 3; ++ch) {
        if ((!c.Registers.ToneOn[ch] || c.Generators.ToneOutput[ch]) &&
            (!c.Registers.NoiseOn[ch] || noise)) {
            const int i = LevelIndex(c, ch);
            left += c.Mix.VolumeTable[ch][0][i];
            right += c.Mix.VolumeTable[ch][1][i];
        }
    }
}

// Ticks until the tone of channel ch next flips (>= 1), with period p.
inline uint32_t TicksToToneFlip(uint32_t counter, uint32_t p) {
    return counter + 1 >= p ? 1 : p - counter;
}

// Ticks until the next noise shift (>= 1): the first even count at or above
// both the limit and counter + 1.
inline uint32_t TicksToNoiseShift(uint32_t counter, uint32_t limit) {
    uint32_t m = counter + 1 > limit ? counter + 1 : limit;
    m += m & 1;
    return m - counter;
}
// Ticks between shifts once the counter has restarted from 0.
inline uint32_t NoiseSpacing(uint32_t limit) { return limit > 2 ? limit : 2; }

// Ticks until the envelope counter next wraps to 0 (>= 1).
inline uint32_t TicksToEnvelopeWrap(uint32_t counter, uint32_t e) {
    return counter + 1 >= e ? 1 : e - counter;
}
// Ticks until the next envelope step (>= 1): the step comes in the tick that
// starts with the counter at 0.
inline uint32_t TicksToEnvelopeStep(uint32_t counter, uint32_t e) {
    return counter == 0 ? 1 : TicksToEnvelopeWrap(counter, e) + 1;
}

// True when further envelope steps change nothing: a one-shot shape that has
// finished.
inline bool EnvelopeHolds(const ChipState& c) {
    return c.Generators.EnvelopeFlag == 0 && (c.Generators.EnvelopeStep == EnvelopeDecaySilent ||
                                              c.Generators.EnvelopeStep == EnvelopeAttackSilent ||
                                              c.Generators.EnvelopeStep == EnvelopeDecayHigh ||
                                              c.Generators.EnvelopeStep == EnvelopeAttackHigh);
}

// Each generator advanced by n ticks in closed form, exactly as n calls of
// `StepGeneratorsInline` would advance it. The generators are independent of
// one another, so they may be advanced separately and in any order.
inline void AdvanceTone(ChipState& c, int ch, uint32_t n) {
    const uint32_t p = TonePeriod(c, ch);
    if (p <= 1) { // a flip on every tick (the usual state of an unused channel)
        c.Generators.ToneOutput[ch] ^= n & 1;
        if (n > 0) c.Generators.ToneCounter[ch] = 0;
        return;
    }
    const uint32_t first = TicksToToneFlip(c.Generators.ToneCounter[ch], p);
    if (n < first) {
        c.Generators.ToneCounter[ch] = static_cast<uint16_t>(c.Generators.ToneCounter[ch] + n);
    } else if (n == first) {
        c.Generators.ToneOutput[ch] ^= 1;
        c.Generators.ToneCounter[ch] = 0;
    } else {
        const uint32_t spacing = p > 1 ? p : 1;
        const uint32_t rest = n - first;
        c.Generators.ToneOutput[ch] ^= (1 + rest / spacing) & 1;
        c.Generators.ToneCounter[ch] = static_cast<uint16_t>(rest % spacing);
    }
}

inline void AdvanceNoise(ChipState& c, uint32_t n) {
    const uint32_t limit = NoiseLimit(c);
    if (limit <= 2 && c.Generators.NoiseCounter <= 1) {
        // Noise periods 0 and 1 from a counter below 2: a shift on every
        // second tick, whenever the counter reaches 2.
        const uint64_t t = static_cast<uint64_t>(c.Generators.NoiseCounter) + n;
        c.Generators.NoiseShift = NoiseShiftMany(c.Generators.NoiseShift, t >> 1);
        c.Generators.NoiseCounter = static_cast<uint16_t>(t & 1);
        return;
    }
    const uint32_t first = TicksToNoiseShift(c.Generators.NoiseCounter, limit);
    if (n < first) {
        c.Generators.NoiseCounter = static_cast<uint16_t>(c.Generators.NoiseCounter + n);
    } else if (n == first) {
        c.Generators.NoiseShift = NoiseShiftOnce(c.Generators.NoiseShift);
        c.Generators.NoiseCounter = 0;
    } else {
        const uint32_t spacing = NoiseSpacing(limit);
        const uint32_t rest = n - first;
        if (spacing == 2) { // noise periods 0 and 1
            c.Generators.NoiseShift = NoiseShiftMany(c.Generators.NoiseShift, 1 + (rest >> 1));
            c.Generators.NoiseCounter = static_cast<uint16_t>(rest & 1);
        } else {
            c.Generators.NoiseShift = NoiseShiftMany(c.Generators.NoiseShift, 1 + rest / spacing);
            c.Generators.NoiseCounter = static_cast<uint16_t>(rest % spacing);
        }
    }
}

inline void AdvanceEnvelope(ChipState& c, uint32_t n) {
    if (n == 0) return;
    const uint32_t e = EnvelopePeriod(c);
    const uint32_t spacing = e > 1 ? e : 1;
    // A step comes in every tick that starts with the counter at 0: the first
    // tick if it is 0 now, then the tick after each wrap.
    uint32_t steps = c.Generators.EnvelopeCounter == 0 ? 1 : 0;
    if (spacing == 1) { // envelope periods 0 and 1: the counter wraps on every tick
        steps += n - 1;
        c.Generators.EnvelopeCounter = 0;
    } else {
        const uint32_t wrap = TicksToEnvelopeWrap(c.Generators.EnvelopeCounter, e);
        if (n < wrap) {
            c.Generators.EnvelopeCounter += n;
        } else {
            if (n > wrap) steps += 1 + (n - wrap - 1) / spacing;
            c.Generators.EnvelopeCounter = n == wrap ? 0 : (n - wrap) % spacing;
        }
    }
    if (steps == 0 || EnvelopeHolds(c)) return;
    // Every shape is periodic in 64 steps once it has taken its first step,
    // and a one-shot shape holds after at most 33 steps; so steps beyond
    // 34 + 64k repeat a cycle and can be dropped.
    if (steps > 97) steps = 34 + (steps - 34) % 64;
    for (uint32_t i = 0; i < steps; ++i) c.Generators.EnvelopeStep(c.Generators);
}

inline void AdvanceGenerators(ChipState& c, uint32_t n) {
    if (n == 0) return;
    const uint8_t* r = c.Registers.Values;
    if ((r[ToneFineA] | r[ToneFineB] | r[ToneFineC]) <= 1 &&
        (r[ToneCoarseA] | r[ToneCoarseB] | r[ToneCoarseC]) == 0) {
        // Every tone period 0 or 1 (a chip the song has not set up, as while
        // a beeper song plays): all tones flip on every tick.
        const uint8_t flip = static_cast<uint8_t>(n & 1);
        for (int ch = 0; ch < 3; ++ch) {
            c.Generators.ToneOutput[ch] ^= flip;
            c.Generators.ToneCounter[ch] = 0;
        }
    } else {
        for (int ch = 0; ch < 3; ++ch) AdvanceTone(c, ch, n);
    }
    AdvanceNoise(c, n);
    AdvanceEnvelope(c, n);
}

} // namespace chip_detail
