// The player (see player.h): the wave output cycle and the user-level actions.
#include "playback/player.h"

#include "platform/file_names.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <algorithm>
#include <utility>

#include <cstring>

namespace {

// A file name keeps its bytes, also those that are not UTF-8.
std::string LocalFileName(const QString& name) { return LocalPath(name).toStdString(); }

} // namespace

QString SongText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString PriorityRefusalText(Priority priority, int error) {
    const QString wanted = priority == Priority::High ? QStringLiteral("high priority (nice -10)")
                                                      : QStringLiteral("normal priority (nice 0)");
    return QStringLiteral(
               "The system did not let the player run at %1: %2.\n"
               "The player goes on at the priority it had; the choice is kept and is saved "
               "with the parameters.\n\n"
               "Raising a program's priority needs the CAP_SYS_NICE capability or a nice "
               "limit (RLIMIT_NICE) that allows it, for example the line\n"
               "    @audio - nice -10\n"
               "in /etc/security/limits.conf for the members of the group audio "
               "(it takes effect at the next login).")
        .arg(wanted, QString::fromLocal8Bit(std::strerror(error)));
}

const SongEntry* NowPlayingInfo::Current() const {
    if (!FileOpen || Song < 0 || Song >= static_cast<int>(Songs.size())) return nullptr;
    return &Songs[static_cast<size_t>(Song)];
}

Player::Player(WaveOutFactory waveOutFactory, QObject* parent)
    : QObject(parent), List(Session.List), Buffer1(std::make_unique<int16_t[]>(BufferValues)),
      Buffer2(std::make_unique<int16_t[]>(BufferValues)), WaveOutMaker(std::move(waveOutFactory)) {
    // Every song is mapped ahead, so that a seek anywhere costs little.
    Stream.MapSongsAhead(true);
    // The engine's mix as the settings start: the default beeper, volume 39.
    ChipState& chip = Session.Engine->Chip;
    chip.Mix.BeeperAmplitude = -DefaultBeeperSetting;
    chip.Mix.BeeperSetting = DefaultBeeperSetting;
    SetChipAndChannels(chip, OwnSettings.ChipModeInForce(), OwnSettings.Volume(), VolumeSteps);
    connect(&OwnSettings, &PlayerSettings::MixChanged, this, &Player::ApplyMix);
    // A voice muted or brought back is heard at once: the two buffers in
    // flight would otherwise keep the old voices for most of a second.
    connect(&OwnSettings, &PlayerSettings::MutedVoicesChanged, this,
            [this](unsigned) { Requeue(std::nullopt); });
    connect(&OwnSettings, &PlayerSettings::PriorityRefused, this,
            [this](Priority priority, int error) {
                if (PriorityRefusalShown) return;
                PriorityRefusalShown = true;
                Fail(PriorityRefusalText(priority, error), QString::fromLatin1(ApplicationTitle),
                     MessageIcon::Warning);
            });
}

Player::~Player() {
    // The device must not outlive the buffers it refers to.
    if (WaveOut) {
        WaveOut->Reset();
        WaveOut.reset();
    }
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
}

// ---- Queries -------------------------------------------------------------------------

PlayState Player::State() const {
    return !Playing ? PlayState::Stopped : Paused ? PlayState::Paused : PlayState::Playing;
}

uint64_t Player::Elapsed() const {
    if (!Playing || !WaveOut) return Cue;
    const uint64_t played = WaveOut->PlayedFrames();
    const int64_t elapsed = static_cast<int64_t>(played) - Run.HeardFrom;
    return elapsed > 0 ? static_cast<uint64_t>(elapsed) : 0;
}

bool Player::CanGoNext() const {
    if (PlaylistLed && Playlist) return Playlist->CanGoNext();
    return List.FileOpen && List.CurrentSong < List.SongCount - 1;
}

