// Builders of small ".ay" and ".aym" files for the song-file tests, and a
// temporary folder to put them in.
#pragma once

#include "songs/session.h"
#include "songs/song_stream.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zirrafon-songs-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string file = Path(name);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return file;
    }

  private:
    std::filesystem::path path_;
};

inline Bytes ReadFileBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// --- AY ---------------------------------------------------------------------------

struct AYBlockPlan {
    uint16_t Address = 0; // 0 writes an entry that ends the table early
    uint16_t Length = 0;  // as declared in the table
    Bytes Data;           // what the file holds for it
    int PointerShift = 0; // added to the data pointer
};

struct AYSongPlan {
    std::string Name;
    uint8_t HiReg = 0, LoReg = 0;
    uint16_t Stack = 0, Init = 0, Interrupt = 0, Length = 0, Fade = 0;
    std::vector<AYBlockPlan> Blocks;
};

struct AYFilePlan {
    std::string Id = "ZXAYEMUL";
    std::string Author, Misc;
    uint8_t FirstSong = 0;
    std::vector<AYSongPlan> Songs;
    // Reversed: every structure after the data it points to, so that all
    // pointers but the header's point backwards.
    bool Reversed = false;
};

inline Bytes BuildAY(const AYFilePlan& plan) {
    struct Section {
        Bytes Content;
        size_t At = 0;
    };
    const size_t n = plan.Songs.size();
    const auto text = [](const std::string& s) {
        Bytes b(s.begin(), s.end());
        b.push_back(0);
        return Section{b};
    };
    Section header{Bytes(20)}, author = text(plan.Author), misc = text(plan.Misc),
                               table{Bytes(4 * n)};
    std::vector<Section> names, records, points, blockTables;
    std::vector<std::vector<Section>> data(n);
    for (size_t i = 0; i < n; ++i) {
        const AYSongPlan& s = plan.Songs[i];
        names.push_back(text(s.Name));
        records.push_back(
            {Bytes{0, 1, 2, 3, uint8_t(s.Length >> 8), uint8_t(s.Length), uint8_t(s.Fade >> 8),
                   uint8_t(s.Fade), s.HiReg, s.LoReg, 0, 0, 0, 0}});
        points.push_back({Bytes{uint8_t(s.Stack >> 8), uint8_t(s.Stack), uint8_t(s.Init >> 8),
                                uint8_t(s.Init), uint8_t(s.Interrupt >> 8), uint8_t(s.Interrupt)}});
        blockTables.push_back({Bytes(6 * s.Blocks.size() + 2)});
        for (const AYBlockPlan& b : s.Blocks) data[i].push_back({b.Data});
    }

    std::vector<Section*> order{&header};
    const auto add = [&order](std::vector<Section>& v) {
        for (Section& s : v) order.push_back(&s);
    };
    const auto addData = [&] {
        for (auto& song : data) add(song);
    };
    const auto addStrings = [&] {
        order.push_back(&author);
        order.push_back(&misc);
        add(names);
    };
    if (plan.Reversed) {
        addData();
        addStrings();
        add(points);
        add(blockTables);
        add(records);
        order.push_back(&table);
    } else {
        order.push_back(&table);
        add(records);
        add(points);
        add(blockTables);
        addStrings();
        addData();
    }
    Bytes file;
    for (Section* s : order) {
        s->At = file.size();
        file.insert(file.end(), s->Content.begin(), s->Content.end());
    }
    const auto put16 = [&file](size_t at, int value) {
        file[at] = uint8_t(value >> 8);
        file[at + 1] = uint8_t(value);
    };
    const auto pointer = [&](size_t field, size_t target, int shift = 0) {
        const long delta = long(target) - long(field) + shift;
        if (delta < -32768 || delta > 32767) throw std::logic_error("pointer out of reach");
        put16(field, int(delta));
    };
    std::copy(plan.Id.begin(), plan.Id.end(), file.begin());
    file[16] = uint8_t(n - 1);
    file[17] = plan.FirstSong;
    pointer(12, author.At);
    pointer(14, misc.At);
    pointer(18, table.At);
    for (size_t i = 0; i < n; ++i) {
        pointer(table.At + 4 * i, names[i].At);
        pointer(table.At + 4 * i + 2, records[i].At);
        pointer(records[i].At + 10, points[i].At);
        pointer(records[i].At + 12, blockTables[i].At);
        for (size_t j = 0; j < plan.Songs[i].Blocks.size(); ++j) {
            const AYBlockPlan& b = plan.Songs[i].Blocks[j];
            const size_t entry = blockTables[i].At + 6 * j;
            put16(entry, b.Address);
            put16(entry + 2, b.Length);
            pointer(entry + 4, data[i][j].At, b.PointerShift);
        }
    }
    return file;
}

// --- AYM --------------------------------------------------------------------------

struct AYMBlockPlan {
    uint16_t Address = 0;
    uint16_t Length = 0; // as declared
    Bytes Data;          // may be shorter than Length at the end of the file
};

struct AYMFilePlan {
    std::string Id = "AYM0";
    std::string Name, Author; // padded with blanks to 28 and 16 bytes
    uint16_t Init = 0, Play = 0;
    uint8_t First = 0, Last = 0, Start = 0, Slot = 1;
    uint8_t Registers[12]{}; // F A C B E D L H IXl IXh IYl IYh
    std::vector<AYMBlockPlan> Blocks;
};

