// The frame cursor: how the fast renderers write output frames. A run of
// ticks at one mix, or a chunk of ticks as bit masks of which channels sound,
// goes into the frames the frame loop left open; the cursor sums each frame's
// ticks and writes the frame's truncated average when the frame has all its
// ticks, and it owns the buffer's bound. Also the arithmetic the frames need:
// division of a frame's sum by its tick count, both sides of a sum in one
// word, and the count of frames up to a tick.
//
// Private to the chip library.
#pragma once

#include "chip/checks.h"
#include "chip/chip.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace chip_detail {
// Each renderer's file has its own copy (an unnamed namespace), so that the
// compiler inlines the cursor's runs into the renderers' loops as it would a
// file's own functions.
namespace {

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
    ZIRRAFON_ASSERT(ticks >= 1 && ticks <= 8);
    ZIRRAFON_ASSERT(sum > -(1 << 29) && sum < (1 << 29));
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

// The output side of the fast renderers, for frames as the frame loop leaves
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
        ZIRRAFON_ASSERT(Pos >= base && to <= base + 64);
        ZIRRAFON_ASSERT(EndTick() - Start <= 8 && PerSample <= (8u << 16));
        for (const uint64_t w : weights)
            ZIRRAFON_ASSERT((w >> 32) <= 32767 && static_cast<uint32_t>(w) <= 32767);
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
                    ZIRRAFON_ASSERT(len <= 8); // a byte of each mask
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
            ZIRRAFON_ASSERT(len <= 8); // a byte of each mask
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
        for (uint32_t end = EndTick(); to >= end; end = EndTick()) {
            CloseFrame(end, left, right);
            Pos = end;
            SumL = 0;
            SumR = 0;
        }
        SumL += left * static_cast<int32_t>(to - Pos);
        SumR += right * static_cast<int32_t>(to - Pos);
        Pos = to;
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
        ZIRRAFON_ASSERT(last + PerSample >= End);
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
    uint32_t Limit; // the frame cursor's, which the caller keeps every run within

    explicit LeanCursor(const FrameCursor& w)
        : Buffer(w.Buffer), Count(w.Count), End(w.End), EndTick(static_cast<uint32_t>(w.End >> 16)),
          Pos(w.Pos), Start(w.Start), Sum(PackSides(w.SumL, w.SumR)), PerSample(w.PerSample),
          Reciprocal(w.Divider.Reciprocal), Limit(w.Limit) {}

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
        ZIRRAFON_ASSERT(to <= Limit);
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
        // The product below counts the frames exactly only this far.
        ZIRRAFON_ASSERT(to < (1u << 23) && PerSample <= (8u << 16));
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

} // namespace
} // namespace chip_detail
