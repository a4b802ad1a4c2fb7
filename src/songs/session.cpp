// The song session (see session.h): the one place where a song file is opened
// by its kind, a song is loaded and started, and buffers are filled.
#include "songs/session.h"

#include "songs/silence.h"
#include "songs/tracker_engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <utility>

const char* const ChipModeNames[ChipModeCount] = {
    "AYMONO", "YMMONO", "AYABC", "YMABC", "AYACB", "YMACB", "AYBAC",
    "YMBAC",  "AYBCA",  "YMBCA", "AYCAB", "YMCAB", "AYCBA", "YMCBA",
};

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

} // namespace

int ChipModeByName(std::string_view name) {
    for (int i = 0; i < ChipModeCount; ++i) {
        const std::string_view candidate = ChipModeNames[i];
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (size_t k = 0; k < name.size() && same; ++k)
            same = Lower(name[k]) == Lower(candidate[k]);
        if (same) return i;
    }
    return -1;
}

std::string SongFileExtension(std::string_view fileName) {
    const size_t slash = fileName.rfind('/');
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    std::string_view ext = fileName.substr(dot);
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!ext.empty() && blank(ext.front())) ext.remove_prefix(1);
    while (!ext.empty() && blank(ext.back())) ext.remove_suffix(1);
    std::string lower(ext);
    for (char& c : lower) c = Lower(c);
    return lower;
}

SongKind SongKindByExtension(std::string_view fileName) {
    const std::string ext = SongFileExtension(fileName);
    if (ext == ".ay") return SongKind::AY;
    if (ext == ".aym") return SongKind::AYM;
    if (ext == ".ym") return SongKind::YM;
    if (ext == ".vtx") return SongKind::VTX;
    if (ext == ".psg") return SongKind::PSG;
    if (ext == ".pt3") return SongKind::PT3;
    if (ext == ".pt2") return SongKind::PT2;
    return SongKind::Unknown;
}

SongKind KindOfContent(const uint8_t* head, size_t size) {
    const auto is = [&](size_t at, const char* id) {
        const size_t n = std::strlen(id);
        return size >= at + n && std::memcmp(head + at, id, n) == 0;
    };
    if (LooksLikePT3({head, size})) return SongKind::PT3;
    if (is(0, "ZXAY")) return SongKind::AY;
    if (is(0, "AYM")) return SongKind::AYM;
    if (is(0, "PSG\x1A")) return SongKind::PSG;
    if (is(0, "YM")) return SongKind::YM;
    if (size >= 4 && is(2, "-l")) return SongKind::YM; // an LHA archive
    if (is(0, "ay") || is(0, "ym")) return SongKind::VTX;
    return SongKind::Unknown;
}

SongKind KindOfFile(const std::string& fileName) {
    if (const SongKind kind = SongKindByExtension(fileName); kind != SongKind::Unknown) return kind;
    SongFileHandle file;
    try {
        file.Open(fileName);
    } catch (const SongIOError&) {
        return SongKind::AY; // let the reader report the file-system error
    }
    uint8_t head[17]{};
    return KindOfContent(head, file.ReadUpTo(0, head, sizeof head));
}

void ApplyChipSettings(ChipState& chip, const ChipSettings& settings) {
    chip.Mix.BeeperSetting = settings.BeeperSetting;
    SetChipAndChannels(chip, settings.Mode, settings.Volume, VolumeSteps);
}

SongTiming TimingOfSeconds(double seconds, double fadeSeconds) {
    SongTiming t;
    t.Frames = static_cast<uint64_t>(std::llround(seconds * OutputRate));
    t.FadeFrames =
        std::min(static_cast<uint64_t>(std::llround(fadeSeconds * OutputRate)), t.Frames);
    return t;
}

void ApplyFade(int16_t* values, uint64_t frames, uint64_t first, const SongTiming& timing) {
    if (timing.FadeFrames == 0) return;
    const uint64_t fadeStart = timing.Frames - timing.FadeFrames;
    const auto fade = static_cast<int64_t>(timing.FadeFrames);
    for (uint64_t f = fadeStart > first ? fadeStart - first : 0; f < frames; ++f) {
        const auto left = static_cast<int64_t>(timing.Frames - (first + f));
        for (int side = 0; side < 2; ++side) {
            int16_t& v = values[2 * f + side];
            v = static_cast<int16_t>(static_cast<int64_t>(v) * left / fade);
        }
    }
}

SongSession::SongSession() : Engine(std::make_unique<SoundEngine>()) {}
SongSession::~SongSession() = default;

bool SongSession::Open(const std::string& fileName, SongKind kind,
                       const FormatErrorSink& formatError) {
    if (kind != SongKind::Unknown) List.Stream.reset();
    switch (kind) {
    case SongKind::AY: List.Kind = kind; return OpenAYFile(List, fileName, formatError);
    case SongKind::AYM: List.Kind = kind; return OpenAYMFile(List, fileName, formatError, *Engine);
    case SongKind::YM: return OpenStreamFile(List, fileName, StreamFormat::YM, formatError);
    case SongKind::VTX: return OpenStreamFile(List, fileName, StreamFormat::VTX, formatError);
    case SongKind::PSG: return OpenStreamFile(List, fileName, StreamFormat::PSG, formatError);
    case SongKind::PT3:
    case SongKind::PT2: {
        const TrackerFormat format =
            kind == SongKind::PT3 ? TrackerFormat::PT3 : TrackerFormat::PT2;
        return OpenStreamFile(
            List, fileName, kind,
            [format](std::span<const uint8_t> bytes, std::string& refusal) {
                return ModuleFileStream(format, bytes, refusal);
            },
            formatError);
    }
    case SongKind::Unknown: break;
    }
    return false;
}

