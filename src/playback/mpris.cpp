// The media-player interface (see mpris.h): two D-Bus adaptors on one object,
// and the announcing of changed properties.
#include "playback/mpris.h"
#include "platform/file_names.h"

#include "playback/playlist_playback.h"

#include "playback/player.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace {

const QString ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString ServiceName = QStringLiteral("org.mpris.MediaPlayer2.zirrafon");
const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// The track id the interface reserves for "no track".
const QString NoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

// The track id of the song playing. A playlist row's songs have ids of their
// own, so each row is its own track.
QString TrackId(const NowPlayingInfo& now) {
    return now.Entry
               ? QStringLiteral("/org/zirrafon/track/row%1/%2").arg(now.Entry).arg(now.Song + 1)
               : QStringLiteral("/org/zirrafon/track/%1").arg(now.Song + 1);
}

// Frames of 1/44,100 s and the interface's microseconds.
qlonglong Microseconds(uint64_t frames) {
    return static_cast<qlonglong>(frames * 1000000 / WaveSampleRate);
}
uint64_t Frames(qlonglong microseconds) {
    return static_cast<uint64_t>(microseconds) * WaveSampleRate / 1000000;
}

// org.mpris.MediaPlayer2: who the player is, and its window.
class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

  public:
    explicit RootAdaptor(MediaPlayerInterface* owner)
        : QDBusAbstractAdaptor(owner), Owner(*owner) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Zirrafon"); }
    QString DesktopEntry() const { return QStringLiteral("zirrafon"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList SupportedMimeTypes() const {
        // Every kind of file the player plays (assets/zirrafon-mime.xml).
        return {QStringLiteral("audio/x-zxay"), QStringLiteral("audio/x-aym"),
                QStringLiteral("audio/x-ym"),   QStringLiteral("audio/x-vtx"),
                QStringLiteral("audio/x-psg"),  QStringLiteral("audio/x-pt3"),
                QStringLiteral("audio/x-pt2")};
    }

  public slots:
    void Quit() { Owner.Quit(); }
    void Raise() { Owner.Raise(); }

  private:
    MediaPlayerInterface& Owner;
};

// org.mpris.MediaPlayer2.Player: the transport buttons, the song, the volume.
class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPlay)
    Q_PROPERTY(bool CanSeek READ CanSeek)
    Q_PROPERTY(bool CanControl READ CanControl)
    Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
    Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)

  public:
    explicit PlayerAdaptor(MediaPlayerInterface* owner)
        : QDBusAbstractAdaptor(owner), Owner(*owner) {}

    QString PlaybackStatus() const { return Owner.PlaybackStatus(); }
    double Rate() const { return 1.0; }
    void SetRate(double) {} // one speed only
    QVariantMap Metadata() const { return Owner.Metadata(); }
    double Volume() const { return Owner.Volume(); }
    void SetVolume(double volume) { Owner.SetVolume(volume); }
    qlonglong Position() const { return Owner.Position(); }
    bool CanGoNext() const { return Owner.CanGoNext(); }
    bool CanGoPrevious() const { return Owner.CanGoPrevious(); }
    bool CanPlay() const { return Owner.CanPlay(); }
    bool CanSeek() const { return Owner.CanSeek(); }
    bool CanControl() const { return true; }
    bool Shuffle() const { return Owner.Shuffle(); }
    void SetShuffle(bool shuffle) { Owner.SetShuffle(shuffle); }
    QString LoopStatus() const { return Owner.LoopStatus(); }
    void SetLoopStatus(const QString& status) { Owner.SetLoopStatus(status); }

  public slots:
    void Play() { Owner.Play(); }
    void Pause() { Owner.Pause(); }
    void PlayPause() { Owner.PlayPause(); }
    void Stop() { Owner.Stop(); }
    void Next() { Owner.Next(); }
    void Previous() { Owner.Previous(); }
    void Seek(qlonglong offset) { Owner.Seek(offset); }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        Owner.SetPosition(track.path(), position);
    }
    // The call itself comes last (Qt passes it; it is not part of the
    // interface), so that a refused URI can be answered with an error.
    void OpenUri(const QString& uri, const QDBusMessage& call) {
        if (Owner.OpenUri(uri)) return;
        call.setDelayedReply(true);
        QDBusConnection::sessionBus().send(call.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("Only file: URIs can be opened: %1").arg(uri)));
    }

  signals:
    void Seeked(qlonglong position);

  private:
    MediaPlayerInterface& Owner;
};

} // namespace

