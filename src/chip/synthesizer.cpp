// The synthesizer: turns the chip's generators into 16-bit stereo PCM at
// 44,100 frames per second. Elapsed Z80 T-states become whole chip ticks
// (32.32 fixed point, the fraction carried between spans); every tick's mix is
// summed, and an output frame is the truncated average of the 5 or 6 (CPC: 2 or
// 3) ticks it owns, the ownership tracked in 16.16 fixed point. Also the
// volume tables: chip levels, pan weights of the seven channel layouts and the
// player's volume, all folded into one table lookup per channel and side.
//
// Where this differs from the hardware, on purpose:
// - The chip's output is taken as unipolar (0 up to the level), and the
//   beeper as a negative offset; sums are never clipped because the tables
//   keep every side within 16 bits.
// - Averaging over a frame is the only low-pass filter.
//
// Two renderers give the same samples and the same state: the tick-by-tick
// one is the definition; the fast one sums whole runs of ticks in which no
// generator output that is heard changes, and steps the generators over such a
// run in closed form. Where heard outputs change every few ticks it takes 64
// ticks at a time as bit masks instead (RenderDense), and the spans of beeper
// changes that waited go into the frames in one batch (RenderBeeperEdges). All
// of them write frames only through the frame cursor, which owns the buffer's
// bound.
#include "chip/chip.h"
#include "chip/generators_inline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace chip_detail;