bool SongSession::OpenForList(const std::string& fileName, SongKind kind,
                              const FormatErrorSink& formatError) {
    static constexpr std::pair<SongKind, StreamFormat> streams[] = {
        {SongKind::YM, StreamFormat::YM},
        {SongKind::VTX, StreamFormat::VTX},
        {SongKind::PSG, StreamFormat::PSG}};
    for (const auto& [streamKind, format] : streams)
        if (kind == streamKind) {
            List.Stream.reset();
            return OpenStreamFile(List, fileName, format, formatError, StreamDetail::ListOnly);
        }
    return Open(fileName, kind, formatError);
}

void SongSession::Close() {
    if (!List.FileOpen) return;
    List.SongFile.Close();
    List.FileOpen = false;
}

void LoadSongOn(SongList& list, SoundEngine& engine, int index) {
    if (list.Kind == SongKind::AY)
        LoadAYSong(list, engine, index);
    else if (list.Kind == SongKind::AYM)
        LoadAYMSong(list, engine, index);
    // a register stream needs no machine
}

void StartSongOn(SongList& list, SoundEngine& engine, int index, int16_t* firstBuffer) {
    LoadSongOn(list, engine, index);
    ::StartPlayback(engine, firstBuffer);
}

void SongSession::LoadSong(int index) { LoadSongOn(List, *Engine, index); }

void SongSession::StartPlayback(int16_t* firstBuffer) {
    if (List.Stream && List.Stream->Registers.empty())
        throw std::logic_error("a register stream opened for its song list only");
    if (List.Stream)
        Streamer.Start(*Engine, *List.Stream, firstBuffer);
    else
        ::StartPlayback(*Engine, firstBuffer);
}

uint32_t SongSession::FillBuffer(int16_t* buffer) { return FillBuffer(buffer, nullptr); }

uint32_t SongSession::FillBuffer(int16_t* buffer, FrameEndObserver* observer) {
    Engine->Chip.Cursor.OutputBuffer = buffer;
    if (List.Stream)
        Streamer.FillBuffer(*Engine, observer);
    else if (observer)
        MakeBuffer(*Engine, *observer);
    else
        MakeBuffer(*Engine);
    return Engine->Chip.Cursor.OutputCount;
}

int SongSession::StartingSong() const {
    return List.FirstSong < List.SongCount ? List.FirstSong : 0;
}

const std::string& SongSession::SongTitle(int index) const {
    if (List.Kind == SongKind::AY) return List.SongNames.at(static_cast<size_t>(index));
    return List.SongNameText;
}

uint32_t SongSession::SongFrames(int index) const {
    if (List.Stream) return static_cast<uint32_t>(std::lround(List.Stream->Seconds() * 50));
    if (List.Kind != SongKind::AY) return 0;
    return List.Songs.at(static_cast<size_t>(index)).SongLength;
}

uint32_t SongSession::FadeFrames(int index) const {
    if (List.Kind != SongKind::AY) return 0;
    return List.Songs.at(static_cast<size_t>(index)).FadeLength;
}

double SongSession::SongSeconds(int index) const {
    if (List.Stream) return List.Stream->Seconds();
    return SongFrames(index) / 50.0;
}

SongTiming SongSession::FileTiming(int index) const {
    if (SongFrames(index) == 0) return {};
    return TimingOfSeconds(SongSeconds(index), FadeSeconds(index));
}

uint64_t SongSession::SilenceLimit(int index, double seconds) const {
    return SongFrames(index) != 0 ? 0 : SilenceFrames(seconds);
}

SongTiming SongSession::RenderTiming(int index, std::optional<double> seconds,
                                     std::optional<double> fadeSeconds) const {
    const bool given = SongFrames(index) != 0;
    return TimingOfSeconds(seconds ? *seconds
                           : given ? SongSeconds(index)
                                   : DefaultSongSeconds,
                           fadeSeconds ? *fadeSeconds
                           : given     ? FadeSeconds(index)
                                       : 0);
}

const char* SongSession::MachineName() const {
    if (List.Stream) {
        static const char* const formats[] = {"ym", "vtx", "psg", "pt3", "pt2"};
        return formats[static_cast<int>(List.Stream->Format)];
    }
    const OutHandlerFn handler = Engine->Chip.Machine.OutHandler;
    return handler == &OutSpectrum ? "spectrum" : handler == &OutCpc ? "cpc" : "none";
}

std::unique_ptr<SongSession> OpenSongFile(const std::string& fileName) {
    auto session = std::make_unique<SongSession>();
    const SongKind kind = KindOfFile(fileName);
    std::string refusal =
        kind == SongKind::Unknown ? "Not an .ay, .aym, .ym, .vtx, .psg, .pt3 or .pt2 file" : "";
    const FormatErrorSink sink = [&refusal](const std::string& text) { refusal = text; };
    if (!session->Open(fileName, kind, sink)) throw std::runtime_error(refusal);
    return session;
}
