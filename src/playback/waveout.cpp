// The real wave-out device on Qt Multimedia's QAudioSink (PulseAudio or
// PipeWire underneath), push mode.
//
// The sink's own buffer is asked to be 130,560 bytes (0.74 s, the two player
// buffers) so that a stall of the GUI thread of a few hundred milliseconds does
// not starve the sound server. A 5 ms timer on the GUI thread moves queued
// buffers into the sink as far as `bytesFree()` allows and watches how far the
// server has played (`processedUSecs()`): a buffer whose last frame has been
// played is done, and its completion notice is posted to the player. Counting
// a buffer done when it was merely handed over would put the sink's whole
// buffer behind every change the player makes. While paused nothing is handed
// over and nothing completes.
//
// The same played time gives `PlayedFrames`: a reset stops the stream and the
// server counts from 0 again after it, so what the stopped stream had played
// is kept aside and added.
//
// A sound server lost while playing (the sink stops with a fatal error, as when
// the server restarts or the device is switched) is not the end of the song:
// the device keeps its buffers, takes back what the server had been handed
// but not played, and tries ten times a second for ten seconds to open a new
// stream on the default output; the first that opens goes on with the first
// frame not yet played, so nothing is heard twice and nothing is skipped.
// Only when it gives up does it hand every buffer back; queueing them again
// then fails with "The connection to the audio output device was lost", and
// the player stops and says so once. Stop works all the while.
#include "playback/waveout.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <vector>

QString WaveErrorText(WaveResult code) {
    switch (code) {
    case WaveNoError: return QStringLiteral("The operation completed successfully");
    case WaveErrorNoDevice: return QStringLiteral("No audio output device is available");
    case WaveErrorOpenFailed: return QStringLiteral("The audio output device could not be opened");
    case WaveErrorNotOpen: return QStringLiteral("The audio output device is not open");
    case WaveErrorInvalidBuffer: return QStringLiteral("The sound buffer is not valid");
    case WaveErrorDeviceLost:
        return QStringLiteral("The connection to the audio output device was lost");
    case WaveErrorWriteFailed:
        return QStringLiteral("The audio output device did not accept the sound data");
    case WaveErrorBadFormat:
        return QStringLiteral(
            "The audio output device does not support 44,100 Hz 16-bit stereo sound");
    case WaveErrorStillPlaying:
        return QStringLiteral("Sound buffers are still queued on the audio output device");
    case WaveErrorUnprepared: return QStringLiteral("The sound buffer was not prepared");
    default: return QStringLiteral("Unknown audio output error %1").arg(code);
    }
}

namespace {

constexpr qsizetype SinkBufferBytes = 130560; // two player buffers, 0.74 s
constexpr int PumpIntervalMs = 5;
constexpr int ReconnectIntervalMs = 100; // after a lost server, a new stream is tried
constexpr int ReconnectTries = 100;      // that often (10 s) before the device gives up
// How much further than it last said a lost server may have played.
constexpr uint64_t LostServerLagBytes = WaveSampleRate * 30 / 1000 * WaveBytesPerFrame; // 30 ms
// How close to its end the played position must come for a buffer to be done:
// the server reports time in microseconds, which rounds to a frame or two.
constexpr uint64_t EndSlackBytes = 8 * WaveBytesPerFrame;

class AudioSinkWaveOut final : public WaveOutDevice {
  public:
    AudioSinkWaveOut() {
        pump_.setTimerType(Qt::PreciseTimer);
        pump_.setInterval(PumpIntervalMs);
        QObject::connect(&pump_, &QTimer::timeout, [this] { Pump(); });
        retry_.setInterval(ReconnectIntervalMs);
        QObject::connect(&retry_, &QTimer::timeout, [this] { Reconnect(); });
    }
    ~AudioSinkWaveOut() override { Shut(); }

    WaveResult Open(QObject* notify) override {
        if (open_) return WaveErrorOpenFailed;
        if (const WaveResult r = OpenStream(); r != WaveNoError) return r;
        open_ = true;
        notify_ = notify;
        paused_ = false;
        lost_ = false;
        earlierFrames_ = 0;
        pump_.start();
        return WaveNoError;
    }

