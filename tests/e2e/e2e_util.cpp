// Recording, rendering and comparing for the end-to-end tests.
#include "e2e_util.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace e2e {

QString BedSink() {
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) return QString();
    return qEnvironmentVariable("ZIRRAFON_E2E_SINK");
}

QString DemoFile(const char* name) {
    return QStringLiteral(ZIRRAFON_SOURCE_DIR "/assets/demo/") + QString::fromLatin1(name);
}

QString BinaryPath(const char* name) {
    return QStringLiteral(ZIRRAFON_BINARY_DIR "/") + QString::fromLatin1(name);
}

namespace {

std::vector<int16_t> Values(const QByteArray& bytes) {
    std::vector<int16_t> v(static_cast<size_t>(bytes.size()) / 2);
    std::memcpy(v.data(), bytes.constData(), v.size() * 2);
    return v;
}

// The "data" chunk of a RIFF/WAVE file.
std::optional<QByteArray> WavData(const QByteArray& wav) {
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") return std::nullopt;
    qsizetype pos = 12;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        uint32_t size;
        std::memcpy(&size, wav.constData() + pos + 4, 4);
        if (id == "data") return wav.mid(pos + 8, size);
        pos += 8 + size + (size & 1);
    }
    return std::nullopt;
}

} // namespace

Recording::Recording() = default;

Recording::~Recording() {
    if (parec_.state() != QProcess::NotRunning) Stop();
}

bool Recording::Start(std::string& error, const QProcessEnvironment& environment,
                      const QString& sink) {
    QTemporaryFile tmp(QDir::tempPath() + QStringLiteral("/zirrafon-e2e-rec-XXXXXX.raw"));
    tmp.setAutoRemove(false);
    if (!tmp.open()) {
        error = "cannot make a temporary file";
        return false;
    }
    file_ = QFileInfo(tmp).absoluteFilePath();
    tmp.close();
    parec_.setStandardOutputFile(file_);
    parec_.setProcessEnvironment(environment);
    parec_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    parec_.start(QStringLiteral("parec"),
                 {QStringLiteral("--device=%1.monitor").arg(sink), QStringLiteral("--format=s16le"),
                  QStringLiteral("--rate=44100"), QStringLiteral("--channels=2"),
                  QStringLiteral("--latency-msec=20")});
    if (!parec_.waitForStarted(5000)) {
        error = "parec did not start";
        return false;
    }
    // The bed keeps a silent stream playing, so the monitor delivers at once.
    QElapsedTimer t;
    t.start();
    while (QFileInfo(file_).size() < 8820) {
        if (t.elapsed() > 5000 || parec_.state() == QProcess::NotRunning) {
            error = "parec records nothing from " + sink.toStdString() + ".monitor";
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

std::vector<int16_t> Recording::Stop() {
    if (parec_.state() != QProcess::NotRunning) {
        parec_.terminate();
        if (!parec_.waitForFinished(5000)) parec_.kill();
        parec_.waitForFinished(1000);
    }
    QFile f(file_);
    std::vector<int16_t> v;
    if (f.open(QIODevice::ReadOnly)) v = Values(f.readAll());
    f.remove();
    return v;
}

UserSession::UserSession() {
    for (const char* sub : {"runtime", "config", "data"}) {
        QDir().mkpath(root_.filePath(QLatin1String(sub)));
        QFile::setPermissions(root_.filePath(QLatin1String(sub)), QFileDevice::ReadOwner |
                                                                      QFileDevice::WriteOwner |
                                                                      QFileDevice::ExeOwner);
    }
}

QProcessEnvironment UserSession::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), Path(QStringLiteral("data")));
    env.insert(QStringLiteral("ZIRRAFON_TRACE"), Path(QStringLiteral("trace.txt")));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

std::vector<int16_t> Render(const QString& file, int song, double seconds, std::string& error,
                            const QStringList& options) {
    QTemporaryFile out(QDir::tempPath() + QStringLiteral("/zirrafon-e2e-ref-XXXXXX.wav"));
    if (!out.open()) {
        error = "cannot make a temporary file";
        return {};
    }
    QProcess render;
    render.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments = {QStringLiteral("-o"), out.fileName(), QStringLiteral("-s"),
                             QString::number(song)};
    if (seconds > 0)
        arguments << QStringLiteral("-t") << QString::number(seconds) << QStringLiteral("--fade")
                  << QStringLiteral("0");
    render.start(BinaryPath("zirrafon-render"), arguments << options << file);
    if (!render.waitForFinished(60000) || render.exitCode() != 0) {
        error = "zirrafon-render failed for " + file.toStdString();
        return {};
    }
    // The renderer puts a new file in the place of the old one.
    QFile written(out.fileName());
    if (!written.open(QIODevice::ReadOnly)) {
        error = "zirrafon-render's output cannot be read";
        return {};
    }
    const std::optional<QByteArray> data = WavData(written.readAll());
    if (!data) {
        error = "zirrafon-render wrote no WAV data";
        return {};
    }
    return Values(*data);
}

PrivateSoundServer::~PrivateSoundServer() {
    Kill();
    if (!dir_.isEmpty()) QDir(dir_).removeRecursively();
}

QProcessEnvironment PrivateSoundServer::Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_ + QStringLiteral("/xdg"));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_ + QStringLiteral("/pulse"));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), dir_ + QStringLiteral("/state"));
    env.insert(QStringLiteral("PULSE_SERVER"), server_);
    // No session bus at all: this server must not meet the bed's sound server
    // (or the user's) on a bus, where the second to come is refused.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + dir_ + QStringLiteral("/no-bus"));
    return env;
}

