// The volume tables: the chips' output levels, the pan weights of the seven
// channel layouts and the player's volume, folded into one table lookup per
// channel and side (`ChipMix::VolumeTable`); and the beeper's amplitude at
// that volume.
#include "chip/chip.h"

#include <cmath>
#include <cstdint>

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

} // namespace

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
