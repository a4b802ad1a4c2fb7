// The tracker engine against the registers the standard Pro Tracker player
// writes on a Z80 (the shared test data's expected dumps, made on an
// independent emulator): every module with a dump plays it frame for frame,
// significant bits of R0-R13 and every write of R13, and ends where the
// player signals its end.
#include "songs/tracker_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <unistd.h>

namespace {

const std::string Folder = ZIRRAFON_TESTDATA_DIR "/pt3/";

std::vector<uint8_t> Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A dump and the module it was made from: "NAME.psg" is NAME.pt3 or .pt2,
// "megamix-3.V-tableT" one of the variants, "NAME.chipN" chip N of the
// TurboSound file NAME.ts.
struct DumpCase {
    std::string Name, Module;
    int Chip = 0;
};

void PrintTo(const DumpCase& c, std::ostream* out) { *out << c.Name; }

std::vector<DumpCase> Dumps() {
    std::vector<DumpCase> cases;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Folder + "expected", error)) {
        if (entry.path().extension() != ".psg") continue;
        DumpCase c;
        c.Name = entry.path().stem().string();
        if (const size_t dot = c.Name.rfind(".chip"); dot != std::string::npos) {
            c.Module = Folder + c.Name.substr(0, dot) + ".ts";
            c.Chip = std::stoi(c.Name.substr(dot + 5)) - 1;
        } else if (c.Name.starts_with("megamix-")) {
            c.Module = Folder + "variants/" + c.Name + ".pt3";
        } else {
            c.Module = Folder + c.Name +
                       (std::filesystem::exists(Folder + c.Name + ".pt2") ? ".pt2" : ".pt3");
        }
        cases.push_back(c);
    }
    std::sort(cases.begin(), cases.end(),
              [](const DumpCase& a, const DumpCase& b) { return a.Name < b.Name; });
    return cases;
}

std::map<std::string, uint32_t> Lengths() {
    std::map<std::string, uint32_t> lengths;
    std::ifstream in(Folder + "expected/lengths.txt");
    std::string name;
    uint32_t frames = 0;
    while (in >> name >> frames) lengths[name] = frames;
    return lengths;
}

std::optional<TrackerModule> ReadModule(const std::string& path, std::string& refusal) {
    const std::vector<uint8_t> bytes = Load(path);
    return path.ends_with(".pt2") ? ReadPT2File(bytes, refusal) : ReadPT3File(bytes, refusal);
}

// The bits of each register the chip uses (R7's two port bits are not sound).
constexpr uint8_t Significant[14] = {0xFF, 0x0F, 0xFF, 0x0F, 0xFF, 0x0F, 0x1F,
                                     0x3F, 0x1F, 0x1F, 0x1F, 0xFF, 0xFF, 0x0F};

std::string Show(const uint8_t* r, bool shapeWritten) {
    std::string s;
    for (int i = 0; i < 14; ++i) s += std::to_string(r[i] & Significant[i]) + " ";
    return s + (shapeWritten ? "(R13 written)" : "");
}

// Where `ours` (frames 0 on) first differs from the player's dump (whose
// frame 0 is the player's init and frame n is after its n-th call), over the
// song's `length` frames; empty when it never does.
std::string Difference(const RegisterStream& ours, const RegisterStream& dump, uint32_t length) {
    if (ours.FrameCount < length || dump.FrameCount < length + 1)
        return "frames: " + std::to_string(ours.FrameCount) + " against the player's " +
               std::to_string(dump.FrameCount - 1);
    for (uint32_t f = 0; f < length; ++f) {
        const uint8_t* a = ours.Frame(f);
        const uint8_t* b = dump.Frame(f + 1);
        const bool aWritten = ours.Written[f] & (1u << 13);
        const bool bWritten = dump.Written[f + 1] & (1u << 13);
        bool same = aWritten == bWritten;
        for (int r = 0; r < 14; ++r) same = same && ((a[r] ^ b[r]) & Significant[r]) == 0;
        if (!same)
            return "frame " + std::to_string(f + 1) + " of " + std::to_string(length) +
                   "\n  ours:   " + Show(a, aWritten) + "\n  player: " + Show(b, bWritten);
    }
    return {};
}

