// The real wave-out device on the PulseAudio client library (a PulseAudio
// server, or PipeWire's, underneath), with a main loop thread of its own for
// the connection; every call below is made on the owner's (GUI) thread with
// that loop locked.
//
// The server is asked to hold 130,560 bytes (0.74 s, the two player buffers)
// so that a stall of the GUI thread of a few hundred milliseconds does not
// starve it. A 5 ms timer on the GUI thread moves queued buffers into the
// stream as far as the server has room and watches how far it has played: a
// buffer whose last frame has been played is done, and its completion notice
// is posted to the player. Counting a buffer done when it was merely handed
// over would put the server's whole queue behind every change the player
// makes.
//
// Stop and pause are heard within about 0.1 s and without a click: what the
// server holds beyond the frames it is about to play is written over, from
// 60 ms ahead, with the next 5 ms faded to silence and then silence; once the
// fade has been played the stream is closed. A pause keeps the buffers from
// the fade's end on, and the stream opened on resume fades them in over 5 ms.
// Only the server's copies change: the player's buffers (and so the export
// and the renderer) never do.
//
// Each stream counts its played time from 0, so what the streams before the
// current one played is kept aside for `PlayedFrames`.
//
// A sound server lost while playing (as when it restarts or the device is
// switched) is not the end of the song: the device keeps its buffers, takes
// back what the server had been handed but not played, and tries ten times a
// second for ten seconds to connect again; the first stream that opens goes on
// with the first frame not yet played, so nothing is heard twice and nothing
// is skipped. Only when it gives up does it hand every buffer back; queueing
// them again then fails with "The connection to the audio output device was
// lost", and the player stops and says so once. Stop works all the while.
#include "playback/waveout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <pulse/pulseaudio.h>

QString WaveErrorText(WaveResult code) {
    switch (code) {
    case WaveNoError: return QStringLiteral("The operation completed successfully");
    case WaveErrorNoDevice: return QStringLiteral("No audio output device is available");
    case WaveErrorOpenFailed: return QStringLiteral("The audio output device could not be opened");
    case WaveErrorNotOpen: return QStringLiteral("The audio output device is not open");
    case WaveErrorInvalidBuffer: return QStringLiteral("The sound buffer is not valid");
    case WaveErrorDeviceLost:
        return QStringLiteral("The connection to the audio output device was lost");
    case WaveErrorStillPlaying:
        return QStringLiteral("Sound buffers are still queued on the audio output device");
    case WaveErrorUnprepared: return QStringLiteral("The sound buffer was not prepared");
    default: return QStringLiteral("Unknown audio output error %1").arg(code);
    }
}