namespace {

// Output level of each volume step, normalised to 65535 at full level: the
// player's fixed level data, following the chips' roughly logarithmic DACs
// (16 steps on the AY-3-8910; 32 on the YM2149F, whose two lowest are both
// silent).
constexpr int32_t AYLevel[16] = {0,     836,   1212,  1773,  2619,  3875,  5397,  8823,
                                 10392, 16706, 23339, 29292, 36969, 46421, 55195, 65535};
constexpr int32_t YMLevel[32] = {0,     0,     248,   450,   670,   826,   1010,  1239,
                                 1552,  1919,  2314,  2626,  3131,  3778,  4407,  5031,
                                 5968,  7161,  8415,  9622,  11421, 13689, 15957, 18280,
                                 21759, 26148, 30523, 34879, 41434, 49404, 57492, 65535};

// Pan weights (left, right) of channels A, B, C for layouts 0 Mono, 1 ABC,
// 2 ACB, 3 BAC, 4 BCA, 5 CAB, 6 CBA: full weight 255 on the channel's own side,
// 170 on both sides for the centre channel. -1 marks g, the weight of a side
// channel on the far side: 85 for the AY-3-8910, 13 for the YM2149F.
constexpr int PanWeights[7][3][2] = {
    {{255, 255}, {255, 255}, {255, 255}}, {{255, -1}, {170, 170}, {-1, 255}},
    {{255, -1}, {-1, 255}, {170, 170}},   {{170, 170}, {255, -1}, {-1, 255}},
    {{-1, 255}, {255, -1}, {170, 170}},   {{170, 170}, {-1, 255}, {255, -1}},
    {{-1, 255}, {170, 170}, {255, -1}},
};

// Round to nearest, halves to even, whatever the floating-point environment.
long double RoundHalfEven(long double x) {
    const long double low = std::floor(x);
    const long double diff = x - low;
    if (diff > 0.5L) return low + 1;
    if (diff < 0.5L) return low;
    return std::fmod(low, 2.0L) == 0 ? low : low + 1;
}

// 2^(v/S) - 1 for volume v of S steps: 0 at volume 0, exactly 1 at full
// volume whatever the steps.
double VolumeFactor(int volume, int steps) {
    if (steps <= 0) return 1.0;
    if (volume < 0) volume = 0;
    if (volume > steps) volume = steps;
    const long double ln2 = 0.693147180559945309417232121458176568L;
    return static_cast<double>(std::exp(ln2 * volume / steps) - 1.0L);
}

int32_t ScaleByVolume(int32_t value, double f) {
    return static_cast<int32_t>(RoundHalfEven(static_cast<long double>(value) * f));
}

// Truncating division of a frame's sum by its tick count. Frames hold a few
// ticks, so the common divisors 1..8 go by multiplication with a rounded-up
// reciprocal, exact for |sum| < 2^29: the error stays below 1/8.
// The reciprocals: for sum / ticks with 1 <= ticks <= 8 and |sum| < 2^29.
inline constexpr uint64_t SumReciprocal[9] = {
    0,
    (1ull << 32) / 1 + 1,
    (1ull << 32) / 2 + 1,
    (1ull << 32) / 3 + 1,
    (1ull << 32) / 4 + 1,
    (1ull << 32) / 5 + 1,
    (1ull << 32) / 6 + 1,
    (1ull << 32) / 7 + 1,
    (1ull << 32) / 8 + 1,
};

// DivideSum where 1 <= ticks <= 8 and |sum| < 2^29 are known.
inline int32_t DivideShortSum(int32_t sum, int32_t ticks) {
    // The product floors; below zero it lands just under the exact quotient
    // (the reciprocal is rounded up), so one more gives truncation.
    const int64_t product = static_cast<int64_t>(sum) * static_cast<int64_t>(SumReciprocal[ticks]);
    return static_cast<int32_t>(product >> 32) - (sum >> 31);
}

inline int32_t DivideSum(int32_t sum, int32_t ticks) {
    if (static_cast<uint32_t>(ticks - 1) >= 8 ||
        static_cast<uint32_t>(sum) + ((1u << 29) - 1) >= (1u << 30) - 1)
        return sum / ticks;
    return DivideShortSum(sum, ticks);
}

// Bits set in a byte: the ticks of a frame (at most 8) in which a channel
// sounds.
constexpr std::array<uint8_t, 256> MakeBitCounts() {
    std::array<uint8_t, 256> counts{};
    for (int b = 0; b < 256; ++b) counts[b] = static_cast<uint8_t>((b & 1) + counts[b >> 1]);
    return counts;
}
inline constexpr std::array<uint8_t, 256> BitCounts = MakeBitCounts();

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

// floor(x / TicksPerSample) by a 128-bit multiplication with a rounded-up
// reciprocal: exact while x < 2^40 and the divisor < 2^20 (the error stays
// below 2^-24, less than one step of x / divisor); plain division otherwise.
struct SampleDivider {
    uint64_t Divisor;
    uint64_t Reciprocal;
    explicit SampleDivider(uint32_t d) : Divisor(d), Reciprocal(ReciprocalOf(d)) {}
    // The two machines' divisors are known in advance; a division costs more
    // than rendering a short span.
    static uint64_t ReciprocalOf(uint32_t d) {
        constexpr uint64_t Spectrum = UINT64_MAX / SpectrumTicksPerSample + 1;
        constexpr uint64_t Cpc = UINT64_MAX / CpcTicksPerSample + 1;
        if (d == SpectrumTicksPerSample) return Spectrum;
        if (d == CpcTicksPerSample) return Cpc;
        return d ? UINT64_MAX / d + 1 : 0;
    }
    uint64_t Divide(uint64_t x) const {
        if (x < (1ull << 40) && Divisor < (1u << 20))
            return static_cast<uint64_t>((static_cast<unsigned __int128>(x) * Reciprocal) >> 64);
        return x / Divisor;
    }
};

// Closes the current output frame with the given values. True when that
// filled the buffer; the rest of the span, if any, waits in `BufferFull`.
inline bool EmitFrame(ChipState& c, int32_t left, int32_t right) {
    c.Cursor.SampleBoundary += c.Machine.TicksPerSample;
    const uint16_t owed =
        static_cast<uint16_t>((c.Cursor.SampleBoundary >> 16) - c.Cursor.TicksInSample);
    c.Cursor.SampleBoundary =
        (c.Cursor.SampleBoundary & 0xFFFF) | (static_cast<uint32_t>(owed) << 16);
    c.Cursor.OutputBuffer[c.Cursor.OutputCount] = static_cast<int16_t>(left);
    c.Cursor.OutputBuffer[c.Cursor.OutputCount + 1] = static_cast<int16_t>(right);
    c.Cursor.OutputCount = static_cast<uint16_t>(c.Cursor.OutputCount + 2);
    c.Cursor.SumLeft = 0;
    c.Cursor.SumRight = 0;
    c.Cursor.TicksInSample = 0;
    if (c.Cursor.OutputCount >= BufferValues) {
        if (c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
        return true;
    }
    return false;
}

// One tick exactly as defined: step, mix, count, close the frame when it has
// all its ticks. True when the buffer filled.
inline bool RenderOneTick(ChipState& c) {
    StepGeneratorsInline(c);
    int32_t left, right;
    MixLevel(c, left, right);
    c.Cursor.SumLeft += left;
    c.Cursor.SumRight += right;
    ++c.Cursor.TicksRendered;
    ++c.Cursor.TicksInSample;
    if (c.Cursor.TicksInSample >= static_cast<int32_t>(c.Cursor.SampleBoundary >> 16))
        return EmitFrame(c, c.Cursor.SumLeft / c.Cursor.TicksInSample,
                         c.Cursor.SumRight / c.Cursor.TicksInSample);
    return false;
}

// Bits of a hearing mask: the tones of A, B, C, the noise, the envelope.
enum : uint32_t { HearNoise = 1u << 3, HearEnvelope = 1u << 4 };

// The generators that can be heard with the registers and tables as they
// are. A channel is silent when it plays a fixed level whose entries are 0 on
// both sides; the tone of a channel that is not silent is heard when it is
// enabled, the noise when some such channel enables it, the envelope when a
// channel follows it. Nothing of this changes within one span.
uint32_t WhatIsHeard(const ChipState& c) {
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

// Both sides of a frame's sum in one word, left x 2^32 + right, in arithmetic
// modulo 2^64. Each side stays far inside 31 bits (a frame holds at most 8
// ticks of 16-bit levels), so the two come apart exactly: the right side is
// the low word read as signed, the left what remains above it.
inline uint64_t PackSides(int32_t left, int32_t right) {
    return (static_cast<uint64_t>(static_cast<int64_t>(left)) << 32) +
           static_cast<uint64_t>(static_cast<int64_t>(right));
}
inline int32_t RightSide(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
inline int32_t LeftSide(uint64_t v) {
    const uint64_t above = v - static_cast<uint64_t>(static_cast<int64_t>(RightSide(v)));
    return static_cast<int32_t>(static_cast<int64_t>(above) >> 32);
}

// The output side of the event renderer, for frames as the frame loop leaves
// them (the open frame short of ticks, every frame at least one tick). Tick
// positions count from the span's start. The open frame's end is kept in
// 16.16 fixed point: it closes after tick `End >> 16`, and the fraction is the
// boundary's; closing a frame adds `PerSample`, so the frame j after the open
// one closes after tick (End + j x PerSample) >> 16, and the frames that
// close up to a given tick are counted with one division.
//
// The cursor owns the buffer's bound: it measures on the way in the tick
// after which the buffer is full, and no run goes past it, whatever its
// caller asked for. A caller learns how far a run went from `Pos`.
struct FrameCursor {
    int16_t* Buffer;
    uint32_t Count;
    uint64_t End;
    uint32_t Pos = 0;   // ticks handed out
    uint32_t Start;     // where the open frame began (modulo 2^32: may lie before the span)
    int32_t SumL, SumR; // of the open frame's ticks so far
    uint32_t PerSample;
    SampleDivider Divider;
    uint32_t Limit; // the tick after which the buffer is full
    // The values of whole frames in runs of one mask (see RunMasksOf): for
    // a frame of `len` ticks, k of them with the mask's bit set, both sides
    // as 16-bit values, right above left; built on first use for the rows of
    // the frames' two lengths, for the weights in `Table`.
    struct OneMaskFrames {
        uint64_t Steady = 0, Weight = 0;
        bool Built = false;
        uint32_t Values[9][9];
    } Table;

    explicit FrameCursor(const ChipState& c)
        : Buffer(c.Cursor.OutputBuffer), Count(c.Cursor.OutputCount),
          End((static_cast<uint64_t>((c.Cursor.SampleBoundary >> 16) -
                                     static_cast<uint32_t>(c.Cursor.TicksInSample))
               << 16) |
              (c.Cursor.SampleBoundary & 0xFFFF)),
          Start(0u - static_cast<uint32_t>(c.Cursor.TicksInSample)), SumL(c.Cursor.SumLeft),
          SumR(c.Cursor.SumRight), PerSample(c.Machine.TicksPerSample),
          Divider(c.Machine.TicksPerSample), Limit(FillsAt()) {}

    // True when the frame loop's output position is one this follows.
    static bool Follows(const ChipState& c) {
        return c.Cursor.TicksInSample >= 0 &&
               (c.Cursor.SampleBoundary >> 16) > static_cast<uint32_t>(c.Cursor.TicksInSample) &&
               c.Machine.TicksPerSample >= 0x10000;
    }

    void Store(ChipState& c) const {
        const uint32_t end = static_cast<uint32_t>(End >> 16);
        c.Cursor.OutputCount = static_cast<uint16_t>(Count);
        c.Cursor.SampleBoundary = static_cast<uint32_t>(End & 0xFFFF) | ((end - Start) << 16);
        c.Cursor.TicksInSample = static_cast<int32_t>(Pos - Start);
        c.Cursor.SumLeft = SumL;
        c.Cursor.SumRight = SumR;
    }

    bool Full() const { return Count >= BufferValues; }
    uint32_t EndTick() const { return static_cast<uint32_t>(End >> 16); }

    // The tick after which the buffer is full.
    uint32_t FillsAt() const {
        if (Full()) return 0;
        const uint64_t room = (BufferValues - Count) / 2;
        const uint64_t fill = (End + (room - 1) * PerSample) >> 16;
        return fill < UINT32_MAX ? static_cast<uint32_t>(fill) : UINT32_MAX;
    }

    // Ticks Pos + 1 .. to of a chunk of ticks base + 1 .. base + 64 (Pos >=
    // base, to <= base + 64), cut where the buffer fills: tick base + 1 + k
    // mixes `level` on both sides, and the weight of each channel whose bit k
    // of its `sounds` is set. A weight holds the left side's level in its
    // high 32 bits and the right side's in its low 32, both from 0 to 32767,
    // so that a frame's sum never carries from one side into the other. No
    // frame may own more than 8 ticks (see IsDense).
    void RunMasks(uint32_t base, uint32_t to, const uint64_t (&sounds)[3],
                  const uint64_t (&weights)[3], int32_t level) {
        to = to < Limit ? to : Limit;
        if (Pos >= to) return;
        // The channels' bits of the run. A channel that sounds in every tick
        // of it adds its weight to the level, one that never sounds adds
        // nothing, and channels with the same bits add their weights
        // together: most runs are left with one mask (one fast tone, or a
        // noise heard on several channels), and the fewer masks, the fewer
        // values the loop keeps live.
        const uint32_t lo = Pos - base, n = to - Pos;
        const uint64_t run = n >= 64 ? ~0ull : (1ull << n) - 1;
        uint64_t steady = PackSides(level, level);
        uint64_t masks[3] = {}, masksWeight[3] = {};
        int k = 0;
        for (int ch = 0; ch < 3; ++ch) {
            const uint64_t m = (sounds[ch] >> lo) & run;
            if (m == 0) continue;
            if (m == run) {
                steady += weights[ch];
                continue;
            }
            int j = 0;
            while (j < k && masks[j] != m) ++j;
            if (j == k) masks[k++] = m;
            masksWeight[j] += weights[ch];
        }
        switch (k) {
        case 0: RunMasksOf<0>(to, masks, masksWeight, steady); break;
        case 1: RunMasksOf<1>(to, masks, masksWeight, steady); break;
        case 2: RunMasksOf<2>(to, masks, masksWeight, steady); break;
        default: RunMasksOf<3>(to, masks, masksWeight, steady); break;
        }
    }

    // RunMasks with K masks (bit k for tick Pos + 1 + k) and the weight that
    // sounds in every tick, `steady`. Both sides' sums are kept in one word.
    template <int K>
    [[gnu::always_inline]] void RunMasksOf(uint32_t to, const uint64_t (&masks)[3],
                                           const uint64_t (&masksWeight)[3], uint64_t steady) {
        uint32_t pos = Pos, start = Start, count = Count;
        uint64_t end64 = End;
        uint64_t sum = PackSides(SumL, SumR);
        uint64_t m0 = masks[0], m1 = masks[1], m2 = masks[2];
        const uint64_t w0 = masksWeight[0], w1 = masksWeight[1], w2 = masksWeight[2];
        if constexpr (K == 1) {
            if (!Table.Built || Table.Steady != steady || Table.Weight != w0)
                BuildTable(steady, w0);
        }
        for (;;) {
            uint32_t end = static_cast<uint32_t>(end64 >> 16);
            // Whole frames, each opening at `pos` and closing by `to`, without
            // the cuts of a run's ends; with one mask, by table. The first
            // may be one the frame loop left at any length (the table holds
            // the two that follow from PerSample).
            if (pos == start && sum == 0 && end <= to &&
                (K != 1 || end - pos - (PerSample >> 16) <= 1)) {
                do {
                    const uint32_t len = end - pos;
                    const uint32_t window = (1u << len) - 1;
                    if constexpr (K == 1) {
                        std::memcpy(Buffer + count, &Table.Values[len][BitCounts[m0 & window]],
                                    sizeof(uint32_t));
                    } else {
                        uint64_t whole = steady * len;
                        if constexpr (K > 0) whole += w0 * BitCounts[m0 & window];
                        if constexpr (K > 1) whole += w1 * BitCounts[m1 & window];
                        if constexpr (K > 2) whole += w2 * BitCounts[m2 & window];
                        const int32_t ticks = static_cast<int32_t>(len);
                        Buffer[count] =
                            static_cast<int16_t>(DivideShortSum(LeftSide(whole), ticks));
                        Buffer[count + 1] =
                            static_cast<int16_t>(DivideShortSum(RightSide(whole), ticks));
                    }
                    if constexpr (K > 0) m0 >>= len;
                    if constexpr (K > 1) m1 >>= len;
                    if constexpr (K > 2) m2 >>= len;
                    count += 2;
                    end64 += PerSample;
                    pos = start = end;
                    end = static_cast<uint32_t>(end64 >> 16);
                } while (end <= to);
                if (pos >= to) break;
            }
            const uint32_t stop = to < end ? to : end;
            const uint32_t len = stop - pos;
            const uint32_t window = (1u << len) - 1;
            sum += steady * len;
            if constexpr (K > 0) {
                sum += w0 * BitCounts[m0 & window];
                m0 >>= len;
            }
            if constexpr (K > 1) {
                sum += w1 * BitCounts[m1 & window];
                m1 >>= len;
            }
            if constexpr (K > 2) {
                sum += w2 * BitCounts[m2 & window];
                m2 >>= len;
            }
            pos = stop;
            if (stop < end) break;
            // At most 8 ticks of at most 4 x 2^15 on a side, after an open
            // frame's sum of at most 2^20 (see RenderDense): well inside what
            // DivideShortSum takes.
            const int32_t ticks = static_cast<int32_t>(end - start);
            Buffer[count] = static_cast<int16_t>(DivideShortSum(LeftSide(sum), ticks));
            Buffer[count + 1] = static_cast<int16_t>(DivideShortSum(RightSide(sum), ticks));
            count += 2;
            end64 += PerSample;
            start = end;
            sum = 0;
            if (pos >= to) break;
        }
        Pos = pos;
        End = end64;
        Start = start;
        Count = count;
        SumL = LeftSide(sum);
        SumR = RightSide(sum);
    }

    // Fills `Table` for runs of one mask of weight `weight` over `steady`:
    // each value as the frame loop of RunMasksOf makes it.
    void BuildTable(uint64_t steady, uint64_t weight) {
        Table.Steady = steady;
        Table.Weight = weight;
        Table.Built = true;
        const uint32_t shortest = PerSample >> 16;
        for (uint32_t len = shortest; len <= shortest + 1 && len <= 8; ++len)
            for (uint32_t k = 0; k <= len; ++k) {
                const uint64_t sum = steady * len + weight * k;
                const int32_t ticks = static_cast<int32_t>(len);
                Table.Values[len][k] = static_cast<uint16_t>(DivideShortSum(LeftSide(sum), ticks)) |
                                       static_cast<uint32_t>(static_cast<uint16_t>(
                                           DivideShortSum(RightSide(sum), ticks)))
                                           << 16;
            }
    }

    // Ticks Pos + 1 .. end (the open frame's last tick) at (left, right),
    // then the open frame written out; the next one opens after `end`.
    [[gnu::always_inline]] void CloseFrame(uint32_t end, int32_t left, int32_t right) {
        SumL += left * static_cast<int32_t>(end - Pos);
        SumR += right * static_cast<int32_t>(end - Pos);
        const int32_t ticks = static_cast<int32_t>(end - Start);
        Buffer[Count] = static_cast<int16_t>(DivideSum(SumL, ticks));
        Buffer[Count + 1] = static_cast<int16_t>(DivideSum(SumR, ticks));
        Count += 2;
        End += PerSample;
        Start = end;
    }

    // RunTo for a short run (a few frames at most), frame by frame, cut
    // where the buffer fills.
    void RunShort(uint32_t to, int32_t left, int32_t right) {
        to = to < Limit ? to : Limit;
        for (;;) {
            const uint32_t end = static_cast<uint32_t>(End >> 16);
            if (to < end) {
                SumL += left * static_cast<int32_t>(to - Pos);
                SumR += right * static_cast<int32_t>(to - Pos);
                Pos = to;
                return;
            }
            CloseFrame(end, left, right);
            Pos = end;
            SumL = 0;
            SumR = 0;
            if (to == end) return;
        }
    }

    // Ticks Pos + 1 .. to all at the mix (left, right), cut where the buffer
    // fills.
    void RunTo(uint32_t to, int32_t left, int32_t right) {
        to = to < Limit ? to : Limit;
        const uint32_t end = static_cast<uint32_t>(End >> 16);
        if (to < end) { // the usual case: the run ends inside the open frame
            SumL += left * static_cast<int32_t>(to - Pos);
            SumR += right * static_cast<int32_t>(to - Pos);
            Pos = to;
            return;
        }
        CloseFrame(end, left, right);
        // Whole frames, closing after End >> 16 and every PerSample after
        // (none when End >> 16 > to; the open frame just closed ended at or
        // before `to`, so the count below does not go negative): the average
        // of equal ticks is the tick itself.
        const uint64_t last = (static_cast<uint64_t>(to) << 16) | 0xFFFF;
        const uint64_t frames = Divider.Divide(last + PerSample - End);
        const uint32_t pair = static_cast<uint16_t>(left) | (static_cast<uint32_t>(right) << 16);
        int16_t* out = Buffer + Count;
        if (Count + 2 * frames + 16 <= BufferValues) {
            // Eight at a time, without asking how many; those written past
            // the last are overwritten by the frames that follow.
            const uint64_t twoPairs = pair | (static_cast<uint64_t>(pair) << 32);
            const uint64_t eightPairs[4] = {twoPairs, twoPairs, twoPairs, twoPairs};
            std::memcpy(out, eightPairs, sizeof eightPairs);
            for (uint64_t i = 8; i < frames; i += 8)
                std::memcpy(out + 2 * i, eightPairs, sizeof eightPairs);
        } else {
            for (uint64_t i = 0; i < frames; ++i) std::memcpy(out + 2 * i, &pair, sizeof pair);
        }
        Count += static_cast<uint32_t>(2 * frames);
        End += frames * PerSample;
        Start = static_cast<uint32_t>((End - PerSample) >> 16);
        SumL = left * static_cast<int32_t>(to - Start);
        SumR = right * static_cast<int32_t>(to - Start);
        Pos = to;
    }
};

// The frame cursor's `RunTo` for the event renderer where frames are short
// and levels small (see `Takes`): both sides of the open frame's sum in one
// word (PackSides), the open frame's last tick kept at hand, the frames
// divided by reciprocal alone and the whole frames counted by one
// multiplication. The caller keeps every run within the cursor's `Limit`.
struct LeanCursor {
    int16_t* Buffer;
    uint32_t Count;
    uint64_t End;
    uint32_t EndTick; // End >> 16: the open frame closes after it
    uint32_t Pos, Start;
    uint64_t Sum;
    uint32_t PerSample;
    uint64_t Reciprocal;

    explicit LeanCursor(const FrameCursor& w)
        : Buffer(w.Buffer), Count(w.Count), End(w.End), EndTick(static_cast<uint32_t>(w.End >> 16)),
          Pos(w.Pos), Start(w.Start), Sum(PackSides(w.SumL, w.SumR)), PerSample(w.PerSample),
          Reciprocal(w.Divider.Reciprocal) {}

    // Frames of at most 8 ticks, the open one's sum within 2^20 on a side,
    // runs that end before tick 2^23, and ticks whose levels stay within
    // 2^17 on a side (three channels of the small tables and a beeper level
    // within 2^15): every frame's sum then stays far inside what
    // DivideShortSum takes, and the frame count's product inside what the
    // reciprocal divides exactly.
    static bool Takes(const ChipState& c, const RenderPlan& plan, const FrameCursor& w,
                      uint32_t limit) {
        const auto within = [](int32_t v, int32_t bound) { return v >= -bound && v <= bound; };
        return plan.SmallTables && w.PerSample <= (8u << 16) && w.EndTick() - w.Start <= 8 &&
               limit < (1u << 23) && within(c.Beeper.Level, 1 << 15) && within(w.SumL, 1 << 20) &&
               within(w.SumR, 1 << 20);
    }

    void StoreTo(FrameCursor& w) const {
        w.Buffer = Buffer;
        w.Count = Count;
        w.End = End;
        w.Pos = Pos;
        w.Start = Start;
        w.SumL = LeftSide(Sum);
        w.SumR = RightSide(Sum);
    }

    // Ticks Pos + 1 .. to at the mix `level` (both sides, PackSides).
    [[gnu::always_inline]] void RunTo(uint32_t to, uint64_t level) {
        if (to < EndTick) { // the run ends inside the open frame
            Sum += level * (to - Pos);
            Pos = to;
            return;
        }
        Sum += level * (EndTick - Pos);
        const int32_t ticks = static_cast<int32_t>(EndTick - Start);
        int16_t* out = Buffer + Count;
        out[0] = static_cast<int16_t>(DivideShortSum(LeftSide(Sum), ticks));
        out[1] = static_cast<int16_t>(DivideShortSum(RightSide(Sum), ticks));
        out += 2;
        End += PerSample;
        // The whole frames up to `to`: those that close after tick End >> 16
        // and every PerSample after, up to tick `to` (none when the next
        // closes after it). The average of equal ticks is the tick itself.
        const uint64_t x = ((static_cast<uint64_t>(to) + 1) << 16) + PerSample - 1 - End;
        const uint64_t frames =
            static_cast<uint64_t>((static_cast<unsigned __int128>(x) * Reciprocal) >> 64);
        const uint32_t pair = static_cast<uint16_t>(LeftSide(level)) |
                              (static_cast<uint32_t>(RightSide(level)) << 16);
        Count += static_cast<uint32_t>(2 + 2 * frames);
        if (Count + 64 <= BufferValues) {
            // Thirty-two at a time, without asking how many (runs between
            // two events mostly hold fewer), four pairs to a register stored
            // as it is; those written past the last are overwritten by the
            // frames that follow.
            using FourPairs = uint32_t __attribute__((vector_size(16)));
            const FourPairs four = {pair, pair, pair, pair};
            uint64_t i = 0;
            do {
                for (int k = 0; k < 8; ++k) std::memcpy(out + 2 * i + 8 * k, &four, sizeof four);
                i += 32;
            } while (i < frames);
        } else {
            for (uint64_t i = 0; i < frames; ++i) std::memcpy(out + 2 * i, &pair, sizeof pair);
        }
        End += frames * PerSample;
        EndTick = static_cast<uint32_t>(End >> 16);
        Start = static_cast<uint32_t>((End - PerSample) >> 16);
        Sum = level * (to - Start);
        Pos = to;
    }
};

// Ticks from a noise shift to the shift that changes the noise output: after
// j shifts the output is the present bit 16 - j, so the first bit below bit
// 16 that differs from it tells (16 at most; a change that comes later is
// then only looked at again).
inline uint32_t ShiftsToNoiseChange(uint32_t s) {
    const uint32_t differ = (s ^ ((s >> 16) & 1 ? 0xFFFFu : 0u)) & 0xFFFF;
    return differ ? 16 - (31 - static_cast<uint32_t>(__builtin_clz(differ))) : 16;
}

constexpr uint32_t Never = UINT32_MAX;

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

} // namespace

void MixTick(ChipState& c) {
    int32_t left, right;
    MixLevel(c, left, right);
    c.Cursor.SumLeft += left;
    c.Cursor.SumRight += right;
}

void MeasureTicksToFill(ChipState& c) {
    // Frames own whole ticks: the open frame closes after `owed - InSample`
    // more, and the m frames after it take floor((fraction + m x
    // TicksPerSample) / 65536) together. Output positions the frame loop
    // never leaves (a damaged state) count as unknown.
    const uint32_t owed = c.Cursor.SampleBoundary >> 16;
    if (c.Cursor.OutputCount >= BufferValues || c.Cursor.TicksInSample < 0 ||
        owed <= static_cast<uint32_t>(c.Cursor.TicksInSample) ||
        c.Machine.TicksPerSample < 0x10000) {
        c.Caches.TicksToFill = 0;
        return;
    }
    const uint64_t room = (BufferValues - c.Cursor.OutputCount) / 2;
    const uint64_t fill = owed - static_cast<uint32_t>(c.Cursor.TicksInSample) +
                          (((c.Cursor.SampleBoundary & 0xFFFF) +
                            (room - 1) * static_cast<uint64_t>(c.Machine.TicksPerSample)) >>
                           16);
    c.Caches.TicksToFill = static_cast<uint32_t>(fill);
}

void SettleGenerators(ChipState& c) {
    if (c.Generators.UnheardTicks == 0) return;
    AdvanceGenerators(c, c.Generators.UnheardTicks);
    c.Generators.UnheardTicks = 0;
}

void RenderTicksReference(ChipState& c) {
    SettleGenerators(c);
    // A full buffer takes nothing more: the span waits for the next one.
    if (c.Cursor.OutputCount >= BufferValues) {
        if (c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
        return;
    }
    while (c.Cursor.TicksRendered < c.Cursor.TicksToRender) {
        if (RenderOneTick(c)) return;
    }
}

namespace {

// A span in which nothing that changes is heard (the usual state while only
// the beeper plays): every tick mixes the same, so the span is one run of
// ticks into the frames; the generators only count the ticks and catch up
// later in closed form.
[[gnu::always_inline]] inline void RenderUnheard(ChipState& c, const RenderPlan& plan,
                                                 uint32_t total) {
    // Any other output position (only a damaged state) goes tick by tick.
    if (!FrameCursor::Follows(c)) [[unlikely]] {
        RenderTicksReference(c);
        return;
    }
    FrameCursor w(c);
    w.RunTo(total, c.Beeper.Level + plan.SteadyLeft, c.Beeper.Level + plan.SteadyRight);
    const uint32_t pos = w.Pos;
    w.Store(c);
    c.Cursor.TicksRendered += pos;
    if (w.Full() && c.Cursor.TicksRendered < c.Cursor.TicksToRender) c.Cursor.BufferFull = 1;
    // The generators catch up later, all at once.
    c.Generators.UnheardTicks += pos;
    if (c.Generators.UnheardTicks >= 0x40000000) SettleGenerators(c);
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

// Spans in which a heard generator changes every few ticks: a noise period
// of at most `DenseNoiseSpacing` / 2, or a heard tone period of at most
// `DenseTonePeriod`, at levels that stay (no envelope heard, or one that
// holds). There an event costs more than the ticks between two events.
constexpr uint32_t DenseNoiseSpacing = 8;
constexpr uint32_t DenseTonePeriod = 4;

bool IsDense(const ChipState& c, const RenderPlan& plan) {
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

// floor(x / d) for x < 64 and 1 <= d < 1024, by a multiplication with
// `ReciprocalFor(d)` (rounded up: the error stays below 1/1024 < 1/d).
inline uint32_t ReciprocalFor(uint32_t d) { return (0x10000 + d - 1) / d; }
inline uint32_t DivideSmall(uint32_t x, uint32_t reciprocal) { return (x * reciprocal) >> 16; }

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

// The fast renderer, shared by `RenderTicksFast` and `Synthesizer` (which
// would otherwise pay a second call for every short span).
[[gnu::always_inline]] inline void RenderFast(ChipState& c) {
    if (c.Cursor.TicksRendered >= c.Cursor.TicksToRender) return;
    const uint32_t total = c.Cursor.TicksToRender - c.Cursor.TicksRendered;
    const RenderPlan& plan = PlanFor(c);
    if (plan.Heard == 0) {
        RenderUnheard(c, plan, total);
    } else {
        SettleGenerators(c);
        if (IsDense(c, plan))
            RenderDense(c, plan, total);
        else
            RenderEvents(c, plan, total);
    }
}

} // namespace

void RenderTicksFast(ChipState& c) {
    RenderFast(c);
    SettleGenerators(c);
}

void RenderTicks(ChipState& c) {
    if (c.TickByTick)
        RenderTicksReference(c);
    else
        RenderTicksFast(c);
}

namespace {

// The span from `LastSynthTState` up to `tStates`, rendered.
void RenderUpTo(SoundEngine& e, int32_t tStates) {
    ChipState& c = e.Chip;
    if (c.Cursor.BufferFull) {
        // The rest of a span that did not fit the previous buffer. A buffer
        // that is still full has no room for it: it stays pending.
        if (c.Cursor.OutputCount >= BufferValues) return;
        c.Cursor.BufferFull = 0;
    } else {
        const int32_t d = tStates - c.Cursor.LastSynthTState;
        if (d <= 0) return;
        const uint64_t p =
            static_cast<uint64_t>(d) * c.Machine.TicksPerTState + c.Cursor.TickFraction;
        if ((p >> 32) == 0) return; // less than a tick: counted again next time
        c.Cursor.TickFraction = static_cast<uint32_t>(p);
        c.Cursor.TicksToRender = static_cast<uint32_t>(p >> 32);
        c.Cursor.LastSynthTState = tStates;
        c.Cursor.TicksRendered = 0;
        if (c.Cursor.OutputCount >= BufferValues) {
            // No room left in this buffer: the whole span goes to the next.
            c.Cursor.BufferFull = 1;
            return;
        }
    }
    // Every tick rendered brings the buffer's end one tick closer.
    const uint32_t from = c.Cursor.TicksRendered;
    if (c.TickByTick)
        RenderTicksReference(c);
    else
        RenderFast(c);
    const uint32_t rendered = c.Cursor.TicksRendered - from;
    c.Caches.TicksToFill = rendered < c.Caches.TicksToFill ? c.Caches.TicksToFill - rendered : 0;
}

} // namespace

void RenderBeeperEdges(SoundEngine& e) {
    ChipState& c = e.Chip;
    const uint32_t n = c.Cursor.BeeperEdgeCount;
    if (n == 0) return;
    c.Cursor.BeeperEdgeCount = 0;
    const int32_t base = c.Cursor.LastSynthTState, level = c.Beeper.Level;
    uint32_t i = 0;
    if (!c.TickByTick && !c.Cursor.BufferFull && FrameCursor::Follows(c) && PlanFor(c).Heard == 0) {
        // Nothing but the beeper is heard (a beeper song): the spans go into
        // the frames one after another through one cursor, as RenderUnheard
        // takes each of them. A span that would reach the buffer's end (which
        // the changes waiting here never do, see BeeperWrite) is left to the
        // plain way below.
        const RenderPlan& plan = c.Caches.Plan;
        const int32_t steadyLeft = plan.SteadyLeft, steadyRight = plan.SteadyRight;
        const uint64_t perTState = c.Machine.TicksPerTState;
        const SynthCursor::BeeperEdge* const edges = c.Cursor.BeeperEdges;
        FrameCursor w(c);
        // The short runs (a few frames at most, as FrameCursor::RunShort
        // makes them) on the cursor's state in locals: a beeper song has one
        // such run every few dozen T-states.
        int16_t* const buffer = w.Buffer;
        const uint32_t perSample = w.PerSample, limit = w.Limit;
        uint32_t count = w.Count, pos = w.Pos, start = w.Start;
        uint64_t end64 = w.End;
        int32_t sumL = w.SumL, sumR = w.SumR;
        int32_t last = base;
        uint32_t fraction = c.Cursor.TickFraction, ticks = 0, total = 0;
        for (; i < n; ++i) {
            const int32_t t = base + edges[i].Offset;
            if (t <= last) continue;
            const uint64_t p = static_cast<uint64_t>(t - last) * perTState + fraction;
            const uint32_t span = static_cast<uint32_t>(p >> 32);
            if (span == 0) continue; // less than a tick: counted again with the next
            if (span >= limit - pos) break;
            const int32_t left = edges[i].LevelBefore + steadyLeft;
            const int32_t right = edges[i].LevelBefore + steadyRight;
            const uint32_t to = pos + span;
            if (span <= 16) {
                for (uint32_t end = static_cast<uint32_t>(end64 >> 16); to >= end;
                     end = static_cast<uint32_t>(end64 >> 16)) {
                    sumL += left * static_cast<int32_t>(end - pos);
                    sumR += right * static_cast<int32_t>(end - pos);
                    const int32_t inFrame = static_cast<int32_t>(end - start);
                    buffer[count] = static_cast<int16_t>(DivideSum(sumL, inFrame));
                    buffer[count + 1] = static_cast<int16_t>(DivideSum(sumR, inFrame));
                    count += 2;
                    end64 += perSample;
                    start = pos = end;
                    sumL = sumR = 0;
                }
                sumL += left * static_cast<int32_t>(to - pos);
                sumR += right * static_cast<int32_t>(to - pos);
                pos = to;
            } else {
                w.Count = count, w.Pos = pos, w.Start = start, w.End = end64;
                w.SumL = sumL, w.SumR = sumR;
                w.RunTo(to, left, right);
                count = w.Count, pos = w.Pos, start = w.Start, end64 = w.End;
                sumL = w.SumL, sumR = w.SumR;
            }
            fraction = static_cast<uint32_t>(p);
            last = t;
            ticks = span;
            total += span;
        }
        w.Count = count, w.Pos = pos, w.Start = start, w.End = end64;
        w.SumL = sumL, w.SumR = sumR;
        w.Store(c);
        if (total != 0) {
            c.Cursor.LastSynthTState = last;
            c.Cursor.TickFraction = fraction;
            c.Cursor.TicksToRender = c.Cursor.TicksRendered = ticks;
            c.Caches.TicksToFill = total < c.Caches.TicksToFill ? c.Caches.TicksToFill - total : 0;
            c.Generators.UnheardTicks += total;
            if (c.Generators.UnheardTicks >= 0x40000000) SettleGenerators(c);
        }
    }
    for (; i < n; ++i) {
        c.Beeper.Level = c.Cursor.BeeperEdges[i].LevelBefore;
        RenderUpTo(e, base + c.Cursor.BeeperEdges[i].Offset);
    }
    c.Beeper.Level = level;
}

void Synthesizer(SoundEngine& e) {
    if (e.Chip.Cursor.BeeperEdgeCount != 0) RenderBeeperEdges(e);
    RenderUpTo(e, e.Z80.TStates);
}

int32_t ComputeBeeperAmplitude(int32_t setting, int volume, int steps) {
    return -ScaleByVolume(setting, VolumeFactor(volume, steps));
}

void SetChipAndChannels(ChipState& c, int mode, int volume, int steps) {
    const bool ym = (mode & 1) != 0;
    const int layout = mode >= 0 && mode / 2 <= 6 ? mode / 2 : 0;
    const int g = ym ? 13 : 85;
    int weights[3][2];
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side) {
            const int w = PanWeights[layout][ch][side];
            weights[ch][side] = w < 0 ? g : w;
        }
    // 8355585 = 255 x 32767: three channels at full level then add up to at
    // most 32766 on a side.
    const long double h = static_cast<long double>(
        8355585u / static_cast<unsigned>(weights[0][0] + weights[1][0] + weights[2][0]));
    const double f = VolumeFactor(volume, steps);
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side) {
            const long double w = weights[ch][side];
            int32_t* entry = c.Mix.VolumeTable[ch][side];
            if (ym) {
                for (int i = 0; i < 32; ++i) {
                    const long double level = RoundHalfEven(w / 255 * YMLevel[i]);
                    entry[i] = static_cast<int32_t>(RoundHalfEven(level / 65535 * h));
                }
            } else {
                for (int i = 0; i < 16; ++i) {
                    const long double level = RoundHalfEven(w / 255 * AYLevel[i]);
                    entry[2 * i] = entry[2 * i + 1] =
                        static_cast<int32_t>(RoundHalfEven(level / 65535 * h));
                }
            }
            const bool muted = (c.Mix.MutedVoices >> ch) & 1;
            for (int i = 0; i < 32; ++i) entry[i] = muted ? 0 : ScaleByVolume(entry[i], f);
        }
    if ((c.Mix.MutedVoices >> VoiceBeeper) & 1) {
        c.Mix.BeeperAmplitude = 0;
        c.Beeper.Level = c.Beeper.NewLevel = 0;
    } else {
        c.Mix.BeeperAmplitude = -ScaleByVolume(c.Mix.BeeperSetting, f);
    }
    if (++c.Mix.TableVersion == 0) c.Mix.TableVersion = 1; // 0 marks a plan never built
}
