// Register streams on the chip engine: the file's clock and rate, the loop,
// the YM5/YM6 timer effects at their instants inside the frame (measured on
// the chip's output), and the round trip of an emulated song through the
// register dumps.
#include "../formats/stream_writer.h"
#include "songs/session.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numeric>

namespace {

// A frame with every voice's tone and noise off (so a voice's output is its
// level) and the envelope shape not written.
StreamFrame Quiet() {
    StreamFrame f(16, 0);
    f[7] = 0x3F;
    f[13] = 0xFF;
    return f;
}

// The left side of `seconds` of a stream's sound in AY mono.
std::vector<int16_t> Render(const RegisterStream& s, double seconds, int mode = 0) {
    SoundEngine e;
    SetChipAndChannels(e.Chip, mode, 1, 1); // full volume
    RegisterPlayer player;
    std::vector<int16_t> buffer(BufferValues), left;
    player.Start(e, s, buffer.data());
    while (left.size() < seconds * OutputRate) {
        e.Chip.Cursor.OutputBuffer = buffer.data();
        player.FillBuffer(e);
        for (int i = 0; i < BufferValues; i += 2) left.push_back(buffer[i]);
    }
    left.resize(static_cast<size_t>(seconds * OutputRate));
    return left;
}

RegisterStream Read(const Bytes& file) {
    std::string refusal;
    std::optional<RegisterStream> s = ReadYMFile(file, refusal);
    if (!s) throw std::runtime_error(refusal);
    return *s;
}

// The output frames at which the level passes `mid` going up.
std::vector<size_t> Rises(const std::vector<int16_t>& v, int mid) {
    std::vector<size_t> at;
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i - 1] < mid && v[i] >= mid) at.push_back(i);
    return at;
}

// Zero crossings of the level around its mean, per second: twice a tone's frequency.
double Crossings(const std::vector<int16_t>& v, size_t from, size_t to) {
    const double mean = std::accumulate(v.begin() + from, v.begin() + to, 0.0) / double(to - from);
    int n = 0;
    for (size_t i = from + 1; i < to; ++i) n += (v[i - 1] < mean) != (v[i] < mean);
    return n * double(OutputRate) / double(to - from);
}

TEST(StreamPlayback, ChipRateFollowsTheFileClockLikeTheMachinesConstants) {
    // A file at the Spectrum's or the CPC's clock ticks exactly as a Z80 song
    // of that machine does.
    for (const auto& [clock, perTState, perSample] :
         {std::tuple{1773400u, SpectrumTicksPerTState, SpectrumTicksPerSample},
          std::tuple{1000000u, CpcTicksPerTState, CpcTicksPerSample}}) {
        YMPlan p;
        p.Frames = {Quiet()};
        p.Clock = clock;
        const RegisterStream s = Read(MakeYM(p));
        SoundEngine e;
        std::vector<int16_t> buffer(BufferValues);
        RegisterPlayer player;
        player.Start(e, s, buffer.data());
        EXPECT_EQ(e.Chip.Machine.TicksPerTState, perTState) << clock;
        EXPECT_EQ(e.Chip.Machine.TicksPerSample, perSample) << clock;
    }
}

TEST(StreamPlayback, ToneAtTheFileClockAndLoopFromTheLoopFrame) {
    // 60 Hz frames: 60 of tone period 0x100, then 60 of 0x200, looping from
    // frame 60. At 1 MHz a period p sounds at 1e6 / (16 p) Hz.
    YMPlan p;
    p.Version = "YM6!";
    p.Clock = 1000000;
    p.Rate = 60;
    p.Loop = 60;
    for (int f = 0; f < 120; ++f) {
        StreamFrame fr = Quiet();
        fr[7] = 0x3E; // tone A
        fr[1] = f < 60 ? 1 : 2;
        fr[8] = 15;
        p.Frames.push_back(fr);
    }
    const RegisterStream s = Read(MakeYM(p));
    EXPECT_DOUBLE_EQ(s.Seconds(), 2.0);
    const std::vector<int16_t> v = Render(s, 4.0);
    const double high = 1e6 / 16 / 256, low = high / 2;
    for (const auto& [from, want] : {std::pair{0.1, high}, {1.1, low}, {2.1, low}, {3.1, low}})
        EXPECT_NEAR(Crossings(v, size_t(from * OutputRate), size_t((from + 0.8) * OutputRate)) / 2,
                    want, want * 0.01)
            << "at " << from << " s";
}