namespace {

constexpr uint64_t BytesPerMs = WaveSampleRate / 1000 * WaveBytesPerFrame; // 44.1 frames
constexpr uint32_t ServerQueueBytes = 130560; // two player buffers, 0.74 s
// The server starts (and, after running dry, starts again) as soon as a frame
// is queued: a resumed stream may hold only the little left of the buffers.
constexpr uint32_t ServerStartBytes = WaveBytesPerFrame;
constexpr int PumpIntervalMs = 5;
constexpr int ConnectTimeoutMs = 5000;   // a server that neither answers nor refuses
constexpr int ReconnectIntervalMs = 100; // after a lost server, a new connection is tried
constexpr int ReconnectTries = 100;      // that often (10 s) before the device gives up
// How much further than it last said a lost server may have played.
constexpr uint64_t LostServerLagBytes = 30 * BytesPerMs;
// How close to its end the played position must come for a buffer to be done:
// the server reports time in microseconds, which rounds to a frame or two.
constexpr uint64_t EndSlackBytes = 8 * WaveBytesPerFrame;
// The fade at a stop or a pause, and back in at a resume.
constexpr uint32_t RampFrames = 220; // 5 ms
// A fade written over what the server holds starts this far beyond what it
// has taken to play: for the time the write takes to arrive, and for a server
// that takes its data in steps (PipeWire's takes 20 ms or more at a time;
// with 25 ms, one pause in five clicked there).
constexpr uint64_t FadeMarginBytes = 60 * BytesPerMs;
// A server that takes more than this ahead of what is heard takes back what
// it took when it is written over (its sink rewinds), so the fade starts
// close to what is heard instead; one that takes so little need not.
constexpr uint64_t SmallTakeAheadBytes = 100 * BytesPerMs;

// The fade's level at step `k` of `RampFrames` going out (1 down to almost 0),
// as a fraction of 32,768: a cubic curve, so the last millisecond is below
// 1/100 of the level.
int FadeOutGain(uint32_t k) {
    const double x = static_cast<double>(RampFrames - k) / RampFrames;
    return static_cast<int>(std::lround(32768.0 * x * x * x));
}

// Scales a frame toward zero (never past it, never above its value).
void ScaleFrame(int16_t* frame, int gain) {
    frame[0] = static_cast<int16_t>(int{frame[0]} * gain / 32768);
    frame[1] = static_cast<int16_t>(int{frame[1]} * gain / 32768);
}

class PulseWaveOut final : public WaveOutDevice {
  public:
    PulseWaveOut() {
        PumpTimer.setTimerType(Qt::PreciseTimer);
        PumpTimer.setInterval(PumpIntervalMs);
        QObject::connect(&PumpTimer, &QTimer::timeout, [this] { Pump(); });
        Retry.setInterval(ReconnectIntervalMs);
        QObject::connect(&Retry, &QTimer::timeout, [this] { Reconnect(); });
    }
    ~PulseWaveOut() override {
        Shut();
        if (Loop != nullptr) {
            pa_threaded_mainloop_stop(Loop);
            pa_threaded_mainloop_free(Loop);
        }
    }

    WaveResult Open(QObject* notify) override {
        if (IsOpen) return WaveErrorOpenFailed;
        if (Loop == nullptr) {
            Loop = pa_threaded_mainloop_new();
            if (Loop == nullptr) return WaveErrorNoDevice;
            if (pa_threaded_mainloop_start(Loop) < 0) {
                pa_threaded_mainloop_free(Loop);
                Loop = nullptr;
                return WaveErrorNoDevice;
            }
        }
        {
            Locked lock(Loop);
            if (!Connect() || !WaitFor([this] { return ContextSettled(); }, ConnectTimeoutMs) ||
                pa_context_get_state(Context) != PA_CONTEXT_READY) {
                DropContext();
                return WaveErrorNoDevice;
            }
            if (const WaveResult r = OpenStream(); r != WaveNoError) {
                DropContext();
                return r;
            }
        }
        IsOpen = true;
        Notify = notify;
        Paused = false;
        LostStream = false;
        RampUpLeft = 0;
        EarlierFrames = 0;
        PumpTimer.start();
        return WaveNoError;
    }

    WaveResult PrepareHeader(WaveHeader& header) override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (header.Data == nullptr || header.BufferLength == 0 ||
            header.BufferLength % WaveBytesPerFrame != 0)
            return WaveErrorInvalidBuffer;
        header.Flags |= WaveHeaderPrepared;
        return WaveNoError;
    }