bool Player::CanGoPrevious() const {
    if (PlaylistLed && Playlist) return Playlist->CanGoPrevious();
    return List.FileOpen && List.CurrentSong > 0;
}

NowPlayingInfo Player::NowPlaying() const {
    NowPlayingInfo now = Shown;
    now.FileOpen = List.FileOpen;
    now.Song = List.CurrentSong;
    if (List.FileOpen)
        for (int i = 0; i < List.SongCount; ++i)
            now.Songs.push_back({Session.Kind() == SongKind::PSG && Shown.Title.size() != 0 &&
                                         Session.SongTitle(i).empty()
                                     ? Shown.Title
                                     : SongText(Session.SongTitle(i)),
                                 // a playlist song's length is the one it plays for
                                 PlaylistLed ? Session.RenderTiming(i) : Session.FileTiming(i)});
    now.Entry = PlaylistLed ? CurrentEntry : 0;
    return now;
}

// ---- Wave output cycle ----------------------------------------------------------------

void Player::Shutdown() {
    StopPlaying();
    Session.Close();
    OwnSettings.SetPriorityClass(Priority::Normal);
}

void Player::SetPlaying(bool playing, bool paused) {
    const PlayState before = State();
    Playing = playing;
    Paused = paused;
    if (State() != before) emit StateChanged(State());
}

void Player::Fail(const QString& text, const QString& caption, MessageIcon icon) {
    QMetaObject::invokeMethod(
        this, [this, text, caption, icon] { emit Failed(text, caption, icon); },
        Qt::QueuedConnection);
}

void Player::ReportWaveError(WaveResult code, const char* caption) {
    const QString text = WaveOut ? WaveOut->ErrorText(code) : WaveErrorText(code);
    Fail(text.left(256), QString::fromLatin1(caption), MessageIcon::None);
}

void Player::CloseDevice() { WaveOut.reset(); }

void Player::PlayCurrent(uint64_t from, bool paused) {
    WaveOut = WaveOutMaker ? WaveOutMaker() : nullptr;
    if (!WaveOut) {
        Fail(WaveErrorText(WaveErrorNoDevice), QString::fromLatin1(NoSoundCaption),
             MessageIcon::None);
        return;
    }
    if (WaveResult r = WaveOut->Open(this); r != WaveNoError) {
        ReportWaveError(r, NoSoundCaption);
        CloseDevice();
        return;
    }

    Run = SongRun{};
    // The stream was put at `from` already: the device's frame 0 is that place.
    Run.HeardFrom = -static_cast<int64_t>(from);
    // Paused before anything is queued, so that nothing is heard until a resume.
    if (paused) {
        if (WaveResult r = WaveOut->Pause(); r != WaveNoError) {
            ReportWaveError(r, "WaveOutPause");
            paused = false;
        }
    }

    Header1 = WaveHeader{};
    Header1.Data = Buffer1.get();
    FillNext(Buffer1.get(), Header1);
    Header1.BufferLength = 2u * BufferValues;
    if (WaveResult r = WaveOut->PrepareHeader(Header1); r != WaveNoError) {
        ReportWaveError(r, "WaveOutPrepareHeaderN1");
        if (WaveResult c = WaveOut->Close(); c != WaveNoError)
            ReportWaveError(c, "WaveOutClose(Init1)");
        CloseDevice();
        return;
    }
    if (WaveResult r = WaveOut->Write(Header1); r != WaveNoError) {
        ReportWaveError(r, "WaveOutWriteN1");
        if (WaveResult u = WaveOut->UnprepareHeader(Header1); u != WaveNoError)
            ReportWaveError(u, "WaveOutUnprepareHeader1(Init)");
        if (WaveResult c = WaveOut->Close(); c != WaveNoError)
            ReportWaveError(c, "WaveOutClose(Init2)");
        CloseDevice();
        return;
    }
    SetPlaying(true, paused);

    Header2 = WaveHeader{};
    Header2.Data = Buffer2.get();
    FillNext(Buffer2.get(), Header2);
    Header2.BufferLength = 2u * BufferValues;
    if (WaveResult r = WaveOut->PrepareHeader(Header2); r != WaveNoError)
        ReportWaveError(r, "WaveOutPrepareHeaderN2");
    if (WaveResult r = WaveOut->Write(Header2); r != WaveNoError)
        ReportWaveError(r, "WaveOutWriteN2");
}