inline Bytes BuildAYM(const AYMFilePlan& plan) {
    Bytes file(69, ' ');
    std::copy(plan.Id.begin(), plan.Id.end(), file.begin());
    std::copy(plan.Name.begin(), plan.Name.end(), file.begin() + 4);
    std::copy(plan.Author.begin(), plan.Author.end(), file.begin() + 32);
    const uint8_t tail[] = {uint8_t(plan.Init), uint8_t(plan.Init >> 8),
                            uint8_t(plan.Play), uint8_t(plan.Play >> 8),
                            plan.First,         plan.Last,
                            plan.Start,         plan.Slot};
    std::copy(std::begin(tail), std::end(tail), file.begin() + 48);
    std::copy(std::begin(plan.Registers), std::end(plan.Registers), file.begin() + 56);
    file[68] = uint8_t(plan.Blocks.size());
    for (const AYMBlockPlan& b : plan.Blocks) {
        const uint8_t h[] = {uint8_t(b.Address), uint8_t(b.Address >> 8), uint8_t(b.Length),
                             uint8_t(b.Length >> 8)};
        file.insert(file.end(), std::begin(h), std::end(h));
        file.insert(file.end(), b.Data.begin(), b.Data.end());
    }
    return file;
}

// Collects the format messages of a reader.
struct MessageLog {
    std::vector<std::string> Texts;
    FormatErrorSink Sink() {
        return [this](const std::string& t) { Texts.push_back(t); };
    }
};

// The SongIOError text of `f()`, or "" when it does not throw one.
template <typename F> std::string IOErrorOf(F&& f) {
    try {
        f();
    } catch (const SongIOError& e) {
        return e.what();
    }
    return "";
}

// --- songs that play a steady tone ------------------------------------------------------

// Z80 code that sets chip channel A to a steady tone of the given period at
// full volume (Spectrum ports), returns, and is followed by a RET that serves
// as the interrupt routine.
inline Bytes ToneCode(uint8_t period) {
    const uint8_t writes[3][2] = {{0, period}, {7, 0x3E}, {8, 0x0F}};
    Bytes code;
    code.reserve(64);
    for (uint8_t b : {0x01, 0xFD, 0xFF}) code.push_back(b); // LD BC,0xFFFD
    for (const auto& rv : writes) {
        // LD B,0xFF; LD A,reg; OUT (C),A; LD B,0xBF; LD A,value; OUT (C),A
        const uint8_t bytes[12] = {0x06, 0xFF, 0x3E, rv[0], 0xED, 0x79,
                                   0x06, 0xBF, 0x3E, rv[1], 0xED, 0x79};
        for (uint8_t b : bytes) code.push_back(b);
    }
    code.push_back(0xC9); // RET (end of init)
    code.push_back(0xC9); // RET (interrupt routine)
    return code;
}
constexpr uint16_t ToneCodeAddress = 0x8000;
inline uint16_t ToneInterruptAddress() {
    return static_cast<uint16_t>(ToneCodeAddress + ToneCode(1).size() - 1);
}

// An AY file by "Test Author" ("Test Misc") of `songCount` songs named
// "Song 1", "Song 2", ... whose song i plays a tone of period 0x40 + 8 i for
// `lengths[i]` frames (0: no length given) and fades over `fades[i]`.
inline Bytes BuildToneAY(int songCount, uint8_t firstSongByte,
                         const std::vector<uint16_t>& lengths = {},
                         const std::vector<uint16_t>& fades = {}) {
    AYFilePlan plan;
    plan.Author = "Test Author";
    plan.Misc = "Test Misc";
    plan.FirstSong = firstSongByte;
    for (int i = 0; i < songCount; ++i) {
        AYSongPlan song;
        song.Name = "Song " + std::to_string(i + 1);
        song.Stack = 0xF000;
        song.Init = ToneCodeAddress;
        song.Interrupt = ToneInterruptAddress();
        const auto at = static_cast<size_t>(i);
        song.Length = at < lengths.size() ? lengths[at] : 0;
        song.Fade = at < fades.size() ? fades[at] : 0;
        const Bytes code = ToneCode(static_cast<uint8_t>(0x40 + 8 * i));
        song.Blocks = {{ToneCodeAddress, static_cast<uint16_t>(code.size()), code, 0}};
        plan.Songs.push_back(song);
    }
    return BuildAY(plan);
}

// An AYM file "AYM Tune" by "AYM Author" whose songs 1..songs all play one tone.
inline Bytes BuildToneAYM(uint8_t songs, uint8_t startNumber) {
    AYMFilePlan plan;
    plan.Name = "AYM Tune";
    plan.Author = "AYM Author";
    plan.Init = ToneCodeAddress;
    plan.Play = ToneInterruptAddress();
    plan.First = 1;
    plan.Last = songs;
    plan.Start = startNumber;
    const Bytes code = ToneCode(0x30);
    plan.Blocks = {{ToneCodeAddress, static_cast<uint16_t>(code.size()), code}};
    return BuildAYM(plan);
}

// --- rendering ------------------------------------------------------------------------

// Opens `file` by its kind; false when the reader refuses it.
inline bool OpenSong(SongSession& session, const std::string& file) {
    return session.Open(file, KindOfFile(file), nullptr);
}

// The first `frames` stereo frames of a song, straight from a session.
inline std::vector<int16_t> RenderDirect(const std::string& file, int song, size_t frames,
                                         int chipMode = DefaultChipMode) {
    SongSession session;
    SetChipAndChannels(session.Engine->Chip, chipMode, VolumeSteps, VolumeSteps);
    if (!OpenSong(session, file)) throw std::runtime_error("refused: " + file);
    SongStream stream(session);
    stream.Start(song);
    return stream.Take(frames);
}
