// The engine against the definition: random register programs, and real
// songs played with the settings changed between buffers, must give the same
// samples and the same state.
#include "chip/generators_inline.h"
#include "equivalence_runner.h"
#include "songs/session.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

using chiptest::Rig;
using chiptest::SameState;

namespace {

// Register values that reach the interesting corners: periods 0, 1 and the
// largest, tiny envelope periods, every shape and mixer setting. `dense`
// favours what changes every few ticks at levels that stay: noise and tone
// periods up to 4, fixed levels, envelopes that end at once.
uint8_t RandomValue(std::mt19937& rng, int reg, bool dense = false) {
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    if (dense && pick(4) != 0) {
        switch (reg) {
        case ToneFineA:
        case ToneFineB:
        case ToneFineC:
        case NoisePeriod: return static_cast<uint8_t>(pick(5));
        case ToneCoarseA:
        case ToneCoarseB:
        case ToneCoarseC:
        case EnvelopeCoarse: return 0;
        case VolumeA:
        case VolumeB:
        case VolumeC: return static_cast<uint8_t>(pick(16));
        case EnvelopeFine: return static_cast<uint8_t>(pick(3));
        default: break;
        }
    }
    switch (reg) {
    case 0:
    case 2:
    case 4: {
        const int kind = pick(6);
        return kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? 0xFF : static_cast<uint8_t>(rng());
    }
    case 1:
    case 3:
    case 5: return pick(3) == 0 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(pick(2));
    case 6: return pick(4) == 0 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(pick(3));
    case 7: return static_cast<uint8_t>(rng());
    case 8:
    case 9:
    case 10:
        return pick(4) == 0 ? static_cast<uint8_t>(0x10 | pick(16)) : static_cast<uint8_t>(rng());
    case 11: {
        const int kind = pick(4);
        return kind == 0 ? static_cast<uint8_t>(rng())
                         : static_cast<uint8_t>(pick(kind == 1 ? 3 : 40));
    }
    case 12: return pick(5) == 0 ? static_cast<uint8_t>(rng()) : 0;
    default: return static_cast<uint8_t>(rng());
    }
}

struct Pair : chiptest::EquivalenceRunner {
    bool Cpc = false;

    void Write(int32_t t, int reg, uint8_t value) {
        if (!Cpc) {
            Both([&](Rig& r) { r.WriteSpectrum(t, reg, value); });
        } else {
            Both([&](Rig& r) { r.WriteCpc(t, reg, value); });
        }
    }
};

void RunProgram(unsigned seed, bool dense) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    Pair p;
    p.Schedule = static_cast<int>(seed);
    // Start somewhere inside the buffer, so that buffer ends fall anywhere.
    const uint16_t start = static_cast<uint16_t>(2 * pick(BufferValues / 2));
    const int32_t beeperSetting = std::array<int32_t, 4>{0, 9000, 16384, 32768}[pick(4)];
    p.Both([&](Rig& r) {
        r.C().Cursor.OutputCount = start;
        r.C().Mix.BeeperSetting = beeperSetting;
        SetChipAndChannels(r.C(), static_cast<int>(seed % 14), 39, 39);
        // Now and then the boundary of a never-reset record, owing no ticks.
        if (seed % 8 == 0) r.C().Cursor.SampleBoundary = 0;
    });
    const int machine = pick(3); // Spectrum, CPC, or CPC detected while playing
    if (machine == 1) p.Both([](Rig& r) { r.C().Machine.OutHandler = OutCpc; });
    int32_t t = 0;
    for (int op = 0; op < 1200; ++op) {
        const int kind = pick(100);
        if (kind < 45) {
            int32_t dt;
            const int span = pick(100);
            dt = span < 15   ? pick(24)
                 : span < 90 ? pick(3000)
                 : span < 99 ? pick(70000)
                             : 150000 + pick(1500000);
            t += dt;
            if (dt > FrameTStates) {
                // One long span, then back into the frame.
                p.Both([&](Rig& r) { r.RenderTo(t); });
                ASSERT_TRUE(p.CollectFullBuffers()) << "seed " << seed << " op " << op;
                const int32_t frames = t / FrameTStates;
                t -= frames * FrameTStates;
                p.Both([&](Rig& r) {
                    r.Z().TStates = t;
                    r.C().Cursor.LastSynthTState -= frames * FrameTStates;
                });
            } else if (t >= FrameTStates) {
                t -= FrameTStates;
                p.Both([&](Rig& r) {
                    r.Z().TStates = t;
                    r.C().Cursor.LastSynthTState -= FrameTStates;
                    if (r.C().Cursor.OutputCount < BufferValues &&
                        t != r.C().Cursor.LastSynthTState)
                        Synthesizer(r.E());
                });
            }
        } else if (kind < 90) {
            if (machine == 2 && !p.Cpc && pick(30) == 0) p.Cpc = true;
            const int reg = pick(16);
            p.Write(t, reg, RandomValue(rng, reg, dense));
        } else if (kind < 96) {
            if (!p.Cpc) {
                const uint8_t v = static_cast<uint8_t>(rng());
                p.Both([&](Rig& r) { r.OutAt(t, 0x00FE, v); });
            }
        } else {
            const int mode = pick(16);
            const int volume = pick(3) == 0 ? pick(40) : 39;
            // The player changes settings between buffers, when everything
            // up to the instant has been rendered; here at any instant,
            // after rendering up to it.
            p.Both([&](Rig& r) {
                r.RenderTo(t);
                SetChipAndChannels(r.C(), mode, volume, 39);
            });
        }
        ASSERT_TRUE(p.CollectFullBuffers()) << "seed " << seed << " op " << op;
        ASSERT_TRUE(p.SameStateWhenCaughtUp()) << "seed " << seed << " op " << op;
    }
    p.Both([&](Rig& r) { r.RenderTo(t); });
    ASSERT_TRUE(p.CollectFullBuffers()) << "seed " << seed;
    ASSERT_TRUE(SameState(p.Ref.C(), p.Fast.C())) << "seed " << seed;
    ASSERT_FALSE(p.RefOut.empty() && p.Ref.C().Cursor.OutputCount == start) << "seed " << seed;
    ASSERT_TRUE(p.SameSamples()) << "seed " << seed;
}

} // namespace

