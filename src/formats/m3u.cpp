// Playlist files: reading and writing (see m3u.h).
#include "formats/m3u.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::string_view CurrentTag = "#ZIRRAFON-CURRENT:";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        char p = prefix[i];
        if (p >= 'A' && p <= 'Z') p = static_cast<char>(p - 'A' + 'a');
        if (c != p) return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%41" → "A"; a "%" not followed by two hex digits stays as it is.
std::string PercentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// "scheme://" with a scheme of letters, digits, "+", "-", ".".
bool HasScheme(std::string_view s) {
    const size_t colon = s.find("://");
    if (colon == std::string_view::npos || colon == 0) return false;
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(s[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        const char c = s[i];
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

// A file:// URI's path: "file:///a%20b" and "file://localhost/a b" give
// "/a b"; another host gives nothing usable, so the URI stays as it is.
std::string FileUriPath(std::string_view uri) {
    std::string_view rest = uri.substr(7); // after "file://"
    if (StartsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
    if (rest.empty() || rest.front() != '/') return std::string(uri);
    // A query or fragment is not part of a file's name.
    if (const size_t end = rest.find_first_of("?#"); end != std::string_view::npos)
        rest = rest.substr(0, end);
    return PercentDecoded(rest);
}

// "#EXTINF:123,Title" or "#EXTINF:-1 key="value",Title".
void ReadExtInf(std::string_view info, M3UEntry& pending) {
    info = Trimmed(info);
    int seconds = -1;
    const char* first = info.data();
    const char* last = info.data() + info.size();
    double value = 0;
    if (const auto [end, ec] = std::from_chars(first, last, value); ec == std::errc()) {
        if (std::isfinite(value) && value >= 0 && value < 1e9)
            seconds = static_cast<int>(std::lround(value));
    }
    pending.Seconds = seconds;
    const size_t comma = info.find(',');
    pending.Title = comma == std::string_view::npos ? std::string()
                                                    : std::string(Trimmed(info.substr(comma + 1)));
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

std::string FileUri(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c)) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// A title on one line.
std::string OneLine(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

} // namespace

bool IsUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        int more = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= bytes.size()) return false;
        for (int k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(bytes[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        static constexpr uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

std::string NormalPath(const std::string& path) {
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> parts;
    std::string_view rest = path;
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
            continue;
        }
        if (part == ".." && absolute) continue; // "/.." is "/"
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out.empty() ? "." : out;
}

M3UList ReadM3U(std::string_view text, const std::string& listFolder) {
    M3UList list;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    M3UEntry pending;
    bool firstLine = true;
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        std::string_view raw = text.substr(0, end);
        if (end == std::string_view::npos) {
            text = {};
        } else {
            // CRLF, LF and a lone CR all end a line.
            if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
            text.remove_prefix(end + 1);
        }
        const std::string line =
            IsUtf8(raw) ? std::string(Trimmed(raw)) : Latin1ToUtf8(Trimmed(raw));
        const bool wasFirst = firstLine;
        firstLine = false;
        if (line.empty()) continue;
        if (line.front() == '#') {
            if (wasFirst && StartsWithNoCase(line, "#EXTM3U")) {
                list.HasHeader = true;
            } else if (StartsWithNoCase(line, "#EXTINF:")) {
                ReadExtInf(std::string_view(line).substr(8), pending);
            } else if (StartsWithNoCase(line, CurrentTag)) {
                const std::string_view v = std::string_view(line).substr(CurrentTag.size());
                int entry = -1, song = 0;
                const auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), entry);
                if (ec == std::errc() && p < v.data() + v.size() && *p == ',') {
                    const auto [q, ec2] = std::from_chars(p + 1, v.data() + v.size(), song);
                    if (ec2 == std::errc() && entry >= 0 && song >= 0) {
                        list.CurrentEntry = entry;
                        list.CurrentSong = song;
                    }
                }
            }
            continue;
        }
        M3UEntry entry = std::move(pending);
        pending = M3UEntry{};
        if (StartsWithNoCase(line, "file://"))
            entry.Path = FileUriPath(line);
        else if (HasScheme(line) || line.front() == '/')
            entry.Path = line;
        else
            entry.Path = listFolder + "/" + line;
        if (!entry.Path.empty() && entry.Path.front() == '/') entry.Path = NormalPath(entry.Path);
        list.Entries.push_back(std::move(entry));
    }
    if (list.CurrentEntry >= static_cast<int>(list.Entries.size())) {
        list.CurrentEntry = -1;
        list.CurrentSong = 0;
    }
    return list;
}

std::string WriteM3U(const M3UList& list, const std::string& listFolder) {
    std::string out = "#EXTM3U\n";
    if (list.CurrentEntry >= 0)
        out += std::string(CurrentTag) + std::to_string(list.CurrentEntry) + "," +
               std::to_string(list.CurrentSong) + "\n";
    const std::string folder = NormalPath(listFolder);
    const std::string prefix = folder == "/" ? folder : folder + "/";
    for (const M3UEntry& e : list.Entries) {
        out += "#EXTINF:" + std::to_string(e.Seconds < 0 ? -1 : e.Seconds) + "," +
               OneLine(e.Title) + "\n";
        std::string path = e.Path;
        if (!path.empty() && path.front() == '/' && path.size() > prefix.size() &&
            path.compare(0, prefix.size(), prefix) == 0)
            path = path.substr(prefix.size());
        const bool plain = !path.empty() && path.find_first_of("\r\n") == std::string::npos &&
                           path.front() != '#' && path.front() != ' ' && path.front() != '\t' &&
                           path.back() != ' ' && path.back() != '\t' && IsUtf8(path) &&
                           !HasScheme(path);
        // A URI of another scheme is written as it was read.
        const bool uri = HasScheme(e.Path) && e.Path.find_first_of("\r\n") == std::string::npos &&
                         e.Path.front() != '#';
        out += uri ? e.Path : plain ? path : FileUri(e.Path);
        out += '\n';
    }
    return out;
}