    WaveResult PrepareHeader(WaveHeader& header) override {
        if (!open_) return WaveErrorNotOpen;
        if (header.Data == nullptr || header.BufferLength == 0 ||
            header.BufferLength % WaveBytesPerFrame != 0)
            return WaveErrorInvalidBuffer;
        header.Flags |= WaveHeaderPrepared;
        return WaveNoError;
    }

    WaveResult UnprepareHeader(WaveHeader& header) override {
        if (!open_) return WaveErrorNotOpen;
        if (header.Flags & WaveHeaderInQueue) return WaveErrorStillPlaying;
        header.Flags &= ~uint32_t{WaveHeaderPrepared};
        return WaveNoError;
    }

    WaveResult Write(WaveHeader& header) override {
        if (!open_) return WaveErrorNotOpen;
        if (!(header.Flags & WaveHeaderPrepared)) return WaveErrorUnprepared;
        if (header.Flags & WaveHeaderInQueue) return WaveErrorStillPlaying;
        if (lost_) return WaveErrorDeviceLost;
        if (io_ == nullptr && sink_) {
            // The stream was reset: a reset sink must be started afresh, and
            // its played time starts at 0 again.
            io_ = sink_->start();
            if (io_ == nullptr) return FromQtError(sink_->error());
            streamBytes_ = 0;
            lastPlayedBytes_ = 0;
            if (paused_) sink_->suspend();
        }
        header.Flags = (header.Flags & ~uint32_t{WaveHeaderDone}) | WaveHeaderInQueue;
        header.Next = nullptr;
        header.BytesHanded = 0;
        if (tail_ != nullptr)
            tail_->Next = &header;
        else
            head_ = &header;
        tail_ = &header;
        Pump();
        return WaveNoError;
    }

    WaveResult Reset() override {
        if (!open_) return WaveErrorNotOpen;
        // reset() drops what the sink still holds and stops the stream; the
        // next Write starts it again.
        earlierFrames_ = PlayedFrames();
        if (sink_) {
            resetting_ = true;
            sink_->reset();
            resetting_ = false;
        }
        io_ = nullptr;
        paused_ = false;
        HandBackAll();
        return WaveNoError;
    }

    WaveResult Pause() override {
        if (!open_) return WaveErrorNotOpen;
        if (lost_) return WaveErrorDeviceLost;
        paused_ = true;
        if (io_ != nullptr) sink_->suspend();
        return WaveNoError;
    }

    WaveResult Restart() override {
        if (!open_) return WaveErrorNotOpen;
        if (lost_) return WaveErrorDeviceLost;
        if (!paused_) return WaveNoError;
        paused_ = false;
        if (io_ != nullptr) sink_->resume();
        Pump();
        return WaveNoError;
    }

    WaveResult Close() override {
        if (!open_) return WaveErrorNotOpen;
        if (head_ != nullptr || playingHead_ != nullptr) return WaveErrorStillPlaying;
        Shut();
        return WaveNoError;
    }

    uint64_t PlayedFrames() const override {
        if (!open_) return 0;
        if (io_ == nullptr || !sink_) return earlierFrames_;
        // Never more than was handed over, whatever the server's rounding.
        const auto played =
            static_cast<uint64_t>(sink_->processedUSecs()) * WaveSampleRate / 1000000;
        return earlierFrames_ + std::min(played, streamBytes_ / WaveBytesPerFrame);
    }

    QString ErrorText(WaveResult code) const override { return WaveErrorText(code); }

  private:
    // A stream on the default output, started; its played time counts from 0.
    WaveResult OpenStream() {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) return WaveErrorNoDevice;
        QAudioFormat format;
        format.setSampleRate(WaveSampleRate);
        format.setChannelCount(WaveChannels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(format)) return WaveErrorBadFormat;

