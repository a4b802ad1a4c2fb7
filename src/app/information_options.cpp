// The answers to --help and --version (see information_options.h).
#include "app/information_options.h"

#include <cstdio>

namespace {

constexpr const char* HelpText =
    "Usage: zirrafon [OPTION]... [FILE]\n"
    "Plays .ay and .aym chip music files, .ym, .vtx and .psg register streams and\n"
    ".pt3 and .pt2 tracker modules. Only one player runs per session: a later\n"
    "start hands its options and files to the running player and ends.\n"
    "\n"
    "  /hNAME     chip and channel layout: AYMONO YMMONO AYABC YMABC AYACB YMACB\n"
    "             AYBAC YMBAC AYBCA YMBCA AYCAB YMCAB AYCBA YMCBA\n"
    "  /uLEVEL    beeper level 0..32768\n"
    "  /rn, /rh   normal or high process priority\n"
    "  /pPATH     skin bitmap (empty: the built-in skin)\n"
    "  -e, --enqueue PATH...  add the files, folders and playlists that follow\n"
    "             to the playlist (the first one plays when nothing is playing)\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "The last existing FILE plays (a .m3u or .m3u8 FILE replaces the playlist\n"
    "and plays it). Options saved in the Parameters dialog are\n"
    "applied before the command line.\n"
    "\n"
    "Keys: Z previous, X play, C next, V pause, B stop, L open, Up/Down volume,\n"
    "F1 about, Ctrl+P parameters, P playlist (the numeric pad works too; the letters act\n"
    "by their place on the keyboard under any layout).\n";

constexpr const char* VersionText = "zirrafon (Zirrafon) 1.0\n";

} // namespace

std::optional<int> AnswerInformationOptions(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        const char* text = argument == QLatin1String("--help")      ? HelpText
                           : argument == QLatin1String("--version") ? VersionText
                                                                    : nullptr;
        if (text == nullptr) continue;
        std::fputs(text, stdout);
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    return std::nullopt;
}