bool PrivateSoundServer::Start(std::string& error) {
    const QString base =
        QDir::tempPath() +
        QStringLiteral("/zirrafon-e2e-server-%1").arg(QCoreApplication::applicationPid());
    QDir(base + QStringLiteral("/pulse")).removeRecursively();
    for (const char* sub : {"xdg", "pulse", "state"}) {
        if (!QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub))) {
            error = "cannot make " + base.toStdString();
            return false;
        }
        QFile::setPermissions(base + QLatin1Char('/') + QLatin1String(sub),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
    }
    dir_ = base;
    server_ = QStringLiteral("unix:") + base + QStringLiteral("/pulse/native");
    QProcess daemon;
    daemon.setProcessEnvironment(Environment());
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.start(QStringLiteral("pulseaudio"),
                 {QStringLiteral("--daemonize=yes"), QStringLiteral("--exit-idle-time=-1"),
                  QStringLiteral("-n"),
                  QStringLiteral("--load=module-native-protocol-unix socket=%1/pulse/native "
                                 "auth-anonymous=1")
                      .arg(base),
                  QStringLiteral("--load=module-null-sink sink_name=%1 "
                                 "format=s16le rate=44100 channels=2 norewinds=1")
                      .arg(QLatin1String(Sink))});
    if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0) {
        error = "pulseaudio did not start: " + daemon.readAll().toStdString();
        return false;
    }
    running_ = true;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        QProcess info;
        info.setProcessEnvironment(Environment());
        info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (info.waitForFinished(5000) && info.exitCode() == 0) {
            keepAlive_.setProcessEnvironment(Environment());
            keepAlive_.setStandardInputFile(QStringLiteral("/dev/zero"));
            keepAlive_.start(QStringLiteral("pacat"),
                             {QStringLiteral("--playback"), QStringLiteral("--device=%1").arg(Sink),
                              QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
                              QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
            return keepAlive_.waitForStarted(5000);
        }
        QThread::msleep(100);
    }
    error = "the private sound server does not answer";
    return false;
}

void PrivateSoundServer::Kill() {
    if (!running_) return;
    running_ = false;
    keepAlive_.kill();
    keepAlive_.waitForFinished(2000);
    QProcess kill;
    kill.setProcessEnvironment(Environment());
    kill.start(QStringLiteral("pulseaudio"), {QStringLiteral("--kill")});
    kill.waitForFinished(10000);
    // --kill only signals; wait until the socket is gone.
    QElapsedTimer t;
    t.start();
    while (QFileInfo::exists(dir_ + QStringLiteral("/pulse/native")) && t.elapsed() < 5000)
        QThread::msleep(50);
}

std::optional<size_t> FirstNonZero(const std::vector<int16_t>& v, size_t from) {
    for (size_t i = from; i < v.size(); ++i)
        if (v[i] != 0) return i;
    return std::nullopt;
}

std::optional<size_t> LastNonZero(const std::vector<int16_t>& v) {
    for (size_t i = v.size(); i > 0; --i)
        if (v[i - 1] != 0) return i - 1;
    return std::nullopt;
}