MediaPlayerInterface::MediaPlayerInterface(Player& player, QObject* parent)
    : QObject(parent), Playback(player) {
    new RootAdaptor(this);
    auto* adaptor = new PlayerAdaptor(this);
    connect(this, &MediaPlayerInterface::Seeked, adaptor, &PlayerAdaptor::Seeked);
    connect(&Playback, &Player::Seeked, this,
            [this](uint64_t frame) { emit Seeked(Microseconds(frame)); });
    connect(&Playback, &Player::StateChanged, this, [this] { PropertiesMayHaveChanged(); });
    connect(&Playback, &Player::NowPlayingChanged, this, [this] { PropertiesMayHaveChanged(); });
    connect(&Playback.Settings(), &PlayerSettings::VolumeChanged, this,
            [this] { PropertiesMayHaveChanged(); });
}

MediaPlayerInterface::~MediaPlayerInterface() {
    if (RegisteredName.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(ObjectPath);
    bus.unregisterService(RegisteredName);
}

bool MediaPlayerInterface::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // The object first, so that whoever sees the name appear finds it.
    if (!bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors)) return false;
    for (const QString& name :
         {ServiceName,
          ServiceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())}) {
        if (bus.registerService(name)) {
            RegisteredName = name;
            break;
        }
    }
    if (RegisteredName.isEmpty()) {
        bus.unregisterObject(ObjectPath);
        return false;
    }
    Announced.clear();
    Announce();
    return true;
}

// ---- Properties ----------------------------------------------------------------------

QString MediaPlayerInterface::PlaybackStatus() const {
    switch (Playback.State()) {
    case PlayState::Playing: return QStringLiteral("Playing");
    case PlayState::Paused: return QStringLiteral("Paused");
    case PlayState::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MediaPlayerInterface::Metadata() const {
    const NowPlayingInfo now = Playback.NowPlaying();
    const SongEntry* song = now.Current();
    if (song == nullptr)
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(NoTrack))}};
    QVariantMap m;
    m[QStringLiteral("mpris:trackid")] = QVariant::fromValue(QDBusObjectPath(TrackId(now)));
    m[QStringLiteral("xesam:title")] = song->Title;
    m[QStringLiteral("xesam:artist")] = QStringList{now.Author};
    m[QStringLiteral("xesam:album")] = now.Misc;
    m[QStringLiteral("xesam:trackNumber")] = now.Song + 1;
    if (!now.FileName.isEmpty()) m[QStringLiteral("xesam:url")] = UrlOfPath(now.FileName);
    if (const uint64_t frames = song->Length.Frames; frames > 0)
        m[QStringLiteral("mpris:length")] =
            static_cast<qlonglong>(frames * 1000000 / WaveSampleRate);
    return m;
}

double MediaPlayerInterface::Volume() const {
    return static_cast<double>(Playback.Settings().Volume()) / VolumeSteps;
}

void MediaPlayerInterface::SetVolume(double volume) {
    if (!(volume >= 0)) volume = 0; // NaN too
    const auto steps = static_cast<int32_t>(std::lround(std::min(volume, 1.0) * VolumeSteps));
    Playback.Settings().SetVolume(steps);
}

qlonglong MediaPlayerInterface::Position() const { return Microseconds(Playback.Elapsed()); }

bool MediaPlayerInterface::CanSeek() const { return Playback.State() != PlayState::Stopped; }

bool MediaPlayerInterface::CanGoNext() const { return Playback.CanGoNext(); }

bool MediaPlayerInterface::CanGoPrevious() const { return Playback.CanGoPrevious(); }

bool MediaPlayerInterface::CanPlay() const { return Playback.NowPlaying().FileOpen; }

void MediaPlayerInterface::SetPlaylist(PlaylistPlayback* lists) {
    Lists = lists;
    if (Lists)
        connect(Lists, &PlaylistPlayback::OrderChanged, this,
                [this] { PropertiesMayHaveChanged(); });
    connect(&Playback, &Player::PlaylistSongStarted, this, [this] { PropertiesMayHaveChanged(); });
}

bool MediaPlayerInterface::Shuffle() const { return Lists && Lists->Shuffle(); }

void MediaPlayerInterface::SetShuffle(bool shuffle) {
    if (Lists) Lists->SetShuffle(shuffle);
}