        sink_ = std::make_unique<QAudioSink>(device, format);
        sink_->setBufferSize(SinkBufferBytes);
        QObject::connect(sink_.get(), &QAudioSink::stateChanged,
                         [this](QAudio::State state) { SinkStateChanged(state); });
        io_ = sink_->start();
        if (io_ == nullptr) {
            const WaveResult result = sink_->error() == QAudio::NoError
                                          ? WaveErrorOpenFailed
                                          : FromQtError(sink_->error());
            DisposeSink();
            return result;
        }
        streamBytes_ = 0;
        lastPlayedBytes_ = 0;
        return WaveNoError;
    }

    // The server went away: what it was handed and did not play goes back to
    // the front of the queue, to be handed to the next stream.
    void TakeBackUnplayed() {
        // What the server last said it had played, or says now if it still
        // can. Its word lags what it had already sent to the speakers by some
        // milliseconds (about 10 measured), so a little more counts as heard:
        // better a few milliseconds left out than heard twice.
        const uint64_t said =
            std::max(lastPlayedBytes_, static_cast<uint64_t>(sink_->processedUSecs()) *
                                           WaveSampleRate / 1000000 * WaveBytesPerFrame);
        const uint64_t played = std::min(said + LostServerLagBytes, streamBytes_);
        earlierFrames_ += played / WaveBytesPerFrame;
        // The buffer being handed over when the server went: its start in the stream.
        if (head_ != nullptr && head_->BytesHanded != 0) {
            const uint64_t start = streamBytes_ - head_->BytesHanded;
            head_->BytesHanded = static_cast<uint32_t>(played > start ? played - start : 0);
        }
        // Those handed over whole: a played one is done (its notice goes out,
        // in order); the rest go back in front of the queue, in order.
        std::vector<WaveHeader*> unplayed;
        while (playingHead_ != nullptr) {
            WaveHeader& h = *playingHead_;
            playingHead_ = h.Next;
            h.Next = nullptr;
            const uint64_t start = h.EndPosition - h.BufferLength;
            if (played >= h.EndPosition) {
                Complete(h);
                continue;
            }
            h.BytesHanded = static_cast<uint32_t>(played > start ? played - start : 0);
            unplayed.push_back(&h);
        }
        playingTail_ = nullptr;
        for (auto it = unplayed.rbegin(); it != unplayed.rend(); ++it) {
            (*it)->Next = head_;
            if (head_ == nullptr) tail_ = *it;
            head_ = *it;
        }
        streamBytes_ = 0;
    }

    void Reconnect() {
        if (sink_ == nullptr && OpenStream() == WaveNoError) {
            retry_.stop();
            if (paused_) sink_->suspend();
            Pump();
            return;
        }
        if (++tries_ < ReconnectTries) return;
        // Given up: the buffers go back, and queueing them again says why.
        retry_.stop();
        lost_ = true;
        HandBackAll();
    }

    static WaveResult FromQtError(QAudio::Error error) {
        switch (error) {
        case QAudio::NoError: return WaveNoError;
        case QAudio::OpenError: return WaveErrorOpenFailed;
        case QAudio::IOError: return WaveErrorWriteFailed;
        case QAudio::UnderrunError: return WaveNoError;
        case QAudio::FatalError: return WaveErrorDeviceLost;
        }
        return WaveErrorUnspecified;
    }

    // Completes the buffers the server has played, then hands queued data to
    // the sink as far as it has room, in whole frames.
    void Pump() {
        if (io_ == nullptr || paused_ || lost_) return;
        CompletePlayed();
        while (head_ != nullptr) {
            WaveHeader& h = *head_;
            qsizetype room = sink_->bytesFree();
            room -= room % WaveBytesPerFrame;
            if (room <= 0) return;
            const qsizetype left = qsizetype{h.BufferLength} - h.BytesHanded;
            const char* from = reinterpret_cast<const char*>(h.Data) + h.BytesHanded;
            const qint64 written = io_->write(from, std::min(room, left));
            if (written <= 0) return;
            h.BytesHanded += static_cast<uint32_t>(written);
            streamBytes_ += static_cast<uint64_t>(written);
            if (h.BytesHanded < h.BufferLength) return;
            // Handed over whole: done once the server has played it.
            head_ = h.Next;
            if (head_ == nullptr) tail_ = nullptr;
            h.Next = nullptr;
            h.EndPosition = streamBytes_;
            if (playingTail_ != nullptr)
                playingTail_->Next = &h;
            else
                playingHead_ = &h;
            playingTail_ = &h;
        }
    }

