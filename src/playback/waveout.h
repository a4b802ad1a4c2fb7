// The wave-out layer: an audio output that plays queued 16-bit stereo buffers
// at 44,100 Hz and hands each buffer back when it is done with it, through a
// completion notice posted to the owning player's thread.
//
// `WaveOutDevice` is the interface the player works against (open, prepare and
// unprepare a header, queue a buffer, reset, pause, restart, close, and the
// readable text of a failure code). `CreateSoundServerWaveOut` gives the real
// device on the sound server (PulseAudio, or PipeWire's); tests use a fake.
//
// As with a classic wave-out driver, a buffer is "done" when the sound server
// has played past its last frame, not when its bytes were handed over: the two
// buffers of the player's cycle are then all the sound in flight (besides the
// server's own latency), so a change of volume or chip is heard within them.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

// Result of a device call: 0 on success, otherwise one of the codes below.
using WaveResult = int;

enum WaveResultCode : WaveResult {
    WaveNoError = 0,
    WaveErrorNoDevice = 2,   // no audio output device (no sound server)
    WaveErrorOpenFailed = 4, // the device refused to open the stream
    WaveErrorNotOpen = 5,    // the device is not open
    WaveErrorInvalidBuffer = 11,
    WaveErrorDeviceLost = 12, // the sound server went away while playing
    WaveErrorStillPlaying = 33,
    WaveErrorUnprepared = 34,
};

// Header flag bits.
enum WaveHeaderFlag : uint32_t {
    WaveHeaderDone = 0x01,     // handed back by the device
    WaveHeaderPrepared = 0x02, // prepared for the device
    WaveHeaderInQueue = 0x10,  // queued on the device
};

// One buffer as the device sees it. The owner fills `Data`, `BufferLength`
// (bytes), `Flags` (0) and `Loops` (0) before preparing it; the rest belongs to
// the device while the buffer is queued (an intrusive queue link, so queueing
// never allocates).
struct WaveHeader {
    const int16_t* Data = nullptr;
    uint32_t BufferLength = 0;
    uint32_t Flags = 0;
    uint32_t Loops = 0;
    WaveHeader* Next = nullptr;
    uint32_t BytesHanded = 0;
    uint64_t EndPosition = 0; // bytes into the stream where its last frame ends
};

// The completion notice: posted to the object given at open (the player) for every buffer
// the device hands back (played, or returned by a reset). The number keeps the
// classic completion message's number for recognition.
constexpr QEvent::Type WaveDoneEventType = static_cast<QEvent::Type>(QEvent::User + 0x3BD);

class WaveDoneEvent final : public QEvent {
  public:
    explicit WaveDoneEvent(WaveHeader* header) : QEvent(WaveDoneEventType), Header(header) {}
    WaveHeader* Header;
};

// Output format, fixed: PCM, 2 channels, 44,100 frames per second, signed
// 16-bit, left first.
constexpr int WaveSampleRate = 44100;
constexpr int WaveChannels = 2;
constexpr int WaveBytesPerFrame = 4;

class WaveOutDevice {
  public:
    virtual ~WaveOutDevice() = default;

    // Opens the default output in the fixed format; completion notices go to
    // `notify` (on its thread) as `WaveDoneEvent`.
    virtual WaveResult Open(QObject* notify) = 0;
    virtual WaveResult PrepareHeader(WaveHeader& header) = 0;
    virtual WaveResult UnprepareHeader(WaveHeader& header) = 0;
    // Queues a prepared buffer behind those already queued.
    virtual WaveResult Write(WaveHeader& header) = 0;
    // Stops output at once and hands every queued buffer back (each with its
    // completion notice); ends a pause. What is queued next fades in.
    virtual WaveResult Reset() = 0;
    virtual WaveResult Pause() = 0;
    virtual WaveResult Restart() = 0;
    // Fails with WaveErrorStillPlaying while buffers are queued.
    virtual WaveResult Close() = 0;
    // Frames the sound server has played since the device was opened, resets
    // included; it stands still while paused. 0 when not open.
    virtual uint64_t PlayedFrames() const = 0;
    // The readable text of a failure code (what the user is shown).
    virtual QString ErrorText(WaveResult code) const = 0;
};

using WaveOutFactory = std::function<std::unique_ptr<WaveOutDevice>()>;

// The real device: a stream on the sound server's default output, fed from a
// short timer on the calling (GUI) thread. Stop and pause fade out, and resume
// fades in, over 5 ms, in what the server plays only.
std::unique_ptr<WaveOutDevice> CreateSoundServerWaveOut();

// Texts of the codes above, shared by the real device and the fakes.
QString WaveErrorText(WaveResult code);
