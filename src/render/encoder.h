// Compressed outputs of a rendering: FLAC, Ogg Vorbis, Ogg Opus and MP3,
// written through Debian's libsndfile with the song's tags, next to the
// plain WAV that render.cpp writes itself (and that pipes and devices get).
//
//     Encoder encoder(output, OutputFormat::Flac, TagsOf(session, song));
//     encoder.Write(values, frames);   // 16-bit stereo at 44,100 Hz, as rendered
//     encoder.Finish();                // flushes and closes the stream's encoding
//
// FLAC holds the rendered samples exactly. Opus takes 48,000 Hz only: the
// sound is resampled with libsoxr on the way in. The output must be a regular
// file (the encoders seek back to finish their headers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class OutputFormat : uint8_t { Wav, Flac, Vorbis, Opus, Mp3 };

// "wav", "flac", "ogg", "opus", "mp3" (any letter case): what --format takes.
std::optional<OutputFormat> OutputFormatByName(std::string_view name);
// The format a file name's extension asks for (".wav", ".flac", ".ogg",
// ".opus", ".mp3"); nothing for any other name.
std::optional<OutputFormat> OutputFormatOfPath(std::string_view path);
// The extension of the format's files, with its dot.
const char* OutputExtension(OutputFormat format);

// What an output's tags say of a song. Texts as the song file holds them
// (UTF-8, or a single-byte code page, taken as Latin-1).
struct SongTags {
    std::string Title, Artist, Album, Comment;
    int Track = 0, TrackCount = 0; // 1-based; 0: none
};

class Encoder {
  public:
    // Starts the format's stream on `output` (not WAV). Throws SongIOError.
    Encoder(std::FILE* output, OutputFormat format, const SongTags& tags);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // `frames` stereo frames of 16-bit values. Throws SongIOError.
    void Write(const int16_t* values, uint64_t frames);
    // Ends the stream (the resampler's tail, the headers). Throws SongIOError.
    void Finish();

  private:
    struct Stream;
    std::unique_ptr<Stream> State;
};