struct EffectCase {
    std::string Name;
    std::string Version;
    StreamFrame Every; // every frame (the envelope shape written in the first only)
    double TickHz;     // the timer's rate
    int TicksPerRise;  // a SID voice rises every second tick
    int Mid;           // the level a rise passes
};

// Timer: predivisor index i (4, 10, 16, 50, 64, 100, 200) in bits 5-7 of R6
// (effect 1) or R8 (effect 2), the count in R14 or R15, the voice in bits 4-5
// of R1 or R3 and, in YM6, the kind in bits 6-7. The MFP runs at 2,457,600 Hz.
StreamFrame WithEffect(uint8_t r1, uint8_t r3, uint8_t r6, uint8_t r14, uint8_t r15,
                       std::array<uint8_t, 3> volumes, uint8_t shape = 0xFF) {
    StreamFrame f = Quiet();
    f[1] = r1;
    f[3] = r3;
    f[6] = r6;
    for (int v = 0; v < 3; ++v) f[8 + v] = volumes[v];
    f[11] = 1; // the shortest envelope period
    f[13] = shape;
    f[14] = r14;
    f[15] = r15;
    return f;
}
constexpr double Tick(int divider, int count) { return 2457600.0 / (divider * count); }

class TimerEffects : public testing::TestWithParam<EffectCase> {};

// Each effect's writes land at its timer's instants: the level rises as often
// as the timer says (far more often than the 50 frames a second), and the
// n-th rise is within one output frame of n timer periods after the first.
TEST_P(TimerEffects, LandOnTheTimersInstants) {
    const EffectCase& c = GetParam();
    YMPlan p;
    p.Version = c.Version;
    for (int f = 0; f < 50; ++f) {
        p.Frames.push_back(c.Every);
        if (f > 0) p.Frames.back()[13] = 0xFF;
    }
    const std::vector<int16_t> v = Render(Read(MakeYM(p)), 1.0);
    const std::vector<size_t> rises = Rises(v, c.Mid);
    const double period = OutputRate / c.TickHz * c.TicksPerRise;
    ASSERT_NEAR(double(rises.size()), OutputRate / period, 2.0);
    for (size_t n = 1; n < rises.size(); ++n)
        ASSERT_NEAR(double(rises[n] - rises[0]), n * period, 1.5) << "rise " << n;
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, TimerEffects,
    testing::Values(
        // YM5's effect 1 is a SID voice: voice A, 4 x 154.
        EffectCase{"Ym5SidVoice", "YM5!", WithEffect(0x10, 0, 1 << 5, 154, 0, {15, 0, 0}),
                   Tick(4, 154), 2, 3000},
        // YM6 names the kind: SID (0) through effect 2 on voice C, 16 x 77.
        EffectCase{"Ym6SidVoiceOnEffect2", "YM6!", WithEffect(0, 0x30, 0, 0, 77, {3 << 5, 0, 12}),
                   Tick(16, 77), 2, 1000},
        // Sync-buzzer (3) on voice A in envelope mode: the shape (decay, then
        // hold at 0) written again at every tick, 200 x 123.
        EffectCase{"Ym6SyncBuzzer", "YM6!", WithEffect(0xD0, 0, 7 << 5, 123, 0, {0x10, 0, 0}, 0x09),
                   Tick(200, 123), 1, 3000}),
    [](const testing::TestParamInfo<EffectCase>& info) { return info.param.Name; });

