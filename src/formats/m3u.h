// Playlist files (.m3u, .m3u8): the list of song files a collection is kept
// as, read leniently and written as extended M3U8. Paths are bytes as the
// file system takes them (UTF-8 on the systems we run on). No Qt here, so the
// reader can be fuzzed with the song readers.
//
//     M3UList list = ReadM3U(text, "/music/lists");   // absolute paths, in order
//     std::string out = WriteM3U(list, "/music/lists"); // relative where they sit below
//
// Reading takes what players and file managers write: an optional "#EXTM3U"
// header, "#EXTINF:seconds,title" lines for the entry that follows, other
// "#" lines as comments, blank lines, CRLF or LF line ends, a UTF-8 byte
// order mark, paths relative to the list's folder, and file:// URIs with
// percent escapes. A line that is not valid UTF-8 is taken as Latin-1 (the
// old ".m3u" lists of Windows players) and converted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct M3UEntry {
    std::string Path;  // absolute (or a URI of another scheme, as written)
    int Seconds = -1;  // from "#EXTINF"; -1 when unknown
    std::string Title; // from "#EXTINF"; may be empty
};

struct M3UList {
    std::vector<M3UEntry> Entries;
    bool HasHeader = false; // the first line was "#EXTM3U"
    // Where playback was when the player saved the list: the entry's index and
    // its song (our own "#ZIRRAFON-CURRENT:entry,song" line); -1 when absent.
    int CurrentEntry = -1;
    int CurrentSong = 0;
};

// Reads the text of a playlist file that sits in folder `listFolder`.
M3UList ReadM3U(std::string_view text, const std::string& listFolder);
// The text of an M3U8 file in folder `listFolder`: "#EXTM3U", the current
// position when there is one, then "#EXTINF:seconds,title" and the path of
// each entry, relative when the file sits below the folder. A path that a
// line cannot carry as it is (a line end in it, a leading "#" or blank) is
// written as a file:// URI.
std::string WriteM3U(const M3UList& list, const std::string& listFolder);

// `path` without "." and "dir/.." steps and doubled slashes (no file system
// look-up: a link is not followed).
std::string NormalPath(const std::string& path);
// True for a syntactically valid UTF-8 sequence.
bool IsUtf8(std::string_view bytes);
