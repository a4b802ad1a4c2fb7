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
// run in closed form.
#include "chip/chip.h"
#include "chip/generators_inline.h"

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

// 2^(v/H) - 1: 0 at volume 0, exactly 1 at full volume.
double VolumeFactor(int volume, int height) {
    if (height <= 0) return 1.0;
    if (volume < 0) volume = 0;
    if (volume > height) volume = height;
    const long double ln2 = 0.693147180559945309417232121458176568L;
    return static_cast<double>(std::exp(ln2 * volume / height) - 1.0L);
}

int32_t ScaleByVolume(int32_t value, double f) {
    return static_cast<int32_t>(RoundHalfEven(static_cast<long double>(value) * f));
}

// Truncating division of a frame's sum by its tick count. Frames hold a few
// ticks, so the common divisors 1..8 go by multiplication with a rounded-up
// reciprocal, exact for |sum| < 2^29: the error stays below 1/8.
inline int32_t DivideSum(int32_t sum, int32_t ticks) {
    static constexpr uint64_t Reciprocal[9] = {
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
    if (ticks < 1 || ticks > 8 || sum >= (1 << 29) || sum <= -(1 << 29)) return sum / ticks;
    const uint64_t magnitude = static_cast<uint64_t>(sum < 0 ? -sum : sum);
    const int32_t q = static_cast<int32_t>((magnitude * Reciprocal[ticks]) >> 32);
    return sum < 0 ? -q : q;
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
    c.SampleBoundary += c.TicksPerSample;
    const uint16_t owed = static_cast<uint16_t>((c.SampleBoundary >> 16) - c.TicksInSample);
    c.SampleBoundary = (c.SampleBoundary & 0xFFFF) | (static_cast<uint32_t>(owed) << 16);
    c.OutputBuffer[c.OutputCount] = static_cast<int16_t>(left);
    c.OutputBuffer[c.OutputCount + 1] = static_cast<int16_t>(right);
    c.OutputCount = static_cast<uint16_t>(c.OutputCount + 2);
    c.SumLeft = 0;
    c.SumRight = 0;
    c.TicksInSample = 0;
    if (c.OutputCount >= BufferValues) {
        if (c.TicksRendered < c.TicksToRender) c.BufferFull = 1;
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
    c.SumLeft += left;
    c.SumRight += right;
    ++c.TicksRendered;
    ++c.TicksInSample;
    if (c.TicksInSample >= static_cast<int32_t>(c.SampleBoundary >> 16))
        return EmitFrame(c, c.SumLeft / c.TicksInSample, c.SumRight / c.TicksInSample);
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
        if (c.FixedVolume[ch]) {
            const int i = LevelIndex(c, ch);
            sounds = (c.VolumeTable[ch][0][i] | c.VolumeTable[ch][1][i]) != 0;
        } else {
            heard |= HearEnvelope;
        }
        if (sounds && c.ToneOn[ch]) heard |= 1u << ch;
        if (sounds && c.NoiseOn[ch]) heard |= HearNoise;
    }
    return heard;
}

// Ticks until the first tick in which something that is heard may change:
// a tone flip, a noise shift that changes the noise output, an envelope step
// of a shape that has not come to rest. At least 1; UINT32_MAX for never.
// `toFlip` receives each heard tone's ticks to its next flip.
uint32_t TicksToAudibleChange(const ChipState& c, uint32_t heard, const uint32_t period[3],
                              uint32_t toFlip[3]) {
    uint32_t k = UINT32_MAX;
    for (int ch = 0; ch < 3; ++ch) {
        if (!(heard & (1u << ch))) continue;
        toFlip[ch] = TicksToToneFlip(c.ToneCounter[ch], period[ch]);
        if (toFlip[ch] < k) k = toFlip[ch];
    }
    if (heard & HearNoise) {
        // After j shifts the output is the present bit 16 - j; find the first
        // shift (at most 16 ahead) whose output differs from the present one.
        const uint32_t s = c.NoiseShift;
        const uint32_t differ = (s ^ ((s >> 16) & 1 ? 0xFFFFu : 0u)) & 0xFFFF;
        const uint32_t shifts = differ ? 16 - (31 - __builtin_clz(differ)) : 16;
        const uint32_t limit = NoiseLimit(c);
        const uint32_t t =
            TicksToNoiseShift(c.NoiseCounter, limit) + (shifts - 1) * NoiseSpacing(limit);
        if (t < k) k = t;
    }
    if ((heard & HearEnvelope) && !EnvelopeHolds(c)) {
        const uint32_t t = TicksToEnvelopeStep(c.EnvelopeCounter, EnvelopePeriod(c));
        if (t < k) k = t;
    }
    return k;
}

// Advances the heard generators by n ticks, n not beyond the next change:
// a heard tone either counts on or flips in the last of the n ticks.
inline void AdvanceHeard(ChipState& c, uint32_t heard, const uint32_t toFlip[3], uint32_t n) {
    if (n == 0) return;
    for (int ch = 0; ch < 3; ++ch) {
        if (!(heard & (1u << ch))) continue;
        if (n == toFlip[ch]) {
            c.ToneOutput[ch] ^= 1;
            c.ToneCounter[ch] = 0;
        } else {
            c.ToneCounter[ch] = static_cast<uint16_t>(c.ToneCounter[ch] + n);
        }
    }
    if (heard & HearNoise) AdvanceNoise(c, n);
    if (heard & HearEnvelope) AdvanceEnvelope(c, n);
}

// Advances the generators named in the mask by n ticks.
inline void AdvanceSome(ChipState& c, uint32_t which, uint32_t n) {
    if (n == 0) return;
    for (int ch = 0; ch < 3; ++ch)
        if (which & (1u << ch)) AdvanceTone(c, ch, n);
    if (which & HearNoise) AdvanceNoise(c, n);
    if (which & HearEnvelope) AdvanceEnvelope(c, n);
}

// n ticks all at the mix (left, right), closing frames as they fill. Leaves
// the generators alone (the caller advances them by `done`). True when the
// buffer filled; `done` says how many of the n ticks went in.
bool RenderRun(ChipState& c, const SampleDivider& divider, int32_t left, int32_t right, uint32_t n,
               uint32_t& done) {
    done = 0;
    if (c.TicksInSample > 0) {
        // Finish the frame that earlier ticks began.
        int32_t need = static_cast<int32_t>(c.SampleBoundary >> 16) - c.TicksInSample;
        if (need < 1) need = 1;
        if (static_cast<uint32_t>(need) > n) {
            c.SumLeft += left * static_cast<int32_t>(n);
            c.SumRight += right * static_cast<int32_t>(n);
            c.TicksInSample += static_cast<int32_t>(n);
            c.TicksRendered += n;
            done = n;
            return false;
        }
        c.SumLeft += left * need;
        c.SumRight += right * need;
        c.TicksInSample += need;
        c.TicksRendered += need;
        done = need;
        n -= need;
        if (EmitFrame(c, DivideSum(c.SumLeft, c.TicksInSample),
                      DivideSum(c.SumRight, c.TicksInSample)))
            return true;
    }
    // Whole frames: the average of equal ticks is the tick itself.
    uint32_t whole = 0;
    bool full = false;
    const uint32_t owed = c.SampleBoundary >> 16;
    if (owed >= 1 && owed <= n && c.TicksPerSample >= 0x10000) {
        // Closing a frame adds TicksPerSample to SampleBoundary and takes the
        // frame's ticks off the upper half, so the lower half accumulates the
        // fraction and frame k after this one is owed the carries out of it.
        // Hence the ticks of F frames from here are
        //   owed + floor((f0 + (F - 1) x TicksPerSample) / 65536),
        // f0 the lower half now: solve for the most frames that fit n.
        const uint64_t perSample = c.TicksPerSample;
        const uint64_t f0 = c.SampleBoundary & 0xFFFF;
        uint64_t frames = 1 + divider.Divide((static_cast<uint64_t>(n - owed + 1) << 16) - f0 - 1);
        const uint64_t room = (BufferValues - c.OutputCount) / 2;
        if (frames > room) frames = room;
        const uint64_t before = f0 + (frames - 1) * perSample; // after frames - 1 of them
        const uint64_t after = before + perSample;
        whole = owed + static_cast<uint32_t>(before >> 16);
        c.SampleBoundary =
            static_cast<uint32_t>((((after >> 16) - (before >> 16)) << 16) | (after & 0xFFFF));
        const uint32_t pair = static_cast<uint16_t>(left) | (static_cast<uint32_t>(right) << 16);
        const uint64_t twoPairs = pair | (static_cast<uint64_t>(pair) << 32);
        int16_t* out = c.OutputBuffer + c.OutputCount;
        uint64_t i = 0;
        for (; i + 2 <= frames; i += 2) std::memcpy(out + 2 * i, &twoPairs, sizeof twoPairs);
        if (i < frames) std::memcpy(out + 2 * i, &pair, sizeof pair);
        c.OutputCount = static_cast<uint16_t>(c.OutputCount + 2 * frames);
        full = c.OutputCount >= BufferValues;
    } else {
        // The general rule frame by frame (only a state that the reset never
        // makes gets here).
        for (;;) {
            uint32_t ticks = c.SampleBoundary >> 16;
            if (ticks < 1) ticks = 1;
            if (ticks > n - whole) break;
            whole += ticks;
            c.SampleBoundary += c.TicksPerSample;
            c.SampleBoundary -= ticks << 16;
            c.OutputBuffer[c.OutputCount] = static_cast<int16_t>(left);
            c.OutputBuffer[c.OutputCount + 1] = static_cast<int16_t>(right);
            c.OutputCount = static_cast<uint16_t>(c.OutputCount + 2);
            if (c.OutputCount >= BufferValues) {
                full = true;
                break;
            }
        }
    }
    n -= whole;
    c.TicksRendered += whole;
    done += whole;
    if (full) {
        if (c.TicksRendered < c.TicksToRender) c.BufferFull = 1;
        return true;
    }
    // The start of a frame that later ticks finish.
    c.SumLeft = left * static_cast<int32_t>(n);
    c.SumRight = right * static_cast<int32_t>(n);
    c.TicksInSample = static_cast<int32_t>(n);
    c.TicksRendered += n;
    done += n;
    return false;
}

} // namespace

