// zirrafon-render --info (see info.h).
#include "info.h"

#include "songs/session.h"

#include <cstdio>
#include <exception>

namespace {

// JSON text of the file's bytes: UTF-8 passes through; bytes of any other code
// page are taken as Latin-1, so the output always parses.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t len = c < 0x80             ? 1
                     : (c & 0xE0) == 0xC0 ? 2
                     : (c & 0xF0) == 0xE0 ? 3
                     : (c & 0xF8) == 0xF0 ? 4
                                          : 0;
        bool valid = len > 1 && i + len <= n && c >= 0xC2 && c <= 0xF4;
        for (size_t k = 1; valid && k < len; ++k) valid = (s[i + k] & 0xC0) == 0x80;
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
        } else if (valid) {
            out.append(text, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out + "\"";
}

const char* KindName(SongKind kind) { return kind == SongKind::AYM ? "aym" : "ay"; }

void PrintInfo(const SongSession& file, const std::string& fileName) {
    const SongList& list = file.List;
    std::printf("File: %s\nType: %s\n", fileName.c_str(),
                file.Kind() == SongKind::AYM ? "AYM" : "AY");
    if (file.Kind() == SongKind::AYM) std::printf("Name: %s\n", list.SongNameText.c_str());
    std::printf("Author: %s\n", list.AuthorText.c_str());
    if (file.Kind() == SongKind::AY) std::printf("Misc: %s\n", list.MiscText.c_str());
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
                      ", \"misc\": " + JsonString(list.MiscText) +
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
