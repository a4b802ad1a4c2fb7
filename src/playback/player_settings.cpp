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
    if (chipMode != DefaultFileChipMode && chipMode >= 0 && chipMode < AllChipModeCount)
        s = QStringLiteral("/h") + QLatin1String(ChipModeName(chipMode));
    if (beeperSetting != DefaultBeeperSetting) s += QStringLiteral(" /u%1").arg(beeperSetting);
    if (priority != Priority::Normal) s += QStringLiteral(" /rh");
    if (!skinFile.isEmpty()) s += QStringLiteral(" /p\"") + skinFile + QLatin1Char('"');
    return s;
}

PlayerSettings::PlayerSettings(QObject* parent) : QObject(parent) {}

void PlayerSettings::AnnounceModeInForce() {
    if (ChipModeInForce() == AnnouncedMode) return;
    AnnouncedMode = ChipModeInForce();
    emit ChipModeInForceChanged(AnnouncedMode);
}

void PlayerSettings::SetChipMode(int mode) {
    Mode = mode;
    emit MixChanged(MixChange::ChipMode);
    emit ChipModeChanged(mode);
    AnnounceModeInForce();
}

void PlayerSettings::SetFileChip(bool ym) {
    const int before = ChipModeInForce();
    FileChipYM = ym;
    // Only a mode that follows the file has anything to change.
    if (ChipModeInForce() == before) return;
    emit MixChanged(MixChange::ChipMode);
    AnnounceModeInForce();
}

void PlayerSettings::SetBeeperSetting(int32_t level) {
    Beeper = level;
    emit MixChanged(MixChange::BeeperLevel);
    emit BeeperSettingChanged(level);
}

void PlayerSettings::SetDefaultBeeper() {
    Beeper = DefaultBeeperSetting;
    emit MixChanged(MixChange::DefaultBeeper);
    emit BeeperSettingChanged(DefaultBeeperSetting);
}

void PlayerSettings::SetVolume(int32_t volume) {
    Level = volume;
    emit MixChanged(MixChange::Volume);
    if (volume == AppliedVolume) return;
    AppliedVolume = volume;
    emit VolumeChanged(volume);
}

void PlayerSettings::SetMutedVoices(unsigned voices) {
    voices &= AllVoices;
    if (voices == Muted) return;
    Muted = voices;
    emit MixChanged(MixChange::MutedVoices);
    emit MutedVoicesChanged(voices);
}

void PlayerSettings::SetPriorityClass(Priority priority) {
    Chosen = priority;
    const int error = Nice ? Nice(NiceValueOf(priority)) : 0;
    if (error == 0) InForce = priority;
    emit PriorityInForceChanged(InForce);
    // Raising the priority needs a privilege an ordinary user may lack.
    if (error == EACCES || error == EPERM) emit PriorityRefused(priority, error);
}

void PlayerSettings::SetSkinFile(const QString& path) {
    SkinPath = path;
    emit SkinFileChanged(path);
}

namespace {

constexpr const char* FollowKey = "FollowSongLengths";
constexpr const char* RecentKey = "RecentFiles";

} // namespace

void PlayerSettings::LoadStored() {
    const SettingsStore store;
    if (const auto follow = store.ReadPlayerValue(QString::fromLatin1(FollowKey)))
        Follow = follow->toString() == QLatin1String("true");
    if (const auto recent = store.ReadPlayerValue(QString::fromLatin1(RecentKey))) {
        Recent = recent->toStringList();
        Recent.removeAll(QString());
        while (Recent.size() > RecentFileCount) Recent.removeLast();
    }
    Stored = StoreFollow = true;
    emit FollowSongLengthsChanged(Follow);
    emit RecentFilesChanged(Recent);
}

void PlayerSettings::SetFollowSongLengths(bool follow) {
    Follow = follow;
    if (StoreFollow)
        SettingsStore(StoreError)
            .WritePlayerValue(QString::fromLatin1(FollowKey),
                              follow ? QStringLiteral("true") : QStringLiteral("false"));
    emit FollowSongLengthsChanged(follow);
}

void PlayerSettings::StopStoring() {
    Stored = false;
    Recent.clear();
    emit RecentFilesChanged(Recent);
}

void PlayerSettings::NoteRecentFile(const QString& given) {
    // One entry per file, however it was named ("a/./b.ay", "a/../a/b.ay", a link).
    const QFileInfo file(given);
    QString path = file.canonicalFilePath();
    if (path.isEmpty()) path = QDir::cleanPath(file.absoluteFilePath());
    Recent.removeAll(path);
    Recent.prepend(path);
    while (Recent.size() > RecentFileCount) Recent.removeLast();
    StoreRecentFiles();
}

void PlayerSettings::ForgetRecentFile(const QString& path) {
    if (Recent.removeAll(path) == 0) return;
    StoreRecentFiles();
}

void PlayerSettings::StoreRecentFiles() {
    if (Stored) SettingsStore().WritePlayerValue(QString::fromLatin1(RecentKey), Recent);
    emit RecentFilesChanged(Recent);
}

std::optional<QVariant> PlayerSettings::StoredValue(const QString& key) const {
    return SettingsStore().ReadPlayerValue(key);
}

void PlayerSettings::StoreValue(const QString& key, const QVariant& value) {
    if (Stored) SettingsStore().WritePlayerValue(key, value);
}