void MixTick(ChipState& c) {
    int32_t left, right;
    MixLevel(c, left, right);
    c.SumLeft += left;
    c.SumRight += right;
}

void RenderTicksReference(ChipState& c) {
    while (c.TicksRendered < c.TicksToRender) {
        if (RenderOneTick(c)) return;
    }
}

void RenderTicksFast(ChipState& c) {
    const uint32_t heard = WhatIsHeard(c);
    constexpr uint32_t All = 7 | HearNoise | HearEnvelope;
    const SampleDivider divider(c.TicksPerSample);
    const uint32_t period[3] = {TonePeriod(c, 0), TonePeriod(c, 1), TonePeriod(c, 2)};
    uint32_t toFlip[3] = {0, 0, 0};
    // The generators that are heard are stepped run by run; those nobody
    // hears catch up once, at the end, by all the ticks rendered.
    uint32_t rendered = 0;
    // 1 when the generators heard have already been stepped through the
    // first tick of the next run (the tick in which they changed).
    uint32_t stepped = 0;
    while (c.TicksRendered < c.TicksToRender) {
        const uint32_t remaining = c.TicksToRender - c.TicksRendered;
        const uint32_t change = TicksToAudibleChange(c, heard, period, toFlip);
        const uint32_t quiet = change - 1 < remaining - stepped ? change - 1 : remaining - stepped;
        const uint32_t n = stepped + quiet;
        uint32_t done = 0;
        bool full = false;
        if (n > 0) {
            int32_t left, right;
            MixLevel(c, left, right);
            full = RenderRun(c, divider, left, right, n, done);
            rendered += done;
        }
        if (full || c.TicksRendered >= c.TicksToRender) {
            AdvanceHeard(c, heard, toFlip, done - stepped);
            break;
        }
        // On through the tick in which something heard changes: it opens
        // the next run.
        AdvanceHeard(c, heard, toFlip, done - stepped + 1);
        stepped = 1;
    }
    AdvanceSome(c, All & ~heard, rendered);
}