namespace {

// The sound device ramps the level at a pause, a resume and a stop over 220
// frames (5 ms); a value of such a ramp is the rendered one scaled toward
// zero: the same sign, or zero, and no larger.
constexpr size_t RampValues = 2 * 220;
bool ScaledTowardZero(int16_t recorded, int16_t rendered) {
    return rendered >= 0 ? recorded >= 0 && recorded <= rendered
                         : recorded <= 0 && recorded >= rendered;
}

// The recording goes on as the rendering from `at` with `offset`, for 20 ms
// (or to the end of either).
bool GoesOnAsRendered(const std::vector<int16_t>& recorded, const std::vector<int16_t>& rendered,
                      size_t at, size_t offset) {
    for (size_t r = at; r < at + 2 * 882 && r < recorded.size() && r - offset < rendered.size();
         ++r)
        if (recorded[r] != rendered[r - offset]) return false;
    return true;
}

} // namespace

std::optional<size_t> SilenceStart(const std::vector<int16_t>& v, size_t from, size_t length) {
    size_t zeros = 0;
    for (size_t i = from; i < v.size(); ++i) {
        zeros = v[i] == 0 ? zeros + 1 : 0;
        if (zeros == length) return i + 1 - length;
    }
    if (zeros > 0) return v.size() - zeros; // silent to the end
    return std::nullopt;
}

int PeakBefore(const std::vector<int16_t>& v, size_t at, size_t values) {
    int peak = 0;
    for (size_t i = at > values ? at - values : 0; i < at && i < v.size(); ++i)
        peak = std::max(peak, std::abs(int{v[i]}));
    return peak;
}

std::string CompareAligned(const std::vector<int16_t>& recorded,
                           const std::vector<int16_t>& rendered, size_t count, int pauses,
                           size_t* gapValues) {
    const std::optional<size_t> a = FirstNonZero(recorded);
    const std::optional<size_t> k = FirstNonZero(rendered);
    if (!a) return "the recording is silent";
    if (!k) return "the rendering is silent";
    if (*a < *k) return "the recording starts sooner than the song could";
    if ((*a - *k) % 2 != 0) return "the recording is not aligned to whole frames";
    if (*k + count > rendered.size()) return "the rendering is too short for the comparison";
    size_t offset = *a - *k; // recording index = rendering index + offset
    size_t rampEnd = 0;      // recording values before it may belong to a ramp found
    int gaps = 0;
    if (gapValues != nullptr) *gapValues = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t r = i + offset;
        if (r >= recorded.size())
            return "the recording ends after " + std::to_string(i) + " of " +
                   std::to_string(count) + " compared values";
        if (recorded[r] == rendered[i]) continue;
        const bool scaled = ScaledTowardZero(recorded[r], rendered[i]);
        if (scaled && r < rampEnd) continue;
        const std::optional<size_t> silence = scaled ? SilenceStart(recorded, r) : std::nullopt;
        if (silence && *silence > r && *silence - r <= RampValues) {
            // A ramp down to the silence of a pause or a stop.
            rampEnd = *silence;
            continue;
        }
        if (gaps < pauses && silence == r) {
            // A pause: the song goes on after the recording's silence, from
            // where its ramp down ended (the last steps of which, and the
            // first of the ramp up, may round to 0), ramped up again.
            const std::optional<size_t> sound = FirstNonZero(recorded, r);
            if (!sound) return "the recording stays silent after the pause";
            std::optional<size_t> found;
            for (size_t resume = *sound >= RampValues ? *sound - RampValues : 0;
                 resume <= *sound && !found; resume += 1)
                for (size_t from = i; from <= i + RampValues && !found; from += 2) {
                    if (resume < from + offset || (resume - from - offset) % 2 != 0) continue;
                    const size_t o = resume - from;
                    if (!GoesOnAsRendered(recorded, rendered, *sound + RampValues, o)) continue;
                    bool ramp = true;
                    for (size_t j = *sound; j < *sound + RampValues && j < recorded.size(); ++j)
                        ramp = ramp && ScaledTowardZero(recorded[j], rendered[j - o]);
                    if (ramp) found = o;
                }
            if (!found) return "the song does not go on after the pause as rendered";
            if (gapValues != nullptr) *gapValues += *found - offset;
            offset = *found;
            rampEnd = *sound + RampValues;
            ++gaps;
            i = *sound - offset - 1;
            continue;
        }
        return "value " + std::to_string(i) + " of the song (frame " + std::to_string(i / 2) +
               ") differs: recorded " + std::to_string(recorded[r]) + ", rendered " +
               std::to_string(rendered[i]) +
               (gaps > 0 ? " (after pause " + std::to_string(gaps) + ")" : "");
    }
    if (gaps < pauses)
        return "the recording has " + std::to_string(gaps) + " of " + std::to_string(pauses) +
               " pauses";
    return std::string();
}

} // namespace e2e