    WaveResult UnprepareHeader(WaveHeader& header) override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (header.Flags & WaveHeaderInQueue) return WaveErrorStillPlaying;
        header.Flags &= ~uint32_t{WaveHeaderPrepared};
        return WaveNoError;
    }

    WaveResult Write(WaveHeader& header) override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (!(header.Flags & WaveHeaderPrepared)) return WaveErrorUnprepared;
        if (header.Flags & WaveHeaderInQueue) return WaveErrorStillPlaying;
        if (LostStream) return WaveErrorDeviceLost;
        header.Flags = (header.Flags & ~uint32_t{WaveHeaderDone}) | WaveHeaderInQueue;
        header.Next = nullptr;
        header.BytesHanded = 0;
        if (Tail != nullptr)
            Tail->Next = &header;
        else
            Head = &header;
        Tail = &header;
        if (!Paused) EnsureStream();
        Pump();
        return WaveNoError;
    }

    WaveResult Reset() override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (Stream != nullptr) {
            Locked lock(Loop);
            // The fade was heard: it counts as played.
            const uint64_t end = FadeOut();
            EarlierFrames += end / WaveBytesPerFrame;
            DropStream();
        }
        Paused = false;
        RampUpLeft = 0;
        HandBackAll();
        return WaveNoError;
    }

    WaveResult Pause() override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (LostStream) return WaveErrorDeviceLost;
        if (Paused) return WaveNoError;
        Paused = true;
        if (Stream != nullptr) {
            Locked lock(Loop);
            // Played to the fade's end: the next frame fades in on resume.
            TakeBackFrom(FadeOut());
            DropStream();
        }
        RampUpLeft = RampFrames;
        return WaveNoError;
    }

    WaveResult Restart() override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (LostStream) return WaveErrorDeviceLost;
        if (!Paused) return WaveNoError;
        Paused = false;
        if (Head != nullptr) EnsureStream();
        Pump();
        return WaveNoError;
    }

    WaveResult Close() override {
        if (!IsOpen) return WaveErrorNotOpen;
        if (Head != nullptr || PlayingHead != nullptr) return WaveErrorStillPlaying;
        Shut();
        return WaveNoError;
    }

    uint64_t PlayedFrames() const override {
        if (!IsOpen) return 0;
        if (Stream == nullptr) return EarlierFrames;
        Locked lock(Loop);
        return EarlierFrames + PlayedBytes() / WaveBytesPerFrame;
    }

    QString ErrorText(WaveResult code) const override { return WaveErrorText(code); }

  private:
    class Locked {
      public:
        explicit Locked(pa_threaded_mainloop* loop) : Loop(loop) {
            pa_threaded_mainloop_lock(Loop);
        }
        ~Locked() { pa_threaded_mainloop_unlock(Loop); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

      private:
        pa_threaded_mainloop* Loop;
    };

    // Waits, with the loop locked, until `done` holds or `ms` have passed;
    // the loop runs meanwhile. Whether it holds.
    bool WaitFor(const std::function<bool()>& done, int ms) const {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() >= ms) return false;
            pa_threaded_mainloop_unlock(Loop);
            QThread::usleep(1000);
            pa_threaded_mainloop_lock(Loop);
        }
        return true;
    }

    // Starts connecting to the server (the default one, or PULSE_SERVER's);
    // never starts a server of its own.
    bool Connect() {
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Zirrafon");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "zirrafon");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "zirrafon");
        Context =
            pa_context_new_with_proplist(pa_threaded_mainloop_get_api(Loop), "Zirrafon", props);
        pa_proplist_free(props);
        if (Context == nullptr) return false;
        return pa_context_connect(Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }

    bool ContextSettled() const {
        const pa_context_state_t state = pa_context_get_state(Context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }

    bool StreamGood() const {
        return Context != nullptr && pa_context_get_state(Context) == PA_CONTEXT_READY &&
               Stream != nullptr && pa_stream_get_state(Stream) == PA_STREAM_READY;
    }

    // A stream on the default output, ready; its played time counts from 0.
    WaveResult OpenStream() {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, WaveSampleRate, WaveChannels};
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        Stream = pa_stream_new_with_proplist(Context, "Zirrafon", &spec, nullptr, props);
        pa_proplist_free(props);
        if (Stream == nullptr) return WaveErrorOpenFailed;
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = ServerQueueBytes;
        attr.prebuf = ServerStartBytes;
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(Stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            DropStream();
            return WaveErrorOpenFailed;
        }
        const bool settled = WaitFor(
            [this] {
                const pa_stream_state_t state = pa_stream_get_state(Stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            ConnectTimeoutMs);
        if (!settled || pa_stream_get_state(Stream) != PA_STREAM_READY) {
            DropStream();
            return WaveErrorOpenFailed;
        }
        StreamBytes = 0;
        LastPlayedBytes = 0;
        return WaveNoError;
    }

    // A stream for what is queued, unless there is one, the device waits for a
    // server, or it has given up; a server found gone starts the wait.
    void EnsureStream() {
        if (Stream != nullptr || Retry.isActive() || LostStream) return;
        Locked lock(Loop);
        if (Context != nullptr && pa_context_get_state(Context) == PA_CONTEXT_READY &&
            OpenStream() == WaveNoError)
            return;
        DropContext();
        Tries = 0;
        Retry.start();
    }

    void DropStream() {
        if (Stream == nullptr) return;
        pa_stream_disconnect(Stream);
        pa_stream_unref(Stream);
        Stream = nullptr;
    }

    void DropContext() {
        DropStream();
        if (Context == nullptr) return;
        pa_context_disconnect(Context);
        pa_context_unref(Context);
        Context = nullptr;
    }

    // Bytes of the stream the server has played, as far as it says (its word
    // is interpolated between its reports); never more than it was handed.
    uint64_t PlayedBytes() const {
        pa_usec_t usec = 0;
        if (Stream == nullptr || pa_stream_get_time(Stream, &usec) < 0) return LastPlayedBytes;
        const uint64_t bytes = usec * WaveSampleRate / 1000000 * WaveBytesPerFrame;
        return std::min(bytes, StreamBytes);
    }

    // Where a buffer's first byte stands in the current stream. A buffer that
    // went on from an earlier stream (after a pause, or a server lost) was
    // handed to this one from its first byte not played: its start lies
    // before the stream's, below 0.
    static int64_t StartInStream(const WaveHeader& h) {
        return static_cast<int64_t>(h.EndPosition) - int64_t{h.BufferLength};
    }
    int64_t HeadStartInStream() const {
        return static_cast<int64_t>(StreamBytes) - int64_t{Head->BytesHanded};
    }

    // Copies `bytes` of the stream from `from` on out of the buffers that hold
    // them (handed over and not yet played, so still queued).
    void CopyQueued(uint64_t from, uint64_t bytes, char* out) const {
        const auto copy = [&](const WaveHeader& h, int64_t start, int64_t end) {
            const int64_t a = std::max(start, static_cast<int64_t>(from));
            const int64_t b = std::min(end, static_cast<int64_t>(from + bytes));
            if (a < b)
                std::copy_n(reinterpret_cast<const char*>(h.Data) + (a - start), b - a,
                            out + (a - static_cast<int64_t>(from)));
        };
        for (const WaveHeader* h = PlayingHead; h != nullptr; h = h->Next)
            copy(*h, StartInStream(*h), static_cast<int64_t>(h->EndPosition));
        if (Head != nullptr && Head->BytesHanded != 0)
            copy(*Head, HeadStartInStream(), static_cast<int64_t>(StreamBytes));
    }

    // Fades out what the server is about to play and silences the rest it
    // holds, and waits until the fade has been played. Where the fade ends in
    // the stream.
    uint64_t FadeOut() {
        if (!StreamGood()) return LastPlayedBytes;
        if (pa_operation* update = pa_stream_update_timing_info(Stream, nullptr, nullptr)) {
            WaitFor([update] { return pa_operation_get_state(update) != PA_OPERATION_RUNNING; },
                    200);
            pa_operation_unref(update);
        }
        const uint64_t played = PlayedBytes();
        uint64_t start = played;
        if (const pa_timing_info* timing = pa_stream_get_timing_info(Stream);
            timing != nullptr && !timing->read_index_corrupt && timing->read_index >= 0) {
            // What the server has taken to play by now.
            const uint64_t taken =
                static_cast<uint64_t>(timing->read_index) +
                pa_timeval_age(&timing->timestamp) * WaveSampleRate / 1000000 * WaveBytesPerFrame;
            if (taken > played && taken - played <= SmallTakeAheadBytes) start = taken;
        }
        start += FadeMarginBytes;
        start -= start % WaveBytesPerFrame;
        start = std::min(start, StreamBytes);
        const uint64_t fade =
            std::min<uint64_t>(RampFrames * WaveBytesPerFrame, StreamBytes - start);
        if (start < StreamBytes) {
            std::vector<int16_t> over((StreamBytes - start) / sizeof(int16_t), 0);
            CopyQueued(start, fade, reinterpret_cast<char*>(over.data()));
            for (uint32_t k = 0; k < fade / WaveBytesPerFrame; ++k)
                ScaleFrame(&over[2 * k], FadeOutGain(k));
            pa_stream_write(Stream, over.data(), over.size() * sizeof(int16_t), nullptr,
                            static_cast<int64_t>(start), PA_SEEK_ABSOLUTE);
        }
        // Within the slack of its end: the server's time rounds, and a stream
        // played out may never report its very last frame.
        WaitFor([&] { return !StreamGood() || PlayedBytes() + EndSlackBytes >= start + fade; },
                1000);
        return start + fade;
    }

    // The stream ends having played `played` bytes: the buffers played to
    // their end are done (their notices go out, in order); the rest go back
    // to the front of the queue, in order, to be handed to the next stream
    // from their first byte not played.
    void TakeBackFrom(uint64_t played) {
        played = std::min(played, StreamBytes);
        EarlierFrames += played / WaveBytesPerFrame;
        const auto playedOf = [&](int64_t start) {
            const int64_t p = static_cast<int64_t>(played) - start;
            return static_cast<uint32_t>(p > 0 ? p : 0);
        };
        // The buffer being handed over when the stream ended.
        if (Head != nullptr && Head->BytesHanded != 0)
            Head->BytesHanded = playedOf(HeadStartInStream());
        std::vector<WaveHeader*> unplayed;
        while (PlayingHead != nullptr) {
            WaveHeader& h = *PlayingHead;
            PlayingHead = h.Next;
            h.Next = nullptr;
            if (played >= h.EndPosition) {
                Complete(h);
                continue;
            }
            h.BytesHanded = playedOf(StartInStream(h));
            unplayed.push_back(&h);
        }
        PlayingTail = nullptr;
        for (auto it = unplayed.rbegin(); it != unplayed.rend(); ++it) {
            (*it)->Next = Head;
            if (Head == nullptr) Tail = *it;
            Head = *it;
        }
        StreamBytes = 0;
        LastPlayedBytes = 0;
    }

    // The server went away: what it last said it had played, or a little
    // more (its word lags what it had already sent to the speakers by some
    // milliseconds, about 10 measured: better a few milliseconds left out
    // than heard twice), counts as heard, and the device waits for it.
    void Lost() {
        TakeBackFrom(LastPlayedBytes + LostServerLagBytes);
        DropContext();
        RampUpLeft = 0;
        Tries = 0;
        Retry.start();
    }

    void Reconnect() {
        Locked lock(Loop);
        if (Context == nullptr && !Connect()) DropContext();
        if (Context != nullptr && ContextSettled()) {
            if (pa_context_get_state(Context) == PA_CONTEXT_READY &&
                (Paused || Head == nullptr || OpenStream() == WaveNoError)) {
                Retry.stop();
                return;
            }
            DropContext();
        }
        if (++Tries < ReconnectTries) return;
        // Given up: the buffers go back, and queueing them again says why.
        Retry.stop();
        DropContext();
        LostStream = true;
        HandBackAll();
    }

    // Completes the buffers the server has played, then hands it queued data
    // as far as it has room, in whole frames.
    void Pump() {
        if (Stream == nullptr || Paused) return;
        Locked lock(Loop);
        if (!StreamGood()) {
            Lost();
            return;
        }
        CompletePlayed();
        while (Head != nullptr) {
            WaveHeader& h = *Head;
            size_t room = pa_stream_writable_size(Stream);
            if (room == static_cast<size_t>(-1)) return;
            room -= room % WaveBytesPerFrame;
            if (room == 0) return;
            const size_t size = std::min<size_t>(room, h.BufferLength - h.BytesHanded);
            if (!Send(reinterpret_cast<const char*>(h.Data) + h.BytesHanded, size)) return;
            h.BytesHanded += static_cast<uint32_t>(size);
            StreamBytes += size;
            if (h.BytesHanded < h.BufferLength) return;
            // Handed over whole: done once the server has played it.
            Head = h.Next;
            if (Head == nullptr) Tail = nullptr;
            h.Next = nullptr;
            h.EndPosition = StreamBytes;
            if (PlayingTail != nullptr)
                PlayingTail->Next = &h;
            else
                PlayingHead = &h;
            PlayingTail = &h;
        }
    }

    // Hands frames to the server; the first after a resume fade in.
    bool Send(const char* data, size_t size) {
        if (RampUpLeft == 0)
            return pa_stream_write(Stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) >= 0;
        std::vector<int16_t> frames(size / sizeof(int16_t));
        std::copy_n(data, size, reinterpret_cast<char*>(frames.data()));
        for (size_t f = 0; f < frames.size() / WaveChannels && RampUpLeft > 0; ++f, --RampUpLeft)
            ScaleFrame(&frames[WaveChannels * f], FadeOutGain(RampUpLeft - 1));
        return pa_stream_write(Stream, frames.data(), size, nullptr, 0, PA_SEEK_RELATIVE) >= 0;
    }

    void CompletePlayed() {
        if (PlayingHead == nullptr) return;
        const uint64_t played = PlayedBytes();
        LastPlayedBytes = played;
        while (PlayingHead != nullptr && played + EndSlackBytes >= PlayingHead->EndPosition) {
            WaveHeader& h = *PlayingHead;
            PlayingHead = h.Next;
            if (PlayingHead == nullptr) PlayingTail = nullptr;
            Complete(h);
        }
    }

    void Complete(WaveHeader& h) {
        h.Next = nullptr;
        h.Flags = (h.Flags & ~uint32_t{WaveHeaderInQueue}) | WaveHeaderDone;
        if (Notify) QCoreApplication::postEvent(Notify, new WaveDoneEvent(&h));
    }

    void HandBackAll() {
        // Those handed over first: the order they were queued in.
        while (PlayingHead != nullptr) {
            WaveHeader& h = *PlayingHead;
            PlayingHead = h.Next;
            Complete(h);
        }
        PlayingTail = nullptr;
        while (Head != nullptr) {
            WaveHeader& h = *Head;
            Head = h.Next;
            Complete(h);
        }
        Tail = nullptr;
        StreamBytes = 0;
    }

    // Closes the connection, whatever is queued; queued headers are forgotten.
    void Shut() {
        PumpTimer.stop();
        Retry.stop();
        IsOpen = false;
        if (Loop != nullptr) {
            Locked lock(Loop);
            DropContext();
        }
        for (WaveHeader* list : {PlayingHead, Head})
            for (WaveHeader* h = list; h != nullptr;) {
                WaveHeader* next = h->Next;
                h->Next = nullptr;
                h->Flags &= ~uint32_t{WaveHeaderInQueue};
                h = next;
            }
        Head = Tail = PlayingHead = PlayingTail = nullptr;
        Notify = nullptr;
    }

    pa_threaded_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    pa_stream* Stream = nullptr; // null while paused, reset or waiting for a server
    QPointer<QObject> Notify;
    QTimer PumpTimer;
    QTimer Retry; // runs while the server is away
    int Tries = 0;
    bool IsOpen = false;
    WaveHeader* Head = nullptr; // queued, not yet handed over whole
    WaveHeader* Tail = nullptr;
    WaveHeader* PlayingHead = nullptr; // handed over, not yet played to the end
    WaveHeader* PlayingTail = nullptr;
    uint64_t StreamBytes = 0;     // handed over to the current stream
    uint64_t LastPlayedBytes = 0; // of those, played as the server last said
    uint64_t EarlierFrames = 0;   // played by the streams before the current one
    uint32_t RampUpLeft = 0;      // frames still to fade in
    bool Paused = false;
    bool LostStream = false;
};

} // namespace

std::unique_ptr<WaveOutDevice> CreateSoundServerWaveOut() {
    return std::make_unique<PulseWaveOut>();
}