void RenderTicks(ChipState& c) {
    if (c.TickByTick)
        RenderTicksReference(c);
    else
        RenderTicksFast(c);
}

void Synthesizer(SoundEngine& e) {
    ChipState& c = e.Chip;
    if (c.BufferFull) {
        // The rest of a span that did not fit the previous buffer. A buffer
        // that is still full has no room for it: it stays pending.
        if (c.OutputCount >= BufferValues) return;
        c.BufferFull = 0;
    } else {
        const int32_t d = e.Z80.TStates - c.LastSynthTState;
        if (d <= 0) return;
        const uint64_t p = static_cast<uint64_t>(d) * c.TicksPerTState + c.TickFraction;
        if ((p >> 32) == 0) return; // less than a tick: counted again next time
        c.TickFraction = static_cast<uint32_t>(p);
        c.TicksToRender = static_cast<uint32_t>(p >> 32);
        c.LastSynthTState = e.Z80.TStates;
        c.TicksRendered = 0;
        if (c.OutputCount >= BufferValues) {
            // No room left in this buffer: the whole span goes to the next.
            c.BufferFull = 1;
            return;
        }
    }
    RenderTicks(c);
}

int32_t ComputeBeeperAmplitude(int32_t setting, int volume, int height) {
    return -ScaleByVolume(setting, VolumeFactor(volume, height));
}

void SetChipAndChannels(ChipState& c, int mode, int volume, int height) {
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
    const double f = VolumeFactor(volume, height);
    for (int ch = 0; ch < 3; ++ch)
        for (int side = 0; side < 2; ++side) {
            const long double w = weights[ch][side];
            int32_t* entry = c.VolumeTable[ch][side];
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
            for (int i = 0; i < 32; ++i) entry[i] = ScaleByVolume(entry[i], f);
        }
    c.BeeperAmplitude = -ScaleByVolume(c.BeeperSetting, f);
}
