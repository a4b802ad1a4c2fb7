// zirrafon-render --info (see info.h).
#include "info.h"

#include "songs/session.h"

#include <cctype>
#include <cstdio>
#include <exception>

namespace {

// JSON text of the file's bytes: UTF-8 passes through; bytes of any other code
// page are taken as Latin-1, so the output always parses.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : SongTextUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

const char* KindName(SongKind kind) {
    switch (kind) {
    case SongKind::AYM: return "aym";
    case SongKind::YM: return "ym";
    case SongKind::VTX: return "vtx";
    case SongKind::PSG: return "psg";
    case SongKind::PT3: return "pt3";
    case SongKind::PT2: return "pt2";
    default: return "ay";
    }
}

// Which tracker made a module, as --info names it.
std::string TrackerName(const RegisterStream& s) {
    if (s.Format == StreamFormat::PT2) return "Pro Tracker 2";
    return s.Module->Vortex ? "Vortex Tracker II" : "Pro Tracker " + s.Version;
}

// What --info says of a module that makes its player read outside its bytes.
constexpr const char* ReadPastNote =
    "the module makes its player read bytes outside it, which play as zeros here";

// A tracker module's header and the stream it plays, as JSON members that
// follow others.
std::string ModuleJson(const RegisterStream& s) {
    const TrackerModule& m = *s.Module;
    const bool pt3 = m.Format == TrackerFormat::PT3;
    return ", \"tracker\": " + JsonString(m.Vortex ? "Vortex Tracker II" : "Pro Tracker") +
           ", \"version\": " + JsonString(s.Version) +
           ", \"noteTable\": " + (pt3 ? std::to_string(m.NoteTable) : std::string("null")) +
           ", \"tempo\": " + std::to_string(m.Tempo) +
           ", \"positions\": " + std::to_string(m.Positions.size()) +
           ", \"loopPosition\": " + std::to_string(m.LoopPosition) +
           ", \"patterns\": " + std::to_string(m.PatternCount) +
           ", \"chips\": " + std::to_string(m.Chips) +
           ", \"frameCount\": " + std::to_string(s.FrameCount) +
           ", \"frameRate\": " + std::to_string(s.FrameRate) +
           ", \"clock\": " + std::to_string(s.ChipClock) +
           ", \"loopFrame\": " + std::to_string(s.LoopFrame) +
           ", \"readsOutsideModule\": " + (s.ReadPastModule ? "true" : "false") +
           (s.ReadPastModule ? ", \"note\": " + JsonString(ReadPastNote) : std::string());
}

// A register stream's header, as JSON members that follow others.
std::string StreamJson(const RegisterStream* s) {
    if (!s) return {};
    if (s->Module) return ModuleJson(*s);
    std::string out = ", \"version\": " + JsonString(s->Version) +
                      ", \"packed\": " + (s->Packed ? "true" : "false") +
                      ", \"interleaved\": " + (s->Interleaved ? "true" : "false") +
                      ", \"frameCount\": " + std::to_string(s->FrameCount) +
                      ", \"frameRate\": " + std::to_string(s->FrameRate) +
                      ", \"clock\": " + std::to_string(s->ChipClock) +
                      ", \"loopFrame\": " + std::to_string(s->LoopFrame) +
                      ", \"comment\": " + JsonString(s->Comment) +
                      ", \"digidrums\": " + std::to_string(s->Digidrums.size());
    if (!s->Warning.empty()) out += ", \"warning\": " + JsonString(s->Warning);
    if (s->Format == StreamFormat::VTX)
        out += ", \"chip\": " + JsonString(s->DeclaredChip) +
               ", \"layout\": " + JsonString(s->DeclaredLayout) +
               ", \"year\": " + std::to_string(s->Year) +
               ", \"program\": " + JsonString(s->Program) +
               ", \"tracker\": " + JsonString(s->Tracker);
    return out;
}

void PrintInfo(const SongSession& file, const std::string& fileName) {
    const SongList& list = file.List;
    std::string type = KindName(file.Kind());
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::printf("File: %s\nType: %s\n", fileName.c_str(), type.c_str());
    if (file.Kind() != SongKind::AY) std::printf("Name: %s\n", list.SongNameText.c_str());
    std::printf("Author: %s\n", list.AuthorText.c_str());
    if (file.Kind() != SongKind::AYM) std::printf("Misc: %s\n", list.MiscText.c_str());
    if (const RegisterStream* s = list.Stream.get(); s && s->Module) {
        const TrackerModule& m = *s->Module;
        std::printf("Version: %s\n", TrackerName(*s).c_str());
        if (m.Format == TrackerFormat::PT3) std::printf("Note table: %u\n", m.NoteTable);
        std::printf("Tempo: %u\nPositions: %zu, loop from %u\nPatterns: %d\nChips: %d\n", m.Tempo,
                    m.Positions.size(), unsigned{m.LoopPosition}, m.PatternCount, m.Chips);
        std::printf("Frames: %u at %u Hz, loop from %u\nClock: %u Hz\n", s->FrameCount,
                    s->FrameRate, s->LoopFrame, s->ChipClock);
        if (s->ReadPastModule) std::printf("Note: %s\n", ReadPastNote);
    } else if (const RegisterStream* s = list.Stream.get()) {
        std::printf("Version: %s%s\nFrames: %u at %u Hz, loop from %u\nClock: %u Hz\n",
                    s->Version.c_str(), s->Packed ? " (packed)" : "", s->FrameCount, s->FrameRate,
                    s->LoopFrame, s->ChipClock);
        if (s->Format == StreamFormat::VTX)
            std::printf("Chip: %s %s, year %u\nProgram: %s\nTracker: %s\n", s->DeclaredChip.c_str(),
                        s->DeclaredLayout.c_str(), s->Year, s->Program.c_str(), s->Tracker.c_str());
        if (!s->Digidrums.empty()) std::printf("Digidrums: %zu\n", s->Digidrums.size());
        if (!s->Warning.empty()) std::printf("Warning: %s\n", s->Warning.c_str());
    }
    std::printf("Songs: %d, first %d\n", list.SongCount, list.FirstSong + 1);
    for (int i = 0; i < list.SongCount; ++i) {
        std::printf("%4d  %s", i + 1, file.SongTitle(i).c_str());
        const double length = file.SongSeconds(i), fade = file.FadeSeconds(i);
        if (length > 0 || fade > 0) std::printf("  [length %.2f s, fade %.2f s]", length, fade);
        std::printf("\n");
    }
}

std::string JsonInfo(const SongSession& file, const std::string& fileName) {
    const SongList& list = file.List;
    std::string out = "{\"file\": " + JsonString(fileName) + ", \"type\": \"" +
                      KindName(file.Kind()) + "\", \"title\": " + JsonString(list.SongNameText) +
                      ", \"author\": " + JsonString(list.AuthorText) +
                      ", \"misc\": " + JsonString(list.MiscText) + StreamJson(list.Stream.get()) +
                      ", \"songCount\": " + std::to_string(list.SongCount) +
                      ", \"firstSong\": " + std::to_string(list.FirstSong + 1) + ", \"songs\": [";
    for (int i = 0; i < list.SongCount; ++i) {
        char numbers[96];
        std::snprintf(numbers, sizeof numbers, ", \"length\": %.2f, \"fade\": %.2f}",
                      file.SongSeconds(i), file.FadeSeconds(i));
        out += (i ? ", " : "") + std::string("{\"number\": ") + std::to_string(i + 1) +
               ", \"name\": " + JsonString(file.SongTitle(i)) + numbers;
    }
    return out + "]}";
}

} // namespace

int PrintSongLists(const std::vector<std::string>& files, bool json) {
    int status = 0;
    std::vector<std::string> objects;
    for (const std::string& name : files) {
        try {
            const auto file = OpenSongFile(name);
            if (json)
                objects.push_back(JsonInfo(*file, name));
            else
                PrintInfo(*file, name);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zirrafon-render: %s: %s\n", name.c_str(), e.what());
            status = 1;
            if (json)
                objects.push_back("{\"file\": " + JsonString(name) +
                                  ", \"error\": " + JsonString(e.what()) + "}");
        }
    }
    if (json) {
        std::printf("[");
        for (size_t i = 0; i < objects.size(); ++i)
            std::printf("%s\n%s", i ? "," : "", objects[i].c_str());
        std::printf("\n]\n");
    }
    return status;
}