void Player::OnBufferPlayed(WaveHeader* header) {
    if (!WaveOut) return; // only a stray notice can get here without a device
    const bool first = header == &Header1;
    WaveHeader& h = first ? Header1 : Header2;
    // The other buffer plays from now on: a song that starts in it is the
    // current one; the buffer that held the list's end has been heard.
    if (Run.StartsIn != nullptr && Run.StartsIn != &h) {
        Run.StartsIn = nullptr;
        AnnounceSong(Run.NextSong);
    }
    if (Run.EndsWith == &h) {
        StopPlaying();
        return;
    }
    FillNext(first ? Buffer1.get() : Buffer2.get(), h);
    if (WaveResult r = WaveOut->Write(h); r != WaveNoError) {
        if (r == WaveErrorDeviceLost) {
            // The device waited for the sound server to come back and gave
            // up: the song ends here, said once, not once per buffer.
            const QString text = WaveOut->ErrorText(r);
            StopPlaying();
            Fail(text, QString::fromLatin1(ApplicationTitle), MessageIcon::Warning);
            return;
        }
        ReportWaveError(r, first ? "WaveOutWriteN1A" : "WaveOutWriteN2A");
    }
}

void Player::StopPlaying() {
    if (!Playing) return;
    // Every step runs, also after one failed: the device is given up in any case.
    if (WaveResult r = WaveOut->Reset(); r != WaveNoError) ReportWaveError(r, "WaveOutReset");
    // The buffers the reset handed back must not be refilled, also not if the
    // audio system runs the event loop during the steps below.
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
    if (WaveResult r = WaveOut->UnprepareHeader(Header1); r != WaveNoError)
        ReportWaveError(r, "WaveOutUnprepareHeader1(Stop)");
    if (WaveResult r = WaveOut->UnprepareHeader(Header2); r != WaveNoError)
        ReportWaveError(r, "WaveOutUnprepareHeader2(Stop)");
    if (WaveResult r = WaveOut->Close(); r != WaveNoError) ReportWaveError(r, "WaveOutClose(Stop)");
    CloseDevice();
    SetPlaying(false, Paused);
    // Notices of the closed device must not refill anything.
    QCoreApplication::removePostedEvents(this, WaveDoneEventType);
}

void Player::Pause() {
    if (!Playing) return;
    if (Paused) {
        if (WaveResult r = WaveOut->Restart(); r != WaveNoError)
            ReportWaveError(r, "WaveOutRestart");
        else
            SetPlaying(true, false);
    } else {
        if (WaveResult r = WaveOut->Pause(); r != WaveNoError)
            ReportWaveError(r, "WaveOutPause");
        else
            SetPlaying(true, true);
    }
}

void Player::customEvent(QEvent* event) {
    if (event->type() == WaveDoneEventType) {
        OnBufferPlayed(static_cast<WaveDoneEvent*>(event)->Header);
        return;
    }
    QObject::customEvent(event);
}

SongTiming Player::FollowedTiming(int index) const {
    if (PlaylistLed) return Session.RenderTiming(index);
    return OwnSettings.FollowSongLengths() ? Session.FileTiming(index) : SongTiming{};
}

uint64_t Player::SilenceLimit(int index) const {
    return PlaylistLed ? Session.SilenceLimit(index, SilenceSeconds) : 0;
}