TEST(StreamPlayback, DigidrumPlaysItsSamplesThenGivesTheVoiceBack) {
    // 40 samples of level 15 at 6144 Hz: 6.5 ms of the level, then the
    // stream's own (0).
    YMPlan p;
    p.Version = "YM6!";
    p.Attributes = 4;
    p.Drums = {Bytes(40, 15)};
    // Kind 1 on voice B, 4 x 100, drum 0 (named by voice B's level register).
    StreamFrame f = WithEffect(0, 0x60, 0, 0, 100, {1 << 5, 0, 0});
    p.Frames = {f, Quiet(), Quiet()};
    const std::vector<int16_t> v = Render(Read(MakeYM(p)), 0.05);
    const auto loud = std::count_if(v.begin(), v.end(), [](int16_t x) { return x > 1000; });
    EXPECT_NEAR(double(loud), 40 / Tick(4, 100) * OutputRate, 2.0);
    EXPECT_GT(v[10], 1000);
    EXPECT_EQ(v[600], 0);
}

// A real song (one whose player restarts the envelope now and then), recorded
// at every frame end, written as YM6 and PSG, and read back.
TEST(StreamPlayback, EmulatedSongRoundTripsThroughDumps) {
    SongSession song;
    ASSERT_TRUE(song.Open(ZIRRAFON_TESTDATA_DIR "/ay/AcousticDreams.ay", SongKind::AY, nullptr));
    song.LoadSong(song.StartingSong());
    std::vector<int16_t> buffer(BufferValues), ay;
    song.StartPlayback(buffer.data());
    RegisterRecorder recorder(*song.Engine);
    for (int b = 0; b < 81; ++b) { // 30 s
        song.FillBuffer(buffer.data(), &recorder);
        for (int i = 0; i < BufferValues; i += 2) ay.push_back(buffer[i]);
    }
    const std::vector<uint8_t>& frames = recorder.Frames();
    ASSERT_GE(recorder.FrameCount(), 1490u);
    const auto restarts = [](const RegisterStream& s) {
        int n = 0;
        for (uint32_t f = 0; f < s.FrameCount; ++f) n += (s.Written[f] >> 13) & 1;
        return n;
    };

    std::string refusal;
    const auto ym =
        ReadYMFile(WriteYM6(frames, SpectrumChipClock, 50, 0, {"T", "A", "C"}), refusal);
    const auto psg = ReadPSGFile(WritePSG(frames), refusal);
    ASSERT_TRUE(ym && psg) << refusal;
    int recordedRestarts = 0;
    for (uint32_t f = 0; f < recorder.FrameCount(); ++f) {
        const uint8_t* want = &frames[size_t{f} * StreamRegisters];
        recordedRestarts += want[13] != 0xFF;
        for (int r = 0; r < 14; ++r) {
            ASSERT_EQ(ym->Frame(f)[r], want[r]) << "YM frame " << f << " register " << r;
            if (r != 13) {
                ASSERT_EQ(psg->Frame(f)[r], want[r]) << "PSG frame " << f << " register " << r;
            }
        }
    }
    EXPECT_GT(recordedRestarts, 0);
    EXPECT_EQ(restarts(*ym), recordedRestarts);
    EXPECT_EQ(restarts(*psg), recordedRestarts);
    EXPECT_EQ(ym->Title, "T");

    // This song's player writes the chip once a frame: the PSG's sound is the
    // song's, its writes moved to the frame's start. Frame by frame, the levels
    // go up and down together.
    const std::vector<int16_t> back = Render(*psg, double(ay.size()) / OutputRate);
    std::vector<double> a, b;
    for (size_t at = 0; at + 882 <= ay.size(); at += 882) {
        double ea = 0, eb = 0;
        for (size_t i = at; i < at + 882; ++i) ea += std::abs(ay[i]), eb += std::abs(back[i]);
        a.push_back(ea), b.push_back(eb);
    }
    const double ma = std::accumulate(a.begin(), a.end(), 0.0) / a.size();
    const double mb = std::accumulate(b.begin(), b.end(), 0.0) / b.size();
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    EXPECT_GT(sab / std::sqrt(saa * sbb), 0.9);
}

} // namespace