    void CompletePlayed() {
        if (playingHead_ == nullptr) return;
        const auto played = static_cast<uint64_t>(sink_->processedUSecs()) * WaveSampleRate /
                            1000000 * WaveBytesPerFrame;
        lastPlayedBytes_ = played;
        while (playingHead_ != nullptr && played + EndSlackBytes >= playingHead_->EndPosition) {
            WaveHeader& h = *playingHead_;
            playingHead_ = h.Next;
            if (playingHead_ == nullptr) playingTail_ = nullptr;
            Complete(h);
        }
    }

    void Complete(WaveHeader& h) {
        h.Next = nullptr;
        h.Flags = (h.Flags & ~uint32_t{WaveHeaderInQueue}) | WaveHeaderDone;
        if (notify_) QCoreApplication::postEvent(notify_, new WaveDoneEvent(&h));
    }

    void HandBackAll() {
        // Those handed over first: the order they were queued in.
        while (playingHead_ != nullptr) {
            WaveHeader& h = *playingHead_;
            playingHead_ = h.Next;
            Complete(h);
        }
        playingTail_ = nullptr;
        while (head_ != nullptr) {
            WaveHeader& h = *head_;
            head_ = h.Next;
            Complete(h);
        }
        tail_ = nullptr;
    }

    void SinkStateChanged(QAudio::State state) {
        // Only a running stream is lost here; a start that fails says so itself.
        if (resetting_ || state != QAudio::StoppedState || !sink_ || io_ == nullptr) return;
        if (sink_->error() != QAudio::FatalError && sink_->error() != QAudio::IOError) return;
        TakeBackUnplayed();
        io_ = nullptr;
        DisposeSink();
        tries_ = 0;
        retry_.start();
    }

    // QAudioSink's destructor (Qt 6.4, PulseAudio) runs the event loop while it
    // waits for the server. Deleting it in the middle of a player operation
    // would let other events (a refill, a key) run inside that operation, so
    // it is deleted later, from the event loop itself.
    void DisposeSink() {
        QAudioSink* sink = sink_.release();
        sink->disconnect();
        if (QCoreApplication::instance() != nullptr)
            sink->deleteLater();
        else
            delete sink;
    }

    // Closes the stream, whatever is queued; queued headers are forgotten.
    void Shut() {
        pump_.stop();
        retry_.stop();
        open_ = false;
        if (sink_) {
            sink_->disconnect();
            sink_->stop();
            DisposeSink();
        }
        for (WaveHeader* list : {playingHead_, head_})
            for (WaveHeader* h = list; h != nullptr;) {
                WaveHeader* next = h->Next;
                h->Next = nullptr;
                h->Flags &= ~uint32_t{WaveHeaderInQueue};
                h = next;
            }
        head_ = tail_ = playingHead_ = playingTail_ = nullptr;
        io_ = nullptr;
        notify_ = nullptr;
    }

    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr; // owned by the sink; null while stopped
    QPointer<QObject> notify_;
    QTimer pump_;
    QTimer retry_; // runs while the server is away
    int tries_ = 0;
    bool open_ = false;
    WaveHeader* head_ = nullptr; // queued, not yet handed over whole
    WaveHeader* tail_ = nullptr;
    WaveHeader* playingHead_ = nullptr; // handed over, not yet played to the end
    WaveHeader* playingTail_ = nullptr;
    uint64_t streamBytes_ = 0;     // handed over since the stream started
    uint64_t lastPlayedBytes_ = 0; // of those, played as the server last said
    uint64_t earlierFrames_ = 0;   // played by the streams before the last reset
    bool paused_ = false;
    bool lost_ = false;
    bool resetting_ = false;
};

} // namespace

std::unique_ptr<WaveOutDevice> CreateAudioSinkWaveOut() {
    return std::make_unique<AudioSinkWaveOut>();
}