void Player::FillNext(int16_t* buffer, const WaveHeader& header) {
    const uint64_t bufferStart = Run.Queued;
    Run.Queued += BufferValues / 2;
    // "Follow song lengths" may have changed since the last buffer.
    Stream.SetTiming(FollowedTiming(Stream.Song()));
    for (uint32_t filled = 0; filled < BufferValues;) {
        if (Run.Over) {
            std::fill(buffer + filled, buffer + BufferValues, int16_t{0});
            return;
        }
        filled += Stream.Fill(buffer + filled, BufferValues - filled);
        if (!Stream.Ended()) continue;
        // The song has ended here: the next one starts with the next frame.
        const int next = PlaylistLed ? 0 : Stream.Song() + 1;
        if (PlaylistLed ? !LoadNextFromPlaylist() : next >= List.SongCount) {
            Run.Over = true;
            Run.EndsWith = &header;
            continue;
        }
        if (!PlaylistLed && !StartFollowedSong(next)) {
            Run.Over = true;
            Run.EndsWith = &header;
            continue;
        }
        Run.StartsIn = &header;
        Run.NextSong = Stream.Song();
        Run.NextFrom = bufferStart + filled / 2;
    }
}

bool Player::StartFollowedSong(int index) {
    try {
        Stream.Start(index, FollowedTiming(index));
        return true;
    } catch (const SongIOError& e) {
        // Within the refill nobody above can report it: the songs end with
        // the one playing, and the message names the file.
        Fail(QString::fromLocal8Bit(e.what()) + QStringLiteral(": ") + Shown.FileName,
             QString::fromLatin1(ApplicationTitle), MessageIcon::Error);
        return false;
    }
}

bool Player::LoadNextFromPlaylist() {
    if (!Playlist) return false;
    // Every failure takes a file out of the list's choices, so this ends.
    for (;;) {
        const std::optional<PlaylistStep> step = Playlist->NextStep();
        if (!step) return false;
        QString reason;
        try {
            // Opened afresh even for the next song of the same file, as
            // zirrafon-render opens it for each song: an AYM song starts from
            // the file's memory image, not from what the last song left.
            std::string refusal;
            if (!OpenInSession(step->File, [&refusal](const std::string& t) { refusal = t; }))
                reason = refusal.empty() ? QStringLiteral("Not an .ay or .aym file")
                                         : QString::fromStdString(refusal);
            if (reason.isEmpty() && (step->Song < 0 || step->Song >= List.SongCount))
                reason = QStringLiteral("No song %1 in the file").arg(step->Song + 1);
            if (reason.isEmpty())
                Stream.Start(step->Song, Session.RenderTiming(step->Song),
                             SilenceLimit(step->Song));
        } catch (const SongIOError& e) {
            reason = QString::fromLocal8Bit(e.what());
        }
        if (reason.isEmpty()) {
            Run.NextStep = *step;
            Run.NextFromList = true;
            return true;
        }
        Playlist->StepFailed(*step, reason);
    }
}

bool Player::OpenInSession(const QString& fileName, const FormatErrorSink& formatError) {
    const std::string name = LocalFileName(fileName);
    if (!Session.Open(name, SongKindByExtension(name), formatError)) return false;
    // What is rendered from now on is this file's: on its chip, when the
    // mode follows the file.
    OwnSettings.SetFileChip(Session.YMFile());
    return true;
}

void Player::AnnounceSong(int index) {
    List.CurrentSong = index;
    Run.HeardFrom = static_cast<int64_t>(Run.NextFrom);
    if (Run.NextFromList) {
        Run.NextFromList = false;
        CurrentEntry = Run.NextStep.Entry;
        ShowFile(Run.NextStep.File);
    }
    ShowSong(index);
    if (PlaylistLed) emit PlaylistSongStarted(CurrentEntry, index);
}