QString MediaPlayerInterface::LoopStatus() const {
    switch (Lists ? Lists->Repeat() : RepeatMode::Off) {
    case RepeatMode::One: return QStringLiteral("Track");
    case RepeatMode::All: return QStringLiteral("Playlist");
    case RepeatMode::Off: break;
    }
    return QStringLiteral("None");
}

void MediaPlayerInterface::SetLoopStatus(const QString& status) {
    if (!Lists) return;
    if (status == QLatin1String("Track"))
        Lists->SetRepeat(RepeatMode::One);
    else if (status == QLatin1String("Playlist"))
        Lists->SetRepeat(RepeatMode::All);
    else if (status == QLatin1String("None"))
        Lists->SetRepeat(RepeatMode::Off);
}

// ---- Methods ----------------------------------------------------------------------------

template <typename Action> void MediaPlayerInterface::Later(Action action) {
    QTimer::singleShot(0, this, [this, action] {
        action();
        // A refused file changes what is shown without a signal of its own.
        PropertiesMayHaveChanged();
    });
}

void MediaPlayerInterface::Play() {
    Later([this] {
        if (Playback.State() == PlayState::Stopped)
            Playback.Play();
        else if (Playback.State() == PlayState::Paused)
            Playback.Pause();
    });
}

void MediaPlayerInterface::Pause() {
    Later([this] {
        if (Playback.State() == PlayState::Playing) Playback.Pause();
    });
}

void MediaPlayerInterface::PlayPause() {
    Later([this] {
        if (Playback.State() == PlayState::Stopped)
            Playback.Play();
        else
            Playback.Pause();
    });
}

void MediaPlayerInterface::Stop() {
    Later([this] { Playback.Stop(); });
}

void MediaPlayerInterface::Next() {
    Later([this] {
        if (CanGoNext()) Playback.Next();
    });
}

void MediaPlayerInterface::Previous() {
    Later([this] {
        if (CanGoPrevious()) Playback.Previous();
    });
}

void MediaPlayerInterface::Seek(qlonglong offset) {
    Later([this, offset] {
        if (!CanSeek()) return;
        const qlonglong to = std::max<qlonglong>(0, Position() + offset);
        Playback.Seek(Frames(to));
    });
}

void MediaPlayerInterface::SetPosition(const QString& track, qlonglong position) {
    Later([this, track, position] {
        if (!CanSeek() || track != TrackId(Playback.NowPlaying()) || position < 0) return;
        const SongEntry* song = Playback.NowPlaying().Current();
        if (song && song->Length.Frames != 0 && Frames(position) > song->Length.Frames) return;
        Playback.Seek(Frames(position));
    });
}

bool MediaPlayerInterface::OpenUri(const QString& uri) {
    const QUrl url(uri);
    if (!url.isLocalFile()) return false;
    Later([this, fileName = PathOfUrl(url)] { Playback.OpenAndPlayIfReadable(fileName); });
    return true;
}

void MediaPlayerInterface::Quit() {
    Later([this] { emit QuitAsked(); });
}

void MediaPlayerInterface::Raise() {
    Later([this] { emit RaiseAsked(); });
}

// ---- PropertiesChanged ------------------------------------------------------------------

void MediaPlayerInterface::PropertiesMayHaveChanged() {
    if (RegisteredName.isEmpty() || AnnouncePending) return;
    AnnouncePending = true;
    QTimer::singleShot(0, this, [this] {
        AnnouncePending = false;
        Announce();
    });
}

void MediaPlayerInterface::Announce() {
    const QVariantMap now = {
        {QStringLiteral("PlaybackStatus"), PlaybackStatus()},
        {QStringLiteral("Metadata"), Metadata()},
        {QStringLiteral("Volume"), Volume()},
        {QStringLiteral("CanGoNext"), CanGoNext()},
        {QStringLiteral("CanGoPrevious"), CanGoPrevious()},
        {QStringLiteral("CanPlay"), CanPlay()},
        {QStringLiteral("CanPause"), CanPlay()},
        {QStringLiteral("CanSeek"), CanSeek()},
        {QStringLiteral("Shuffle"), Shuffle()},
        {QStringLiteral("LoopStatus"), LoopStatus()},
    };
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (Announced.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    const bool first = Announced.isEmpty();
    Announced = now;
    if (first || changed.isEmpty()) return; // nothing was announced before registering
    QDBusMessage signal =
        QDBusMessage::createSignal(ObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "mpris.moc"
