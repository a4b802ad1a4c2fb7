// The player's settings (see player_settings.h).
#include "playback/player_settings.h"

#include "platform/settings.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/resource.h>

int SetProcessNice(int niceValue) {
    return setpriority(PRIO_PROCESS, 0, niceValue) == 0 ? 0 : errno;
}

QString BuildStartupOptions(int chipMode, int32_t beeperSetting, Priority priority,
                            const QString& skinFile) {
    QString s;
    if (chipMode != DefaultChipMode && chipMode >= 0 && chipMode < ChipModeCount)
        s = QStringLiteral("/h") + QLatin1String(ChipModeNames[chipMode]);
    if (beeperSetting != DefaultBeeperSetting) s += QStringLiteral(" /u%1").arg(beeperSetting);
    if (priority != Priority::Normal) s += QStringLiteral(" /rh");
    if (!skinFile.isEmpty()) s += QStringLiteral(" /p\"") + skinFile + QLatin1Char('"');
    return s;
}

PlayerSettings::PlayerSettings(SoundEngine& engine, QObject* parent)
    : QObject(parent), Engine(engine) {
    Engine.Chip.Mix.BeeperAmplitude = -DefaultBeeperSetting;
    Engine.Chip.Mix.BeeperSetting = DefaultBeeperSetting;
    SetChipAndChannels(Engine.Chip, ChipMode, Volume, VolumeSteps);
}

void PlayerSettings::SetChipMode(int mode) {
    ChipMode = mode;
    SetChipAndChannels(Engine.Chip, mode, Volume, VolumeSteps);
    emit ChipModeChanged(mode);
}

void PlayerSettings::SetBeeperSetting(int32_t level) {
    Engine.Chip.Mix.BeeperSetting = level;
    if (!BeeperMuted())
        Engine.Chip.Mix.BeeperAmplitude = ComputeBeeperAmplitude(level, Volume, VolumeSteps);
    emit BeeperSettingChanged(level);
}

void PlayerSettings::SetDefaultBeeper() {
    Engine.Chip.Mix.BeeperSetting = DefaultBeeperSetting;
    if (!BeeperMuted()) Engine.Chip.Mix.BeeperAmplitude = -DefaultBeeperSetting;
    emit BeeperSettingChanged(DefaultBeeperSetting);
}

void PlayerSettings::SetVolume(int32_t volume) {
    Volume = volume;
    SetChipAndChannels(Engine.Chip, ChipMode, Volume, VolumeSteps);
    if (volume == AppliedVolume) return;
    AppliedVolume = volume;
    emit VolumeChanged(volume);
}

void PlayerSettings::SetMutedVoices(unsigned voices) {
    voices &= AllVoices;
    if (voices == MutedVoices()) return;
    Engine.Chip.Mix.MutedVoices = static_cast<uint8_t>(voices);
    // The default beeper's amplitude outlives a rebuild of the tables, as it
    // would have without the mute.
    const int32_t amplitude = Engine.Chip.Mix.BeeperAmplitude;
    SetChipAndChannels(Engine.Chip, ChipMode, Volume, VolumeSteps);
    if (!BeeperMuted() && amplitude != 0) Engine.Chip.Mix.BeeperAmplitude = amplitude;
    emit MutedVoicesChanged(voices);
}

void PlayerSettings::SetPriorityClass(Priority priority) {
    PriorityClass = priority;
    const int error = NiceSetter ? NiceSetter(NiceValueOf(priority)) : 0;
    if (error == 0) PriorityInForce = priority;
    emit PriorityInForceChanged(PriorityInForce);
    // Raising the priority needs a privilege an ordinary user may lack.
    if (error == EACCES || error == EPERM) emit PriorityRefused(priority, error);
}

void PlayerSettings::SetSkinFile(const QString& path) {
    SkinFile = path;
    emit SkinFileChanged(path);
}

namespace {

constexpr const char* FollowKey = "FollowSongLengths";
constexpr const char* RecentKey = "RecentFiles";

} // namespace

void PlayerSettings::LoadStored() {
    const SettingsStore store;
    if (const auto follow = store.ReadPlayerValue(QString::fromLatin1(FollowKey)))
        FollowSongLengths = follow->toString() == QLatin1String("true");
    if (const auto recent = store.ReadPlayerValue(QString::fromLatin1(RecentKey))) {
        RecentFiles = recent->toStringList();
        RecentFiles.removeAll(QString());
        while (RecentFiles.size() > RecentFileCount) RecentFiles.removeLast();
    }
    Stored = StoreFollow = true;
    emit FollowSongLengthsChanged(FollowSongLengths);
    emit RecentFilesChanged(RecentFiles);
}

void PlayerSettings::SetFollowSongLengths(bool follow) {
    FollowSongLengths = follow;
    if (StoreFollow)
        SettingsStore(StoreError)
            .WritePlayerValue(QString::fromLatin1(FollowKey),
                              follow ? QStringLiteral("true") : QStringLiteral("false"));
    emit FollowSongLengthsChanged(follow);
}

void PlayerSettings::StopStoring() {
    Stored = false;
    RecentFiles.clear();
    emit RecentFilesChanged(RecentFiles);
}

void PlayerSettings::NoteRecentFile(const QString& given) {
    // One entry per file, however it was named ("a/./b.ay", "a/../a/b.ay", a link).
    const QFileInfo file(given);
    QString path = file.canonicalFilePath();
    if (path.isEmpty()) path = QDir::cleanPath(file.absoluteFilePath());
    RecentFiles.removeAll(path);
    RecentFiles.prepend(path);
    while (RecentFiles.size() > RecentFileCount) RecentFiles.removeLast();
    StoreRecentFiles();
}

void PlayerSettings::ForgetRecentFile(const QString& path) {
    if (RecentFiles.removeAll(path) == 0) return;
    StoreRecentFiles();
}

void PlayerSettings::StoreRecentFiles() {
    if (Stored) SettingsStore().WritePlayerValue(QString::fromLatin1(RecentKey), RecentFiles);
    emit RecentFilesChanged(RecentFiles);
}

std::optional<QVariant> PlayerSettings::StoredValue(const QString& key) const {
    return SettingsStore().ReadPlayerValue(key);
}

void PlayerSettings::StoreValue(const QString& key, const QVariant& value) {
    if (Stored) SettingsStore().WritePlayerValue(key, value);
}