void Player::ShowFile(const QString& fileName) {
    Shown.FileName = fileName;
    Shown.Author = SongText(List.AuthorText);
    Shown.Misc = SongText(List.MiscText);
    Shown.Title = SongText(List.SongNameText);
    // A register dump holds no texts: its name is all that says what it is.
    if (Session.Kind() == SongKind::PSG && Shown.Title.trimmed().isEmpty())
        Shown.Title = ReadableName(FileNameOf(fileName));
    Shown.Count = List.SongCount;
    Announce(NowPlayingPart::File | NowPlayingPart::Texts | NowPlayingPart::Count);
}

void Player::ShowSong(int index) {
    // Each AY song shows its own name; an AYM file keeps the file's name.
    NowPlayingParts parts = NowPlayingPart::Number;
    if (Session.Kind() == SongKind::AY) {
        Shown.Title = SongText(Session.SongTitle(index));
        parts |= NowPlayingPart::Title;
    }
    Shown.Number = index + 1;
    Announce(parts);
}

// ---- User-level actions ----------------------------------------------------------------------

template <typename Body> void Player::ReportingIOErrors(Body body) {
    try {
        body();
    } catch (const SongIOError& e) {
        Fail(QString::fromLocal8Bit(e.what()), QString::fromLatin1(ApplicationTitle),
             MessageIcon::Error);
    }
}

void Player::OpenAndPlay(const QString& fileName) {
    ReportingIOErrors([&] { OpenAndPlayFile(fileName); });
}

void Player::OpenAndPlayFile(const QString& fileName) {
    StopPlaying();
    const FormatErrorSink formatError = [this](const std::string& text) {
        Fail(QString::fromStdString(text), QStringLiteral("Error"), MessageIcon::Warning);
    };
    if (!OpenInSession(fileName, formatError)) return;

    PlaylistLed = false;
    Cue = 0;
    OwnSettings.NoteRecentFile(fileName);
    List.CurrentSong = Session.StartingSong();
    ShowFile(fileName);
    PlaySong();
}

void Player::OpenAndPlayIfReadable(const QString& fileName) {
    const std::string name = LocalFileName(fileName);
    QString refusal;
    QString caption = QString::fromLatin1(ApplicationTitle);
    MessageIcon icon = MessageIcon::Error;
    try {
        SongSession probe;
        const SongKind kind = SongKindByExtension(name);
        std::string formatError;
        if (kind == SongKind::Unknown) {
            refusal = QStringLiteral("Not an .ay or .aym file");
        } else if (!probe.Open(name, kind,
                               [&formatError](const std::string& text) { formatError = text; })) {
            refusal = QString::fromStdString(formatError);
            caption = QStringLiteral("Error");
            icon = MessageIcon::Warning;
        } else {
            probe.LoadSong(probe.StartingSong()); // its blocks are there to be read
        }
    } catch (const SongIOError& e) {
        refusal = QString::fromLocal8Bit(e.what());
    }
    if (!refusal.isEmpty()) {
        Fail(refusal + QStringLiteral(": ") + ReadableName(fileName), caption, icon);
        return;
    }
    OpenAndPlay(fileName);
}

void Player::Play() {
    // A song a restored session put in place starts where it was left, once.
    ReportingIOErrors([&] { PlaySong(std::exchange(Cue, 0)); });
}

void Player::PlaySong(uint64_t from, bool paused) {
    if (!List.FileOpen) return;
    StopPlaying();
    const int song = List.CurrentSong;
    const SongTiming timing = FollowedTiming(song);
    Stream.Start(song, timing, SilenceLimit(song));
    // A place beyond the song's end (the file changed since) is its start.
    if (timing.Frames != 0 && from >= timing.Frames) from = 0;
    if (from != 0) Stream.Seek(from);
    ShowSong(song);
    PlayCurrent(from, paused);
    // The list's current song and its order follow whatever started the song.
    if (PlaylistLed) emit PlaylistSongStarted(CurrentEntry, song);
}

void Player::Stop() {
    Cue = 0;
    StopPlaying();
}

void Player::PlaySongAt(int index) {
    if (index < 0 || index >= List.SongCount) return;
    Cue = 0;
    List.CurrentSong = index;
    Play();
}

