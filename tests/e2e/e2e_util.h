// Helpers of the end-to-end tests: recording the bed's null sink, rendering the
// same song with zirrafon-render, and comparing the two sample for sample.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

constexpr int Rate = 44100;
constexpr int ValuesPerSecond = 2 * Rate;

// The sink the bed records from, or empty when the bed is not there.
QString BedSink();
// Fails the calling test when the bed's environment is missing: a test that
// cannot get its bed has not shown anything.
#define E2E_REQUIRE_BED()                                                                          \
    do {                                                                                           \
        if (::e2e::BedSink().isEmpty())                                                            \
            GTEST_FAIL() << "the end-to-end bed is not running (source scripts/e2e-bed)";          \
    } while (0)

QString DemoFile(const char* name); // assets/demo/NAME

// A user session of the test's own in a temporary folder: runtime,
// configuration and data folders (private to the user, as the system makes
// them) and the player's trace file, so no stored options, no other player
// to hand over to and nothing of the user's.
class UserSession {
  public:
    UserSession();
    QString Path(const QString& name) const { return root_.filePath(name); }
    // The environment that points a program at them (the real platform, not
    // the offscreen one of the widget tests).
    QProcessEnvironment Environment() const;

  private:
    QTemporaryDir root_;
};
QString BinaryPath(const char* name);

// Records the sink's monitor into memory while alive.
class Recording {
  public:
    Recording();
    ~Recording();
    // Starts parec on `sink` of the server `environment` reaches (the bed's
    // by default) and waits until the monitor delivers data.
    bool Start(std::string& error,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
               const QString& sink = BedSink());
    // Stops parec and returns the 16-bit values recorded.
    std::vector<int16_t> Stop();

  private:
    QProcess parec_;
    QString file_;
};

// Renders song `song` (counted from 1) of `file` for `seconds` without fade;
// with `seconds` 0, for the length and fade the file gives it. `options` go
// to zirrafon-render before the file.
std::vector<int16_t> Render(const QString& file, int song, double seconds, std::string& error,
                            const QStringList& options = {});

std::optional<size_t> FirstNonZero(const std::vector<int16_t>& v, size_t from = 0);
std::optional<size_t> LastNonZero(const std::vector<int16_t>& v);

// Where the first silence at or after `from` begins: `length` zeros (10 ms
// unless told), or zeros to the end.
std::optional<size_t> SilenceStart(const std::vector<int16_t>& v, size_t from,
                                   size_t length = 2 * 441);
// The largest magnitude among the `values` values before `at`.
int PeakBefore(const std::vector<int16_t>& v, size_t at, size_t values);

// Compares `count` values of the recording with the rendering after aligning
// the first nonzero value of each. Empty on success, else what differed.
// Values may differ only in the sound device's level ramps: up to 5 ms before
// a silence (pause, stop) and after a pause, each scaled toward zero.
// The recording must hold `pauses` runs of silence where the rendering has
// none, each skipped: the comparison resumes where the song goes on after it.
// `gapValues` gets their length in all.
std::string CompareAligned(const std::vector<int16_t>& recorded,
                           const std::vector<int16_t>& rendered, size_t count, int pauses = 0,
                           size_t* gapValues = nullptr);

// A second, short-lived sound server with one null sink (`Sink`, kept busy by
// a silent stream as the bed's is), for tests that must take a server away
// (the bed's own server stays for the other tests). Started again after a
// kill, it listens on the same socket, as a restarted server does.
class PrivateSoundServer {
  public:
    static constexpr const char* Sink = "zirrafon_private";
    ~PrivateSoundServer();
    bool Start(std::string& error);
    void Kill();
    QString Server() const { return server_; } // value for PULSE_SERVER
    QProcessEnvironment Environment() const;   // the environment that reaches it

  private:
    QString dir_;
    QString server_;
    bool running_ = false;
    QProcess keepAlive_;
};

// Registers the tests that run only in a child process started by another test.
void RegisterChildTests();

} // namespace e2e
