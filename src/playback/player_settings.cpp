// The player's settings (see player_settings.h).
#include "playback/player_settings.h"

#include <cerrno>
#include <sys/resource.h>

int SetProcessNice(int niceValue) {
    return setpriority(PRIO_PROCESS, 0, niceValue) == 0 ? 0 : errno;
}

int ChipModeIndex(const QString& name) { return ChipModeByName(name.toStdString()); }

QString BuildStartupOptions(int chipMode, int32_t beeperSetting, int32_t priorityClass,
                            const QString& skinFile) {
    QString s;
    if (chipMode != DefaultChipMode && chipMode >= 0 && chipMode < ChipModeCount)
        s = QStringLiteral("/h") + QLatin1String(ChipModeNames[chipMode]);
    if (beeperSetting != DefaultBeeperSetting) s += QStringLiteral(" /u%1").arg(beeperSetting);
    if (priorityClass != NormalPriorityClass) s += QStringLiteral(" /rh");
    if (!skinFile.isEmpty()) s += QStringLiteral(" /p\"") + skinFile + QLatin1Char('"');
    return s;
}

PlayerSettings::PlayerSettings(SoundEngine& engine, QObject* parent)
    : QObject(parent), Engine(engine) {
    Engine.Chip.BeeperAmplitude = -DefaultBeeperSetting;
    Engine.Chip.BeeperSetting = DefaultBeeperSetting;
    SetChipAndChannels(Engine.Chip, ChipMode, Volume);
}

void PlayerSettings::SetChipMode(int mode) {
    ChipMode = mode;
    SetChipAndChannels(Engine.Chip, mode, Volume);
    emit ChipModeChanged(mode);
}

void PlayerSettings::SetBeeperSetting(int32_t level) {
    Engine.Chip.BeeperSetting = level;
    Engine.Chip.BeeperAmplitude = ComputeBeeperAmplitude(level, Volume);
    emit BeeperSettingChanged(level);
}

void PlayerSettings::SetDefaultBeeper() {
    Engine.Chip.BeeperSetting = DefaultBeeperSetting;
    Engine.Chip.BeeperAmplitude = -DefaultBeeperSetting;
    emit BeeperSettingChanged(DefaultBeeperSetting);
}

void PlayerSettings::SetVolume(int32_t volume) {
    Volume = volume;
    SetChipAndChannels(Engine.Chip, ChipMode, Volume);
    if (volume == AppliedVolume) return;
    AppliedVolume = volume;
    emit VolumeChanged(volume);
}

void PlayerSettings::SetPriorityClass(int32_t priorityClass) {
    PriorityClass = priorityClass;
    const int error = NiceSetter ? NiceSetter(NiceValueOf(priorityClass)) : 0;
    if (error == 0) PriorityInForce = priorityClass;
    emit PriorityInForceChanged(PriorityInForce);
    // Raising the priority needs a privilege an ordinary user may lack.
    if (error == EACCES || error == EPERM) emit PriorityRefused(priorityClass, error);
}

void PlayerSettings::SetSkinFile(const QString& path) {
    SkinFile = path;
    emit SkinFileChanged(path);
}