// A song from the playlist moves in the playlist's order only (in order, the
// file's songs and then the next file's; shuffled, across all songs of all
// files, and back through the songs heard), never to a song number the order
// did not choose.
void Player::Previous() {
    if (PlaylistLed && Playlist) {
        Playlist->Previous();
        return;
    }
    if (List.CurrentSong == 0) return;
    Cue = 0;
    --List.CurrentSong;
    Play();
}

void Player::Next() {
    if (PlaylistLed && Playlist) {
        Playlist->Next();
        return;
    }
    if (List.CurrentSong == List.SongCount - 1) return;
    Cue = 0;
    ++List.CurrentSong;
    Play();
}

QString Player::PlayFromPlaylist(const PlaylistStep& step) {
    return OpenFromPlaylist(step, false, 0, false);
}

QString Player::CueFromPlaylist(const PlaylistStep& step, uint64_t frame, bool paused) {
    return OpenFromPlaylist(step, true, frame, paused);
}

QString Player::OpenFromPlaylist(const PlaylistStep& step, bool cue, uint64_t frame, bool paused) {
    const std::string name = LocalFileName(step.File);
    // Read first in a session of its own: a file that cannot be played
    // stops nothing.
    QString reason;
    try {
        SongSession check;
        std::string refusal;
        if (!check.Open(name, SongKindByExtension(name),
                        [&refusal](const std::string& t) { refusal = t; }))
            reason = refusal.empty() ? QStringLiteral("Not an .ay or .aym file")
                                     : QString::fromStdString(refusal);
        else if (step.Song < 0 || step.Song >= check.List.SongCount)
            reason = QStringLiteral("No song %1 in the file").arg(step.Song + 1);
    } catch (const SongIOError& e) {
        reason = QString::fromLocal8Bit(e.what());
    }
    if (!reason.isEmpty()) return reason;
    try {
        StopPlaying();
        if (!OpenInSession(step.File, nullptr))
            return QStringLiteral("The file changed while it was opened");
        PlaylistLed = true;
        CurrentEntry = step.Entry;
        List.CurrentSong = step.Song;
        Cue = 0;
        ShowFile(step.File);
        if (!cue) {
            PlaySong();
        } else {
            if (paused) PlaySong(frame, true);
            // In place, silent, when not paused (or the device would not
            // open): Play starts it there.
            if (!Playing) {
                const uint64_t frames = FollowedTiming(step.Song).Frames;
                Cue = frames == 0 || frame < frames ? frame : 0;
                ShowSong(step.Song);
                emit PlaylistSongStarted(step.Entry, step.Song);
            }
        }
    } catch (const SongIOError& e) {
        return QString::fromLocal8Bit(e.what());
    }
    return {};
}

// ---- Seeking ---------------------------------------------------------------------------

void Player::Seek(uint64_t frame) { Requeue(frame); }

