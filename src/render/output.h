// Where rendered WAV files go (zirrafon-render, the player's export), so that
// a song that fails or is cancelled never costs the user a file. A regular
// file (or a name not yet taken) is written to a temporary file in the same
// folder and put in the target's place only when the song rendered
// completely; a device, a FIFO or standard output is written directly and
// never created, truncated, removed or replaced.
#pragma once

#include <cstdio>
#include <string>

// For a command-line run; call once at start, before any thread: ignores
// SIGPIPE and SIGXFSZ (a write that fails then reports it and the temporary
// file is removed, instead of the process dying with it left behind), and
// turns SIGINT, SIGTERM and SIGHUP into a stop request. Outputs work without
// it (the player's export never calls it).
void PrepareOutputs();

// The signal that asked the run to stop, or 0. Work in progress polls it and
// gives up; its temporary files go the way of any failure.
int StopSignal();
// Blocked writes (to a FIFO, a pipe) return EINTR once a stop was asked: the
// handler is installed without SA_RESTART. This wakes a thread that may be
// waiting in one.
void NudgeThread(unsigned long thread);
// Ends the process the way the stop signal would have, once the work is
// cleaned up (so that a shell sees the usual status).
[[noreturn]] void DieOfStopSignal();

class OutputFile {
  public:
    // Opens `path` ("-": standard output). Throws SongIOError naming the path.
    explicit OutputFile(const std::string& path);
    // Without `Commit`: closes, and removes the temporary file; the target
    // stays as it was.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* Stream() const { return Handle; }
    const std::string& Path() const { return GivenPath; }
    // A write to it failed.
    bool Failed() const { return Handle && std::ferror(Handle); }
    // The output is complete: flushes and closes it and moves a temporary
    // file over the target. Throws SongIOError naming the path.
    void Commit();

  private:
    std::string GivenPath; // as given, for messages
    std::string Target;    // the file a temporary file replaces
    std::string Temp;      // empty when written directly
    std::FILE* Handle = nullptr;
};