// Each kind of program over its seeds: any register values, and the spans
// the chunked renderer takes (changes every few ticks at steady levels).
TEST(RendererEquivalence, RandomRegisterPrograms) {
    const struct {
        unsigned First, Last;
        bool Dense;
    } kinds[] = {{1, 120, false}, {121, 200, true}};
    for (const auto& kind : kinds)
        for (unsigned seed = kind.First; seed <= kind.Last; ++seed) {
            RunProgram(seed, kind.Dense);
            if (HasFatalFailure()) return;
        }
}

TEST(RendererEquivalence, ClosedFormAdvanceMatchesTickSteps) {
    std::mt19937 rng(7);
    auto pick = [&](uint32_t n) { return rng() % n; };
    for (int trial = 0; trial < 1500; ++trial) {
        Rig a;
        ChipState& c = a.C();
        for (int r = 0; r < 14; ++r) WriteRegister(c, r, RandomValue(rng, r));
        for (int ch = 0; ch < 3; ++ch) {
            c.Generators.ToneCounter[ch] = static_cast<uint16_t>(pick(4096));
            c.Generators.ToneOutput[ch] = static_cast<uint8_t>(pick(2));
        }
        c.Generators.NoiseCounter = static_cast<uint16_t>(pick(64));
        do c.Generators.NoiseShift = pick(0x20000);
        while (c.Generators.NoiseShift == 0x1FFFF);
        c.Generators.EnvelopeCounter = pick(3) == 0 ? pick(70000) : pick(60);
        for (uint32_t s = pick(80); s > 0; --s) c.Generators.EnvelopeStep(c.Generators);
        ChipState stepped = c;
        const uint32_t n = pick(8) == 0 ? pick(100000) : pick(200);
        for (uint32_t i = 0; i < n; ++i) StepGenerators(stepped);
        chip_detail::AdvanceGenerators(c, n);
        ASSERT_TRUE(SameState(stepped, c)) << "trial " << trial << " n " << n;
    }
}

// Every buffer of the first songs of each real file, with a settings change
// before each: the same samples, processor and chip as the definition.
TEST(RendererEquivalence, RealSongsPlayAsDefined) {
    const int songs =
        chiptest::ForRealSongs(2, [](SongList& list, const std::string& name, int song) {
            chiptest::EquivalenceRunner run;
            run.Both([&](Rig& r) { StartSongOn(list, r.E(), song, r.Buffer1.data()); });
            ASSERT_TRUE(run.Play(6)) << name << " song " << song;
        });
    EXPECT_GE(songs, 7);
}