void Player::Requeue(std::optional<uint64_t> to) {
    if (!Playing || !WaveOut) return;
    ReportingIOErrors([&] {
        const bool paused = Paused;
        const auto dropQueued = [this] {
            // The buffers queued go unheard: drop them and their notices.
            if (WaveResult r = WaveOut->Reset(); r != WaveNoError)
                ReportWaveError(r, "WaveOutReset");
            QCoreApplication::removePostedEvents(this, WaveDoneEventType);
        };
        uint64_t frame = 0;
        if (to) {
            frame = *to;
        } else {
            // The same place, sounding anew: what the server holds fades out
            // where it is about to play, and the song goes on from the frame
            // after the fade.
            dropQueued();
            const int64_t heardTo = static_cast<int64_t>(WaveOut->PlayedFrames()) - Run.HeardFrom;
            frame = heardTo > 0 ? static_cast<uint64_t>(heardTo) : 0;
        }
        const int heard = List.CurrentSong;
        if (Run.StartsIn != nullptr) {
            // The next song had begun to render in a buffer not yet heard:
            // back to the one heard, from its own file when the playlist had
            // opened the next one.
            if (Run.NextFromList) {
                if (!OpenInSession(Shown.FileName, nullptr)) {
                    // Gone or changed since it was read: nothing to seek in.
                    StopPlaying();
                    return;
                }
                List.CurrentSong = heard;
            }
            Stream.Start(heard, FollowedTiming(heard), SilenceLimit(heard));
            Run.StartsIn = nullptr;
            Run.NextFromList = false;
        }
        const SongTiming timing = FollowedTiming(heard);
        if (timing.Frames != 0 && frame >= timing.Frames) {
            // Past the end: the song ends there, as it would have.
            if (CanGoNext())
                Next();
            else
                StopPlaying();
            return;
        }
        if (to) dropQueued();
        const uint64_t played = WaveOut->PlayedFrames();
        Run.Queued = played;
        Run.HeardFrom = static_cast<int64_t>(played) - static_cast<int64_t>(frame);
        Run.EndsWith = nullptr;
        Run.Over = false;
        Stream.Seek(frame);
        // Paused again before the new place is queued, so that none of it is
        // heard until the pause ends.
        if (paused) {
            if (WaveResult r = WaveOut->Pause(); r != WaveNoError)
                ReportWaveError(r, "WaveOutPause");
        }
        for (WaveHeader* h : {&Header1, &Header2}) {
            FillNext(h == &Header1 ? Buffer1.get() : Buffer2.get(), *h);
            if (WaveResult r = WaveOut->Write(*h); r != WaveNoError) {
                ReportWaveError(r, h == &Header1 ? "WaveOutWriteN1A" : "WaveOutWriteN2A");
                return;
            }
        }
        if (to) emit Seeked(frame);
    });
}

// ---- Voices ----------------------------------------------------------------------------

void Player::ApplyMix(MixChange what) {
    ChipState& chip = Session.Engine->Chip;
    const PlayerSettings& s = OwnSettings;
    const bool beeperMuted = (s.MutedVoices() >> VoiceBeeper) & 1;
    switch (what) {
    case MixChange::ChipMode:
    case MixChange::Volume:
        SetChipAndChannels(chip, s.ChipModeInForce(), s.Volume(), VolumeSteps);
        break;
    case MixChange::BeeperLevel:
        chip.Mix.BeeperSetting = s.BeeperSetting();
        if (!beeperMuted)
            chip.Mix.BeeperAmplitude =
                ComputeBeeperAmplitude(s.BeeperSetting(), s.Volume(), VolumeSteps);
        break;
    case MixChange::DefaultBeeper:
        chip.Mix.BeeperSetting = DefaultBeeperSetting;
        if (!beeperMuted) chip.Mix.BeeperAmplitude = -DefaultBeeperSetting;
        break;
    case MixChange::MutedVoices: {
        chip.Mix.MutedVoices = static_cast<uint8_t>(s.MutedVoices());
        // The default beeper's amplitude outlives a rebuild of the tables, as
        // it would have without the mute.
        const int32_t amplitude = chip.Mix.BeeperAmplitude;
        SetChipAndChannels(chip, s.ChipModeInForce(), s.Volume(), VolumeSteps);
        if (!beeperMuted && amplitude != 0) chip.Mix.BeeperAmplitude = amplitude;
        break;
    }
    }
}

void Player::ToggleMute(int voice) {
    if (voice < 0 || voice >= VoiceCount) return;
    OwnSettings.SetMutedVoices(MutedVoices() ^ (1u << voice));
}

void Player::Solo(int voice) {
    if (voice < 0 || voice >= VoiceCount) return;
    const unsigned alone = AllVoices & ~(1u << voice);
    OwnSettings.SetMutedVoices(MutedVoices() == alone ? 0 : alone);
}