std::optional<RegisterStream> Dump(const std::string& name) {
    std::string refusal;
    return ReadPSGFile(Load(Folder + "expected/" + name + ".psg"), refusal);
}

class ExpectedDump : public testing::TestWithParam<DumpCase> {};

TEST_P(ExpectedDump, EveryFrameAndTheLengthAreThePlayers) {
    const DumpCase& c = GetParam();
    std::string refusal;
    const std::optional<TrackerModule> module = ReadModule(c.Module, refusal);
    ASSERT_TRUE(module) << refusal;
    const std::optional<RegisterStream> stream = ModuleStream(*module, refusal, c.Chip);
    ASSERT_TRUE(stream) << refusal;
    const std::optional<RegisterStream> dump = Dump(c.Name);
    ASSERT_TRUE(dump);
    const uint32_t length = Lengths()[c.Name];
    ASSERT_GT(length, 0u) << "no length for " << c.Name;
    EXPECT_EQ(stream->SongFrames, length);
    EXPECT_FALSE(stream->ReadPastModule);
    EXPECT_EQ(dump->FrameCount, length + 1); // the dump runs to the song's end
    EXPECT_EQ(Difference(*stream, *dump, length), "");
}

INSTANTIATE_TEST_SUITE_P(PT, ExpectedDump, testing::ValuesIn(Dumps()),
                         [](const testing::TestParamInfo<DumpCase>& info) {
                             std::string name = info.param.Name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Modules the dumps cannot pin down play all the same. Those that make the
// player read memory past their own data play it as zeros and say so: winky
// as it is, and a track moved to run off the module's end in both formats
// (zeros past the end would be, in a Pro Tracker 2 track, commands that never
// end a row). A Pro Tracker 3.7 two-chip module's second chip plays patterns
// of its own.
TEST(TrackerEngine, ModulesWithoutADumpPlayAndSayWhatTheyAre) {
    for (const char* name : {"winky.pt3", "13.pt2", "megamix.pt3"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = Load(Folder + name);
        const bool pt2 = std::string(name).ends_with(".pt2");
        if (std::string(name) != "winky.pt3") {
            const size_t patterns =
                pt2 ? bytes[99] | bytes[100] << 8 : bytes[103] | bytes[104] << 8;
            // Channel C of the first position's pattern: its last byte is the file's.
            const size_t entry = patterns + 6 * (pt2 ? bytes[131] : bytes[201] / 3) + 4;
            bytes[entry] = static_cast<uint8_t>(bytes.size() - 1);
            bytes[entry + 1] = static_cast<uint8_t>((bytes.size() - 1) >> 8);
        }
        std::string refusal;
        const auto start = std::chrono::steady_clock::now();
        const std::optional<RegisterStream> s =
            ModuleFileStream(pt2 ? TrackerFormat::PT2 : TrackerFormat::PT3, bytes, refusal);
        ASSERT_TRUE(s) << refusal;
        EXPECT_TRUE(s->ReadPastModule);
        EXPECT_GT(s->SongFrames, 0u);
        // Reading on through 4 GB of zeros would take seconds; a module opens
        // in milliseconds.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }

    std::string refusal;
    const std::optional<TrackerModule> two = ReadModule(Folder + "WeBberTS.pt3", refusal);
    ASSERT_TRUE(two) << refusal;
    const std::optional<RegisterStream> first = ModuleStream(*two, refusal, 0);
    const std::optional<RegisterStream> second = ModuleStream(*two, refusal, 1);
    ASSERT_TRUE(first && second) << refusal;
    EXPECT_NE(first->Registers, second->Registers);

    // The table above covers every dump there is (an empty folder would
    // instantiate nothing and pass).
    EXPECT_EQ(Dumps().size(), 53u);
}

// `bytes` with `extra` entries added to the end of its position list: the
// module grows there, and every offset past that point moves with it.
std::vector<uint8_t> WithMorePositions(std::vector<uint8_t> bytes, bool pt2,
                                       const std::vector<uint8_t>& extra) {
    const size_t list = pt2 ? 131 : 201;
    const size_t end = std::find(bytes.begin() + list, bytes.end(), 0xFF) - bytes.begin();
    bytes.insert(bytes.begin() + end, extra.begin(), extra.end());
    const auto move = [&](size_t at) {
        const unsigned offset = bytes[at] | bytes[at + 1] << 8;
        if (offset < end) return;
        bytes[at] = static_cast<uint8_t>(offset + extra.size());
        bytes[at + 1] = static_cast<uint8_t>((offset + extra.size()) >> 8);
    };
    const size_t patterns = pt2 ? 99 : 103, samples = pt2 ? 3 : 105, ornaments = pt2 ? 67 : 169;
    for (int i = 0; i < 32; ++i) move(samples + 2 * i);
    for (int i = 0; i < 16; ++i) move(ornaments + 2 * i);
    move(patterns);
    const size_t table = bytes[patterns] | bytes[patterns + 1] << 8;
    const uint8_t highest = *std::max_element(bytes.begin() + list, bytes.begin() + end);
    for (size_t i = 0; i < 3u * (pt2 ? highest + 1u : highest / 3u + 1u); ++i) move(table + 2 * i);
    return bytes;
}

// With song lengths not followed a module goes on from its loop position with
// the channels as the song left them. The stream, looped where the engine
// found its state repeating, is what the same module plays straight on when
// its position list holds the loop twice more.
TEST(TrackerEngine, TheLoopedStreamIsWhatTheModulePlaysOnAndOn) {
    for (const char* name : {"13.pt2", "4jour-2.pt2", "megamix.pt3", "Lat_mix2.pt3"}) {
        SCOPED_TRACE(name);
        const bool pt2 = std::string(name).ends_with(".pt2");
        const TrackerFormat format = pt2 ? TrackerFormat::PT2 : TrackerFormat::PT3;
        const std::vector<uint8_t> bytes = Load(Folder + name);
        std::string refusal;
        const std::optional<RegisterStream> looped = ModuleFileStream(format, bytes, refusal);
        ASSERT_TRUE(looped) << refusal;
        const TrackerModule& m = *looped->Module;
        std::vector<uint8_t> again;
        for (int pass = 0; pass < 2; ++pass)
            for (size_t i = m.LoopPosition; i < m.Positions.size(); ++i)
                again.push_back(static_cast<uint8_t>(m.Positions[i] * (pt2 ? 1 : 3)));
        const std::optional<RegisterStream> straight =
            ModuleFileStream(format, WithMorePositions(bytes, pt2, again), refusal);
        ASSERT_TRUE(straight) << refusal;
        ASSERT_GT(straight->SongFrames, looped->SongFrames); // it plays the loop twice
        const uint32_t period = looped->FrameCount - looped->LoopFrame;
        for (uint32_t f = 0; f < straight->SongFrames; ++f) {
            const uint32_t at =
                f < looped->FrameCount ? f : looped->LoopFrame + (f - looped->FrameCount) % period;
            ASSERT_EQ(std::memcmp(looped->Frame(at), straight->Frame(f), StreamRegisters), 0)
                << "frame " << f;
            // Register 13 written (the others are marked where they change).
            ASSERT_EQ(looped->Written[at] >> 13 & 1, straight->Written[f] >> 13 & 1)
                << "frame " << f;
        }
    }
}

// The whole way a module's registers go: opened by zirrafon-render, played
// on the chip through the register player, recorded at each frame end and
// written as a dump of exactly the song's frames.
TEST(TrackerEngine, RenderToolDumpsWhatThePlayerWrites) {
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("zirrafon-pt-" + std::to_string(getpid()) + ".psg"))
                                .string();
    for (const char* name : {"megamix", "4jour-2"}) {
        SCOPED_TRACE(name);
        const std::string module =
            Folder + name + (std::string(name) == "4jour-2" ? ".pt2" : ".pt3");
        const std::string command =
            "'" ZIRRAFON_BINARY_DIR "/zirrafon-render' --fade 0 -o '" + out + "' '" + module + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string refusal;
        const std::optional<RegisterStream> written = ReadPSGFile(Load(out), refusal);
        ASSERT_TRUE(written) << refusal;
        const uint32_t length = Lengths()[name];
        EXPECT_EQ(written->FrameCount, length);
        EXPECT_EQ(Difference(*written, *Dump(name), length), "");
    }
    std::filesystem::remove(out);
}

} // namespace
